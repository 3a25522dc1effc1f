#include "particles.h"

#include <ormix/runtime/random.h>

void AddScoreLabel(TParticleList& list, int x, int y, int points, int colour) {
  icle p;
  p.x = x;
  p.y = y;
  p.t = 1;
  p.c = points;
  p.c2 = colour;
  list.push_back(p);
}

void SpawnBurst(TParticleList& list, int x, int y, int colour) {
  for (int i = 0; i < 8; ++i) {
    icle p;
    p.x = x + RandomInt(-24, 24);
    p.y = y + RandomInt(8, 24);
    p.t = 0;
    p.c2 = colour;
    list.push_back(p);
  }
}

bool StepParticle(icle& p) {
  p.alpha += 0.02f;
  if (p.alpha > 1) p.alpha = 1;
  if (p.t == 1) {
    p.y -= 4;
  } else if (p.t == 0) {
    p.y += RandomInt(8, 12);
    p.x += RandomInt(-1, 1);
    p.ang += RandomInt(8, 12);
  }
  return !(p.y < 0 || p.y > 600);
}
