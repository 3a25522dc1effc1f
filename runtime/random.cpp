#include <ormix/runtime/random.h>

namespace {
int32_t gState = 4660;

int32_t Next() {
  const int32_t q = 44488, r = 3399;
  int32_t hi = gState / q, lo = gState % q;
  int32_t s = 48271 * lo - r * hi;
  if (s < 0) s += 2147483647;
  gState = s;
  return s;
}
}  // namespace

void SeedRandom(int32_t seed) {
  int32_t s = seed & 0x7FFFFFFF;
  gState = (s == 0 || s == 0x7FFFFFFF) ? 4660 : s;
}

int32_t RandomSeed() { return gState; }

double RandomFraction() {
  int32_t a = Next();
  int32_t b = Next();
  return ((a & 0x1FFFFFFC) + (b & 0x1FFFFFF8) / 134217728.0) / 536870912.0;
}

int32_t RandomInt(int32_t low, int32_t high) {
  int64_t d = static_cast<int64_t>(high) - low;
  if (d > 0) return static_cast<int32_t>(low + static_cast<int64_t>(RandomFraction() * (d + 1)));
  return static_cast<int32_t>(high + static_cast<int64_t>(RandomFraction() * (1 - d)));
}
