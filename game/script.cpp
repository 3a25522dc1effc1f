#include "script.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <ormix/system/keycodes.h>
#include <ormix/system/pad.h>

namespace {

bool ParseInt(const std::string& s, int& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (*end != 0 || v < -1000000000L || v > 1000000000L) return false;
  out = static_cast<int>(v);
  return true;
}

bool FailAtFrame(std::string& error, int frame, const std::string& why) {
  error = "script frame " + std::to_string(frame) + ": " + why;
  return false;
}

int ButtonNumber(const std::string& name) {
  if (name == "left" || name == "1") return 1;
  if (name == "right" || name == "2") return 2;
  if (name == "middle" || name == "3") return 3;
  return 0;
}

// "N pad [P] ..." after the word "pad": the pad's actions, or false with why.
bool ParsePad(std::vector<std::string> args, const std::string& rest, TScriptAction a,
              std::vector<TScriptAction>& out, std::string& why) {
  a.pad = 1;
  if (!args.empty() && !args[0].empty() && std::isdigit(static_cast<unsigned char>(args[0][0]))) {
    if (!ParseInt(args[0], a.pad) || a.pad < 1 || a.pad > 16) {
      why = "pad number must be 1 to 16";
      return false;
    }
    args.erase(args.begin());
  }
  if (args.empty()) {
    why = "pad command missing";
    return false;
  }
  const std::string what = args[0];
  if (what == "connect") {
    // The name is the rest of the line after the word (spaces kept).
    size_t at = rest.find("connect");
    std::string name = at == std::string::npos ? "" : rest.substr(at + 7);
    size_t start = name.find_first_not_of(" \t");
    name = start == std::string::npos ? "" : name.substr(start, name.find_last_not_of(" \t") + 1 - start);
    a.kind = TScriptAction::PadConnect;
    a.file = ToText(name.empty() ? "Script Pad" : name);
    out.push_back(a);
  } else if (what == "disconnect") {
    if (args.size() != 1) {
      why = "disconnect takes nothing";
      return false;
    }
    a.kind = TScriptAction::PadDisconnect;
    out.push_back(a);
  } else if (what == "down" || what == "up" || what == "tap") {
    if (args.size() != 2) {
      why = "pad " + what + " needs one button";
      return false;
    }
    a.code = PadButtonCode(ToText(args[1]));
    if (a.code == 0) {
      why = "unknown pad button " + args[1];
      return false;
    }
    a.kind = what == "up" ? TScriptAction::PadUp : TScriptAction::PadDown;
    out.push_back(a);
    if (what == "tap") {
      a.kind = TScriptAction::PadUp;
      ++a.frame;
      out.push_back(a);
    }
  } else if (what == "move") {
    char* end = nullptr;
    if (args.size() != 3 || (a.code = PadAxisCode(ToText(args[1]))) == 0) {
      why = "pad move needs an axis and a position";
      return false;
    }
    a.value = std::strtof(args[2].c_str(), &end);
    if (args[2].empty() || *end != 0 || !(a.value >= -1 && a.value <= 1)) {
      why = "pad position must be -1 to 1";
      return false;
    }
    a.kind = TScriptAction::PadMove;
    out.push_back(a);
  } else {
    why = "unknown pad command " + what;
    return false;
  }
  return true;
}

}  // namespace

int ScriptKeyCode(const std::string& raw) {
  std::string name = raw;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (name.size() > 1 && name[0] == '#') {
    int code = 0;
    if (ParseInt(name.substr(1), code) && code >= 1 && code <= 255) return code;
    return 0;
  }
  if (name.size() == 1) {
    char c = name[0];
    if (c >= 'a' && c <= 'z') return KEY_A + (c - 'a');
    if (c >= '0' && c <= '9') return KEY_0 + (c - '0');
    return 0;
  }
  struct Named {
    const char* name;
    int code;
  };
  static const Named kNames[] = {
      {"space", KEY_SPACE},   {"enter", KEY_ENTER},       {"return", KEY_RETURN},
      {"escape", KEY_ESCAPE}, {"backspace", KEY_BACKSPACE}, {"tab", KEY_TAB},
      {"left", KEY_LEFT},     {"right", KEY_RIGHT},       {"up", KEY_UP},
      {"down", KEY_DOWN},     {"shift", KEY_LSHIFT},      {"control", KEY_LCONTROL},
      {"alt", KEY_LALT},
  };
  for (const Named& n : kNames)
    if (name == n.name) return n.code;
  if (name[0] == 'f') {
    int n = 0;
    if (ParseInt(name.substr(1), n) && n >= 1 && n <= 12) return KEY_F1 + n - 1;
  }
  return 0;
}

bool TScript::Parse(const std::string& text, std::string& error) {
  actions.clear();
  hasSeed = false;
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    error = "script line " + std::to_string(lineNo) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    std::istringstream words(line.substr(start));
    std::string first, command;
    words >> first;
    if (first == "seed") {
      std::string value, extra;
      words >> value;
      if (!ParseInt(value, seed) || (words >> extra)) return fail("seed needs one number");
      hasSeed = true;
      continue;
    }
    TScriptAction a;
    if (!ParseInt(first, a.frame) || a.frame < 0) return fail("a frame number must come first");
    if (!(words >> command)) return fail("command missing");
    std::vector<std::string> args;
    if (command == "type") {
      std::string rest;
      std::getline(words, rest);
      if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
      for (char16_t ch : ToText(rest)) {
        TScriptAction c = a;
        c.kind = TScriptAction::Char;
        c.code = ch;
        actions.push_back(c);
      }
      continue;
    }
    for (std::string w; words >> w;) args.push_back(w);
    if (command == "down" || command == "up" || command == "tap") {
      if (args.size() != 1) return fail(command + " needs one key");
      a.code = ScriptKeyCode(args[0]);
      if (a.code == 0) return fail("unknown key " + args[0]);
      a.kind = command == "up" ? TScriptAction::KeyUp : TScriptAction::KeyDown;
      actions.push_back(a);
      if (command == "tap") {
        a.kind = TScriptAction::KeyUp;
        ++a.frame;
        actions.push_back(a);
      }
    } else if (command == "press" || command == "release" || command == "click") {
      if (args.size() != 3) return fail(command + " needs a button, x and y");
      a.code = ButtonNumber(args[0]);
      if (a.code == 0) return fail("unknown button " + args[0]);
      if (!ParseInt(args[1], a.x) || !ParseInt(args[2], a.y)) return fail("bad position");
      a.kind = command == "release" ? TScriptAction::ButtonUp : TScriptAction::ButtonDown;
      actions.push_back(a);
      if (command == "click") {
        a.kind = TScriptAction::ButtonUp;
        ++a.frame;
        actions.push_back(a);
      }
    } else if (command == "move") {
      if (args.size() != 2 || !ParseInt(args[0], a.x) || !ParseInt(args[1], a.y))
        return fail("move needs x and y");
      a.kind = TScriptAction::Move;
      actions.push_back(a);
    } else if (command == "shot") {
      if (args.size() != 1) return fail("shot needs one file name");
      a.kind = TScriptAction::Shot;
      a.file = ToText(args[0]);
      actions.push_back(a);
    } else if (command == "pad") {
      std::string why;
      if (!ParsePad(args, line.substr(start), a, actions, why)) return fail(why);
    } else if (command == "quit") {
      if (!args.empty()) return fail("quit takes nothing");
      a.kind = TScriptAction::Quit;
      actions.push_back(a);
    } else {
      return fail("unknown command " + command);
    }
  }
  std::stable_sort(actions.begin(), actions.end(),
                   [](const TScriptAction& a, const TScriptAction& b) { return a.frame < b.frame; });
  // A pad is used only while it is connected.
  std::map<int, bool> connected;
  for (const TScriptAction& a : actions) {
    bool& on = connected[a.pad];
    const std::string pad = "pad " + std::to_string(a.pad);
    switch (a.kind) {
      case TScriptAction::PadConnect:
        if (on) return FailAtFrame(error, a.frame, pad + " is already connected");
        on = true;
        break;
      case TScriptAction::PadDisconnect:
      case TScriptAction::PadDown:
      case TScriptAction::PadUp:
      case TScriptAction::PadMove:
        if (!on) return FailAtFrame(error, a.frame, pad + " is not connected");
        if (a.kind == TScriptAction::PadDisconnect) on = false;
        break;
      default:
        break;
    }
  }
  return true;
}

bool TScript::Load(const std::string& path, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read script " + path;
    return false;
  }
  std::ostringstream all;
  all << f.rdbuf();
  return Parse(all.str(), error);
}

int TScript::LastFrame() const { return actions.empty() ? -1 : actions.back().frame; }
