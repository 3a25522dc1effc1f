#include "game/particles.h"

#include <gtest/gtest.h>

#include <ormix/runtime/random.h>

namespace {

TEST(Particles, LabelRisesForOneHundredAndOneFramesAndFadesOutAtTheFiftyFirst) {
  TParticleList list;
  AddScoreLabel(list, 100, 400, 15, 3);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].t, 1);
  EXPECT_EQ(list[0].c, 15);
  EXPECT_EQ(list[0].c2, 3);
  int draws = 0, lastY = 0;
  for (int update = 1; !list.empty() && update < 1000; ++update) {
    UpdateParticles(list, [&](const icle& p) {
      ++draws;
      lastY = p.y;
      EXPECT_EQ(p.y, 400 - 4 * update);
      if (update == 50) {
        EXPECT_LT(p.alpha, 1.0f);
      } else if (update >= 51) {
        EXPECT_EQ(p.alpha, 1.0f);
      }
    });
  }
  EXPECT_EQ(draws, 101);
  EXPECT_EQ(lastY, -4);
}

TEST(Particles, BurstMakesEightFragmentsAroundThePoint) {
  SeedRandom(21);
  TParticleList list;
  SpawnBurst(list, 300, 200, 6);
  ASSERT_EQ(list.size(), 8u);
  for (const icle& p : list) {
    EXPECT_EQ(p.t, 0);
    EXPECT_EQ(p.c2, 6);
    EXPECT_EQ(p.c, 0);
    EXPECT_EQ(p.ang, 0);
    EXPECT_GE(p.x, 276);
    EXPECT_LE(p.x, 324);
    EXPECT_GE(p.y, 208);
    EXPECT_LE(p.y, 224);
  }
}

TEST(Particles, FragmentsFallSpinAndLeaveBelowTheScreen) {
  SeedRandom(8);
  TParticleList list;
  SpawnBurst(list, 400, 100, 2);
  std::vector<icle> before = list;
  int updates = 0;
  UpdateParticles(list, [](const icle&) {});
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_GE(list[i].y - before[i].y, 8);
    EXPECT_LE(list[i].y - before[i].y, 12);
    EXPECT_LE(std::abs(list[i].x - before[i].x), 1);
    EXPECT_GE(list[i].ang, 8);
    EXPECT_LE(list[i].ang, 12);
  }
  while (!list.empty() && updates < 200) {
    UpdateParticles(list, [](const icle& p) { EXPECT_LE(p.y, 600 + 12); });
    ++updates;
  }
  EXPECT_TRUE(list.empty());
}

// The rotation is set before the angle advances: a fragment is drawn with the angle it
// had before this frame's spin (a new one upright), at the place it has moved to.
TEST(Particles, FragmentsAreDrawnWithTheAngleBeforeTheirSpin) {
  SeedRandom(5);
  TParticleList list;
  SpawnBurst(list, 400, 100, 4);
  for (int update = 0; update < 4; ++update) {
    const std::vector<icle> before = list;
    std::vector<icle> drawn;
    UpdateParticles(list, [&](const icle& p) { drawn.push_back(p); });
    ASSERT_EQ(drawn.size(), before.size());
    for (size_t i = 0; i < drawn.size(); ++i) {
      EXPECT_EQ(drawn[i].ang, before[i].ang) << "update " << update << " fragment " << i;
      EXPECT_EQ(drawn[i].y, list[i].y);
      EXPECT_EQ(drawn[i].x, list[i].x);
      EXPECT_GE(list[i].ang - before[i].ang, 8);
    }
  }
}

TEST(Particles, FragmentsBornBelowTheScreenAreDrawnOnceThenRemoved) {
  SeedRandom(4);
  TParticleList list;
  SpawnBurst(list, 400, 590, 1);  // y 598 ... 614 before their first fall
  int draws = 0;
  UpdateParticles(list, [&](const icle&) { ++draws; });
  EXPECT_EQ(draws, 8);
  EXPECT_TRUE(list.empty());
}

TEST(Particles, RemovingOneDoesNotSkipTheNext) {
  TParticleList list;
  AddScoreLabel(list, 0, 2, 5, 1);    // leaves the top in this update
  AddScoreLabel(list, 0, 300, 10, 1);
  AddScoreLabel(list, 0, 1, 15, 1);   // leaves too
  AddScoreLabel(list, 0, 200, 20, 1);
  std::vector<int> drawn;
  UpdateParticles(list, [&](const icle& p) { drawn.push_back(p.c); });
  EXPECT_EQ(drawn, (std::vector<int>{5, 10, 15, 20}));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].c, 10);
  EXPECT_EQ(list[1].c, 20);
}

}  // namespace
