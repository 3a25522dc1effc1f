#pragma once
// The player's settings and the last score table, kept in a file of two scrambled lines.
#include <ormix/runtime/text.h>

struct TGameSettings {
  Text PlayerName = u"Player";
  int HighScore = 0;
  int PlayerId = 0;
  int ScreenDepthOption = 0;  // 0 windowed, 32 full screen
  int MusicOption = 1;
  int RendererOption = 0;     // 0 OpenGL, 1 DirectX 7
  Text ScoreTable;            // name|score|name|score...
};

extern const Text SettingsKey;  // line 1
extern const Text TableKey;     // line 2
constexpr int SETTINGS_PASSES = 12;

// The nine-field record of line 1 (before scrambling).
Text SettingsRecord(const TGameSettings& s);
// Applies two unscrambled lines; a damaged line reads as "" (empty name, score 0,
// options 0, id 0 so that the caller draws a new one; empty table).
void ApplySettingsLines(const Text& line1, const Text& line2, TGameSettings& s);

// Reads the file when it exists (false when it does not or cannot be opened); a stored
// player id of 0 is replaced with NewPlayerId().
bool LoadSettings(const Text& path, TGameSettings& s);
// Writes both lines into a new file beside `path`, then renames it over `path`, so an
// interrupted save never leaves a broken settings file. False when it failed.
bool SaveSettings(const Text& path, const TGameSettings& s);

// A positive random identity, seeded from the clock, time and date.
int NewPlayerId();
