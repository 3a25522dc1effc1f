#pragma once
// The title screen's rules: name editing, the option toggles and the table rows.
#include <functional>

#include "settings.h"
#include <ormix/runtime/text.h>

constexpr int TITLE_TABLE_ROWS = 21;
constexpr int NAME_LIMIT = 10;

// What the title panel reads in a frame.
struct TTitleInput {
  int ch = 0;      // the typed character when editing (0 when none; above 0xFFFF for a pair)
  int erase = 0;   // Backspace presses when editing
  int enter = 0;   // Enter presses when editing
  int f1 = 0, f2 = 0, f3 = 0;  // presses of the option keys
};

// Name editing (only when editing is 1) and the option keys. EditingName goes to 0 on
// Enter.
void TitlePanelStep(TGameSettings& s, int editing, int& editingName, const TTitleInput& in);

// Typed characters read one 16-bit code at a time (NextChar): a surrogate pair becomes
// one code above 0xFFFF; a half without its partner is dropped (0), and a character read
// in its place while looking for a low half is kept for the next call.
class TTypedCharacters {
public:
  int Next(const std::function<int()>& next);

private:
  int _pending = 0;
};

// The option lines F1, F2, F3 (which = 1, 2, 3); "" for a value that shows no line.
Text OptionLine(int which, const TGameSettings& s);

// One row of the score table as drawn: the name right-aligned in 10 characters, the
// score padded with zeros to 10 digits, and the colour (the player's own high score
// is highlighted).
struct TTableRow {
  Text name;
  Text score;
  int red = 0, green = 0, blue = 0;
};
TTableRow TitleTableRow(const Text& table, int row, int highScore);

// How a table name is drawn when the table font lacks some of its characters (`draws`
// tells which it has): with the fallback font when that one has them all, else with the
// table font and "?" for each character it lacks, so that no name is drawn as nothing.
struct TTableName {
  Text text;
  bool fallback = false;  // draw text with the fallback font
};
TTableName TableNameToDraw(const Text& name, const std::function<bool(char16_t)>& tableDraws,
                           const std::function<bool(char16_t)>& fallbackDraws);

// The last `count` characters of `pad` repeated count times + text (a surrogate pair
// is one character).
Text PadLeft(const Text& text, char16_t pad, size_t count);
