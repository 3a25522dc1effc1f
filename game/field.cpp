#include "field.h"

#include <ormix/runtime/random.h>

void TPlayField::BeginGame() {
  PlayEnded = 0;
  ScrollOffset = 0;
  RowsScrolled = 0;
  Colours = 1;
  RowsSinceColour = 0;
  Scrolling = 0;
  JumpLatch = 1;
  LastColour = 0;
  Combo = 0;
  FillField();
  BallX = 384;
  BallY = 512;
  Score = 0;
}

void TPlayField::FillField() {
  for (int column = 0; column < FIELD_COLUMNS; ++column) {
    for (int row = FIELD_ROWS - 1; row >= 0; --row) {
      int& cell = Grid[column][row];
      cell = 0;
      // The draws happen only where the conditions before them hold.
      if (row < 9 && RandomInt(0, 3) == 1 && Grid[column][row + 1] == 0)
        cell = RandomInt(0, Colours) + 1;
      if (row == 9) cell = RandomInt(0, Colours) + 1;
    }
  }
}

void TPlayField::ScrollStep() {
  if (Scrolling == 1) ScrollOffset += BallY >= 200 ? 1 : 2;
  if (ScrollOffset > 64) NewRow();
}

void TPlayField::NewRow() {
  ScrollOffset -= 64;
  ++RowsScrolled;
  BallY += 64;
  for (int row = FIELD_ROWS - 1; row >= 1; --row)
    for (int column = 0; column < FIELD_COLUMNS; ++column)
      Grid[column][row] = Grid[column][row - 1];
  int limit = Colours + 3;
  if (limit > 10) limit = 10;
  const int previous = NewRowTiles;
  NewRowTiles = 0;
  for (int column = 0; column < FIELD_COLUMNS; ++column) {
    Grid[column][0] = 0;
    if (RandomInt(0, limit) == 1 && Grid[column][1] == 0) {
      Grid[column][0] = RandomInt(0, Colours) + 1;
      ++NewRowTiles;
    }
  }
  if (NewRowTiles + previous < 2) {
    const int column = RandomInt(0, 11);
    Grid[column][0] = RandomInt(0, Colours) + 1;
    ++NewRowTiles;
  }
  if (++RowsSinceColour == 25) {
    if (Colours < 7) ++Colours;
    RowsSinceColour = 0;
  }
}

bool TPlayField::Land(int column, int row, THit& hit) {
  int& cell = Grid[column][row];
  if (cell == 0 || FallSpeed <= -1) return false;
  bool hitNow = false;
  if (FallSpeed > 0) {
    const int colour = cell % 10;
    hit.x = static_cast<int>(BallX) + 64;
    hit.y = static_cast<int>(BallY) - 28;
    if (colour == LastColour) {
      ++Combo;
      hit.rate = 22500.0f + 500.0f * Combo;  // the pitch rises along a chain
    } else {
      LastColour = colour;
      Combo = 1;
      hit.rate = 22500.0f;
    }
    hit.points = 5 * Combo;
    hit.colour = LastColour;
    hit.combo = Combo;
    Score += hit.points;
    cell += 10;
    if (cell > 29) cell = 0;
    hitNow = true;
  }
  FallSpeed = 0;
  Standing = 1;
  BallY = 64.0f * static_cast<int>(BallY / 64);
  return hitNow;
}

void TPlayField::StartHalt(const TPlayInput& in) {
  if (in.halt) Scrolling = 0;
  if (JumpLatch == 0 && in.jump) Scrolling = 1;
  if (!in.jump) JumpLatch = 0;
}

void TPlayField::CheckFall() {
  if (BallY > 800) PlayEnded = 99;
}

float TPlayField::ClampRate(float rate) {
  if (rate < 11000) return 11000;
  if (rate > 48000) return 48000;
  return rate;
}
