#pragma once
// Scripted play: input read from a script (keys, characters, buttons, pointer moves at
// given frames), screenshots of chosen frames, and the end of the run.
//
// One command a line; "#" starts a comment. Frames count the frames shown since the
// title screen first appeared (the first is frame 0). The input of frame N is
// delivered while frame N - 1 is shown, so the reads of frame N see it.
//   seed N                  random seed of the run (set when the screen cycle begins)
//   N down KEY / N up KEY   key pressed / released
//   N tap KEY               pressed at frame N, released at frame N + 1
//   N type TEXT             characters typed (the rest of the line, UTF-8)
//   N press BUTTON X Y      mouse button pressed at (X, Y); BUTTON is left, right,
//   N release BUTTON X Y    middle or 1-3
//   N click BUTTON X Y      pressed at frame N, released at frame N + 1
//   N move X Y              pointer moved
//   N shot FILE             frame N saved as a PNG picture
//   N quit                  the program ends after frame N is shown
//   N pad [P] connect [NAME]  virtual pad P (1, 2 ...; 1 when left out) plugged in
//   N pad [P] disconnect      and pulled out
//   N pad [P] down BUTTON / up BUTTON / tap BUTTON   its buttons, as the keys'
//   N pad [P] move AXIS VALUE                         a stick (-1 ... 1) or trigger (0 ... 1)
// KEY is a name (a-z, 0-9, space, enter, escape, backspace, tab, left, right, up, down,
// f1-f12, shift, control, alt) or "#" and a virtual-key number. BUTTON and AXIS are pad
// names (a, b, x, y, back, start, up, down, left, right ...; leftx, lefty, lefttrigger ...).
#include <string>
#include <vector>

#include <ormix/runtime/text.h>

struct TScriptAction {
  enum Kind { KeyDown, KeyUp, Char, ButtonDown, ButtonUp, Move, Shot, Quit,
              PadConnect, PadDisconnect, PadDown, PadUp, PadMove };
  int frame = 0;
  Kind kind = KeyDown;
  int code = 0;     // key code, character code, button, pad button or pad axis
  int x = 0, y = 0; // pointer position
  Text file;        // screenshot file; the name of a connected pad
  int pad = 0;      // the script's pad number (pad commands)
  float value = 0;  // pad axis position
};

class TScript {
public:
  std::vector<TScriptAction> actions;  // sorted by frame, stable
  bool hasSeed = false;
  int seed = 0;

  // False with a message naming the line when the text is not a valid script.
  bool Parse(const std::string& text, std::string& error);
  bool Load(const std::string& path, std::string& error);
  // The last frame that has an action (-1 for an empty script).
  int LastFrame() const;
};

// Virtual-key number for a key name of the script, 0 when the name is unknown.
int ScriptKeyCode(const std::string& name);
