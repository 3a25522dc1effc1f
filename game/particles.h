#pragma once
// Short-lived effects of play: rising score labels and falling tile fragments, kept in
// screen coordinates in creation order.
#include <cstddef>
#include <vector>

// One particle: a rising score label (t = 1) or a falling tile fragment (t = 0). The
// short names (icle, t, c, c2) are the game's own and stay: the comments say what they hold.
struct icle {
  int x = 0;
  int y = 0;
  int t = 0;     // 0 fragment, 1 score label
  int c = 0;     // points shown by a label
  int c2 = 0;    // tile colour 1-8
  int ang = 0;   // rotation in degrees (fragments spin)
  float alpha = 0;  // fade: 0 fully visible, 1 invisible
};

using TParticleList = std::vector<icle>;

// Appends a score label showing `points` at (x, y).
void AddScoreLabel(TParticleList& list, int x, int y, int points, int colour);
// Appends eight fragments of `colour` scattered around (x, y).
void SpawnBurst(TParticleList& list, int x, int y, int colour);
// Moves and fades one particle; true while it stays on screen vertically.
bool StepParticle(icle& p);

// The per-frame walk: every particle is stepped, then drawn with draw(particle), then
// removed when it has left the screen vertically. The particle drawn is at its new place
// with the rotation it had before the step (the rotation is set before the angle
// advances).
template <typename Draw> void UpdateParticles(TParticleList& list, Draw&& draw) {
  std::size_t i = 0;
  while (i < list.size()) {
    const int angle = list[i].ang;
    bool keep = StepParticle(list[i]);
    icle drawn = list[i];
    drawn.ang = angle;
    draw(static_cast<const icle&>(drawn));
    if (keep)
      ++i;
    else
      list.erase(list.begin() + static_cast<long>(i));
  }
}
