#pragma once
// Everything a tick changes: the position in the order list and the pattern, the timing,
// the jump, loop and delay state, the global volume, the output levels and the channels.
// A value: a copy carries its own channels, so running a copy (as the length scan does)
// leaves the original as it was.
#include <cstdint>
#include <vector>

#include "channel.h"

struct TPlayState {
  std::vector<Cantor_Channel> MMC_Channel;
  int32_t CurrentPattern = 0;
  int32_t CurrentLine = 0;
  int32_t CurrentSongPattern = 0;
  int32_t Tempo = 125;
  int32_t Speed = 6;
  int32_t MMTick = 0;
  int32_t BytesUntilTick = 0;  // output frames until the next tick
  int32_t LineJump = -1;
  int32_t MMJump = -1;
  int32_t MMJumpLine = 0;
  int32_t PatternLoopStart = 0;
  int32_t PatternLoopEnd = 0;
  int32_t PatternLoopCount = -1;
  int32_t patterndelay = 0;
  // MOD playback: the line a pattern loop goes back to after this line (-1 none), the
  // line's advance held back until its last tick has sounded, and the lines already
  // played (one bit per line, 256 lines per order position) by which the song ends
  // where it would start repeating.
  int32_t LoopJumpLine = -1;
  bool AdvancePending = false;
  std::vector<uint64_t> PlayedLines;
  // XM: the line the next pattern starts at (set by a break, cleared by a jump, and by
  // a pattern loop going back, where it stays for the next pattern once the loop ends),
  // a loop going back within the pattern, and a jump or break pending (to XmJumpOrder,
  // or the next order when -1).
  int32_t XmBreakPos = 0;
  bool XmBreakFlag = false;
  bool XmPosJump = false;
  int32_t XmJumpOrder = -1;
  double TLAV = 0, TRAV = 0;  // left and right output level meters
  int32_t GlobalVolume = 64;  // 0..64, effects G and H (format playback)
};
