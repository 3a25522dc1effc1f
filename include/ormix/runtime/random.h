#pragma once
// Park-Miller minimal-standard generator (multiplier 48271, modulus 2^31-1), Schrage's
// method. One process-wide state, 4660 at start.
#include <cstdint>

void SeedRandom(int32_t seed);
int32_t RandomSeed();  // the current state
double RandomFraction();
int32_t RandomInt(int32_t low, int32_t high);
