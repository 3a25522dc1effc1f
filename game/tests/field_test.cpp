#include "game/field.h"

#include <gtest/gtest.h>

#include <vector>

#include <ormix/runtime/random.h>

namespace {

// A field with nothing in it and the ball placed by hand.
TPlayField EmptyField(float ballX, float ballY, int fallSpeed) {
  TPlayField f;
  f.BeginGame();
  for (auto& column : f.Grid)
    for (int& cell : column) cell = 0;
  f.BallX = ballX;
  f.BallY = ballY;
  f.FallSpeed = fallSpeed;
  f.Standing = 0;
  return f;
}

std::vector<THit> Move(TPlayField& f, const TPlayInput& in = {}) {
  std::vector<THit> hits;
  f.MoveBall(in, [&](const THit& h) { hits.push_back(h); });
  return hits;
}

TEST(FillField, RowNineFullRowsEightTenElevenEmptyNoVerticalNeighbours) {
  for (int seed = 1; seed <= 200; ++seed) {
    SeedRandom(seed);
    TPlayField f;
    f.Colours = seed % 8;
    f.FillField();
    for (int c = 0; c < FIELD_COLUMNS; ++c) {
      EXPECT_NE(f.Grid[c][9], 0);
      EXPECT_EQ(f.Grid[c][8], 0);
      EXPECT_EQ(f.Grid[c][10], 0);
      EXPECT_EQ(f.Grid[c][11], 0);
      for (int r = 0; r < FIELD_ROWS; ++r) {
        int v = f.Grid[c][r];
        if (v == 0) continue;
        EXPECT_GE(v, 1);
        EXPECT_LE(v, f.Colours + 1);
        if (r < 8) {
          EXPECT_EQ(f.Grid[c][r + 1], 0) << "column " << c << " row " << r;
        }
      }
    }
  }
}

TEST(Play, FirstFrameOfAGameLandsWithAHit) {
  SeedRandom(3);
  TPlayField f;
  f.BeginGame();
  const int colour = f.Grid[6][9];
  auto hits = Move(f);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].points, 5);
  EXPECT_EQ(hits[0].colour, colour);
  EXPECT_EQ(hits[0].x, 384 + 64);
  EXPECT_EQ(hits[0].y, 512 - 28);  // the fall of this frame was still 0
  EXPECT_EQ(hits[0].rate, 22500.0f);
  EXPECT_EQ(f.Score, 5);
  EXPECT_EQ(f.Grid[6][9], colour + 10);
  EXPECT_EQ(f.BallY, 512.0f);
  EXPECT_EQ(f.Standing, 1);
  EXPECT_EQ(f.FallSpeed, 0);
  // Standing still: the ball lands again every frame without a hit.
  EXPECT_TRUE(Move(f).empty());
  EXPECT_EQ(f.Score, 5);
}

TEST(Play, ThreeHitsOnOneTileScoreAChainAndBreakIt) {
  TPlayField f = EmptyField(384, 500, 8);
  f.Grid[6][8] = 3;
  const int expectedScore[] = {5, 15, 30};
  const float expectedRate[] = {22500, 23500, 24000};
  for (int i = 0; i < 3; ++i) {
    f.BallY = 500;
    f.FallSpeed = 8;
    f.Standing = 0;
    auto hits = Move(f);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].points, 5 * (i + 1));
    EXPECT_EQ(hits[0].combo, i + 1);
    EXPECT_EQ(hits[0].rate, expectedRate[i]);
    EXPECT_EQ(f.Score, expectedScore[i]);
  }
  EXPECT_EQ(f.Grid[6][8], 0);  // broken on the third hit
  // Another colour starts a new chain.
  f.Grid[6][8] = 5;
  f.BallY = 500;
  f.FallSpeed = 8;
  auto hits = Move(f);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].points, 5);
  EXPECT_EQ(f.LastColour, 5);
  EXPECT_EQ(f.Combo, 1);
}

TEST(Play, LandingBetweenColumnsHitsOnlyTheFirstTileTested) {
  // Centre 24 pixels into column 6: the left neighbour is tested after the own column.
  TPlayField f = EmptyField(64 * 6 + 24 - 32, 500, 8);
  f.Grid[6][8] = 1;
  f.Grid[5][8] = 2;
  auto hits = Move(f);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].colour, 1);
  EXPECT_EQ(f.Grid[6][8], 11);
  EXPECT_EQ(f.Grid[5][8], 2);
  // Own column empty: the neighbour takes the hit.
  f = EmptyField(64 * 6 + 24 - 32, 500, 8);
  f.Grid[5][8] = 2;
  hits = Move(f);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(f.Grid[5][8], 12);
  // 25 pixels in: the left neighbour is not tested.
  f = EmptyField(64 * 6 + 25 - 32, 500, 8);
  f.Grid[5][8] = 2;
  EXPECT_TRUE(Move(f).empty());
  EXPECT_EQ(f.Standing, 0);
}

TEST(Play, ColumnElevenIsNeverTestedAsANeighbour) {
  TPlayField f = EmptyField(64 * 10 + 40 - 32, 500, 8);
  f.Grid[11][8] = 4;
  EXPECT_TRUE(Move(f).empty());
  EXPECT_EQ(f.Standing, 0);
  EXPECT_EQ(f.Grid[11][8], 4);
  // Column 9 seen from column 8 (centre 40 in) is tested.
  f = EmptyField(64 * 8 + 40 - 32, 500, 8);
  f.Grid[9][8] = 4;
  EXPECT_EQ(Move(f).size(), 1u);
}

TEST(Play, NoLandingOutsideRowsOneToTen) {
  TPlayField f = EmptyField(384, 40, 8);  // row 0
  f.Grid[6][1] = 1;
  EXPECT_TRUE(Move(f).empty());
  EXPECT_EQ(f.Standing, 0);
  f = EmptyField(384, 11 * 64 + 10, 8);  // row 11
  EXPECT_TRUE(Move(f).empty());
}

TEST(Play, JumpRisesOneHundredThirtySixPixelsAndStopsWhenReleased) {
  TPlayField f = EmptyField(384, 512, 0);
  f.Grid[6][9] = 1;
  f.Scrolling = 1;
  f.JumpLatch = 0;
  Move(f);  // lands (with a hit)
  ASSERT_EQ(f.Standing, 1);
  TPlayInput jump;
  jump.jump = true;
  Move(f, jump);
  EXPECT_EQ(f.FallSpeed, -16);
  EXPECT_EQ(f.JumpLatch, 1);
  float lowest = f.BallY;
  for (int i = 0; i < 16; ++i) {
    Move(f, jump);
    if (f.BallY < lowest) lowest = f.BallY;
  }
  EXPECT_EQ(lowest, 512.0f - 136.0f);
  // A short jump: releasing the key stops the rise at once.
  f = EmptyField(384, 512, 0);
  f.Grid[6][9] = 1;
  f.Scrolling = 1;
  f.JumpLatch = 0;
  Move(f);
  Move(f, jump);
  Move(f, jump);
  Move(f);
  EXPECT_EQ(f.FallSpeed, 0);  // stopped by the release
  Move(f);
  EXPECT_EQ(f.FallSpeed, 4);  // then gravity
}

TEST(Play, JumpNeedsScrollingAndAFreshKey) {
  TPlayField f = EmptyField(384, 512, 0);
  f.Grid[6][9] = 1;
  Move(f);
  TPlayInput jump;
  jump.jump = true;
  f.JumpLatch = 1;
  f.Scrolling = 1;
  Move(f, jump);
  EXPECT_GE(f.FallSpeed, 0);
  f.JumpLatch = 0;
  f.Scrolling = 0;
  Move(f, jump);
  EXPECT_GE(f.FallSpeed, 0);
}

TEST(Play, SteeringFrictionAndWalls) {
  struct Case {
    float x;
    int speed;
    bool left, right;
    float newX;
    int newSpeed;
  } cases[] = {
      {300, 0, true, false, 300, -1},   {300, 0, false, true, 300, 1},
      {300, 0, true, true, 300, 0},     {300, -8, true, false, 292, -8},
      {300, 8, false, true, 308, 8},    {300, 3, false, false, 303, 2},
      {300, -3, false, false, 297, -2}, {300, 5, true, false, 305, 3},
      {300, -5, true, true, 295, -5},   {694, 4, false, false, 696, -3},
      {2, -6, false, false, 0, 5},
  };
  for (const Case& c : cases) {
    TPlayField f = EmptyField(c.x, 300, 0);
    f.SideSpeed = c.speed;
    TPlayInput in;
    in.left = c.left;
    in.right = c.right;
    Move(f, in);
    EXPECT_EQ(f.BallX, c.newX) << c.x << " " << c.speed << " " << c.left << c.right;
    EXPECT_EQ(f.SideSpeed, c.newSpeed) << c.x << " " << c.speed << " " << c.left << c.right;
  }
}

TEST(Play, GravityAndFallSpeedLimit) {
  TPlayField f = EmptyField(384, 100, 0);
  int expected[] = {4, 8, 12, 16, 16};
  for (int e : expected) {
    Move(f);
    EXPECT_EQ(f.FallSpeed, e);
  }
}

TEST(Scroll, SpeedDependsOnTheBallAndANewRowComesAfterSixtyFourPixels) {
  SeedRandom(11);
  TPlayField f;
  f.BeginGame();
  f.ScrollStep();
  EXPECT_EQ(f.ScrollOffset, 0.0f);  // not started
  f.Scrolling = 1;
  f.ScrollStep();
  EXPECT_EQ(f.ScrollOffset, 1.0f);
  f.BallY = 199;
  f.ScrollStep();
  EXPECT_EQ(f.ScrollOffset, 3.0f);
  f.BallY = 512;
  int before[FIELD_COLUMNS][FIELD_ROWS];
  std::copy(&f.Grid[0][0], &f.Grid[0][0] + FIELD_COLUMNS * FIELD_ROWS, &before[0][0]);
  f.ScrollOffset = 64;
  f.ScrollStep();  // 65 > 64: a new row
  EXPECT_EQ(f.ScrollOffset, 1.0f);
  EXPECT_EQ(f.RowsScrolled, 1);
  EXPECT_EQ(f.BallY, 576.0f);
  for (int c = 0; c < FIELD_COLUMNS; ++c)
    for (int r = 1; r < FIELD_ROWS; ++r) EXPECT_EQ(f.Grid[c][r], before[c][r - 1]);
}

TEST(Scroll, NewRowsHoldTwoTilesPerPairAndColoursGrowEveryTwentyFiveRows) {
  SeedRandom(99);
  TPlayField f;
  f.BeginGame();
  for (int row = 1; row <= 200; ++row) {
    int previous = f.NewRowTiles;
    f.NewRow();
    // A row after one with fewer than two tiles always gets one.
    if (previous < 2) {
      EXPECT_GE(f.NewRowTiles, 1) << "row " << row;
    }
    for (int c = 0; c < FIELD_COLUMNS; ++c) {
      EXPECT_LE(f.Grid[c][0], f.Colours + 1);
    }
    EXPECT_EQ(f.Colours, std::min(7, 1 + row / 25)) << "row " << row;
  }
}

TEST(Scroll, AStandingBallIsCarriedOffTheBottom) {
  SeedRandom(5);
  TPlayField f;
  f.BeginGame();
  f.Scrolling = 1;
  int frames = 0;
  while (f.PlayEnded == 0 && frames < 5000) {
    f.ScrollStep();
    Move(f);
    f.StartHalt({});
    f.CheckFall();
    ++frames;
  }
  EXPECT_EQ(f.PlayEnded, 99);
  EXPECT_GT(f.BallY, 800.0f);
}

TEST(StartHalt, FreshJumpStartsAndTheOneKeyHalts) {
  TPlayField f;
  f.BeginGame();
  TPlayInput jump;
  jump.jump = true;
  f.StartHalt(jump);  // still held from the title screen
  EXPECT_EQ(f.Scrolling, 0);
  f.StartHalt({});
  EXPECT_EQ(f.JumpLatch, 0);
  f.StartHalt(jump);
  EXPECT_EQ(f.Scrolling, 1);
  TPlayInput halt;
  halt.halt = true;
  f.StartHalt(halt);
  EXPECT_EQ(f.Scrolling, 0);
}

TEST(Rate, ClampedBetween11000And48000) {
  EXPECT_EQ(TPlayField::ClampRate(22500 + 500 * 52), 48000.0f);
  EXPECT_EQ(TPlayField::ClampRate(22500 + 500 * 51), 48000.0f);
  EXPECT_EQ(TPlayField::ClampRate(22500 + 500 * 50), 47500.0f);
  EXPECT_EQ(TPlayField::ClampRate(5000), 11000.0f);
}

}  // namespace
