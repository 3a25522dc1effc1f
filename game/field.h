#pragma once
// The play field, the ball and scoring: the rules of one game, frame by frame, without
// any drawing or input reading (the caller passes a snapshot of the keys held).

constexpr int FIELD_COLUMNS = 12;
constexpr int FIELD_ROWS = 12;

// Keys held in a frame of play.
struct TPlayInput {
  bool jump = false;   // Space, Z or X
  bool left = false;
  bool right = false;
  bool halt = false;   // the 1 key
  bool escape = false;
};

// One hit on a tile: where the effects appear, the colour, the points and the hit
// sound's rate (22500 plays the sound at its own speed).
struct THit {
  int x = 0, y = 0;
  int colour = 0;
  int points = 0;
  int combo = 0;
  float rate = 0;
};

class TPlayField {
public:
  // Grid[column][row]: 0 empty, else colour (1-8) + 10 * cracks (0-2).
  int Grid[FIELD_COLUMNS][FIELD_ROWS] = {};

  int Score = 0;
  float ScrollOffset = 0;
  int RowsScrolled = 0;
  int Colours = 1;
  int RowsSinceColour = 0;
  int NewRowTiles = 0;  // kept between games
  float BallX = 384;
  float BallY = 512;
  int FallSpeed = 0;  // kept between games
  int SideSpeed = 0;  // kept between games
  int Standing = 0;   // kept between games
  int Scrolling = 0;
  int JumpLatch = 1;
  int LastColour = 0;
  int Combo = 0;
  int PlayEnded = 0;

  // Resets the per-game state, fills the field and places the ball.
  void BeginGame();
  // Random tiles in rows 0-7 (never touching vertically), a full row 9.
  void FillField();
  // Scrolling and, when a whole row has passed, the new row at the top.
  void ScrollStep();
  void NewRow();
  // Gravity, landing and hits, jump, sideways motion, steering and friction; calls
  // onHit for the hit of this frame, if any.
  template <typename OnHit> void MoveBall(const TPlayInput& in, OnHit&& onHit);
  // The 1 key halts the scrolling; a fresh jump key starts it.
  void StartHalt(const TPlayInput& in);
  // Marks the game as over once the ball has fallen off the field.
  void CheckFall();

  // The rate a hit sound plays at, limited to 11000 ... 48000.
  static float ClampRate(float rate);

private:
  bool Land(int column, int row, THit& hit);
};

template <typename OnHit> void TPlayField::MoveBall(const TPlayInput& in, OnHit&& onHit) {
  const int column = static_cast<int>((BallX + 32) / 64);
  const int row = static_cast<int>(BallY / 64);
  BallY += FallSpeed;
  if (FallSpeed < 0) ++FallSpeed;
  if (FallSpeed >= 0 && Standing == 0) FallSpeed += 4;
  if (FallSpeed > 16) FallSpeed = 16;
  Standing = 0;

  THit hit;
  bool hitNow = false;
  if (row > 0 && row < 11) {
    const int offset = static_cast<int>(BallX + 32 - 64 * column);
    hitNow |= Land(column, row + 1, hit);
    if (offset <= 24 && column > 0) hitNow |= Land(column - 1, row + 1, hit);
    if (offset >= 40 && column < 10) hitNow |= Land(column + 1, row + 1, hit);
  }
  if (hitNow) onHit(static_cast<const THit&>(hit));

  if (Standing == 1 && Scrolling == 1 && JumpLatch == 0 && in.jump) {
    FallSpeed = -16;
    JumpLatch = 1;
  }
  if (FallSpeed < 0 && !in.jump) FallSpeed = 0;

  BallX += SideSpeed;
  if (BallX < 0) {
    BallX = 0;
    SideSpeed = -SideSpeed;
  }
  if (BallX > 696) {
    BallX = 696;
    SideSpeed = -SideSpeed;
  }

  if (in.left) --SideSpeed;
  if (in.right) ++SideSpeed;
  if (SideSpeed < -8) SideSpeed = -8;
  if (SideSpeed > 8) SideSpeed = 8;
  if (!in.left && SideSpeed < 0) ++SideSpeed;
  if (!in.right && SideSpeed > 0) --SideSpeed;
}
