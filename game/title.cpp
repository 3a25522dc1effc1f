#include "title.h"

#include <ormix/runtime/scramble.h>

namespace {

bool IsHighHalf(int c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowHalf(int c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Characters in the text, a surrogate pair counting once.
size_t CharacterCount(const Text& text) {
  size_t n = 0;
  for (char16_t c : text) n += !IsLowHalf(c);
  return n;
}

}  // namespace

void TitlePanelStep(TGameSettings& s, int editing, int& editingName, const TTitleInput& in) {
  if (editing == 1) {
    for (char16_t& ch : s.PlayerName)
      if (ch == u'|') ch = u' ';
    const bool typable = in.ch > 32 && in.ch <= 0x10FFFF && !IsHighHalf(in.ch) && !IsLowHalf(in.ch);
    if (typable && CharacterCount(s.PlayerName) < NAME_LIMIT) {
      if (in.ch > 0xFFFF) {
        const int v = in.ch - 0x10000;
        s.PlayerName += static_cast<char16_t>(0xD800 + (v >> 10));
        s.PlayerName += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
      } else {
        s.PlayerName += static_cast<char16_t>(in.ch);
      }
    }
    if (in.erase != 0 && !s.PlayerName.empty()) {
      const size_t n = s.PlayerName.size();
      const bool pair = n >= 2 && IsLowHalf(s.PlayerName[n - 1]) && IsHighHalf(s.PlayerName[n - 2]);
      s.PlayerName.resize(n - (pair ? 2 : 1));
    }
    if (in.enter != 0) editingName = 0;
  }
  if (in.f2 != 0) s.MusicOption = 1 - s.MusicOption;
  if (in.f3 != 0) {
    ++s.RendererOption;
    if (s.RendererOption == 2) s.RendererOption = 0;
  }
  if (in.f1 != 0) s.ScreenDepthOption = 32 - s.ScreenDepthOption;
}

int TTypedCharacters::Next(const std::function<int()>& next) {
  int c = _pending;
  _pending = 0;
  if (c == 0) c = next();
  if (IsLowHalf(c)) return 0;
  if (!IsHighHalf(c)) return c;
  const int low = next();
  if (IsLowHalf(low)) return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
  _pending = low;
  return 0;
}

Text OptionLine(int which, const TGameSettings& s) {
  switch (which) {
    case 1:
      if (s.ScreenDepthOption == 0) return u"(F1) Switch to Fullscreen";
      if (s.ScreenDepthOption == 32) return u"(F1) Switch to Windowed";
      break;
    case 2:
      if (s.MusicOption == 0) return u"(F2) Switch Music On";
      if (s.MusicOption == 1) return u"(F2) Switch Music Off";
      break;
    case 3:
      if (s.RendererOption == 0) return u"(F3) Switch to DirectX";
      if (s.RendererOption == 1) return u"(F3) Switch to OpenGL";
      break;
  }
  return Text();
}

Text PadLeft(const Text& text, char16_t pad, size_t count) {
  Text t = Text(count, pad) + text;
  // The last count characters, a surrogate pair being one.
  size_t start = t.size();
  for (size_t n = 0; n < count && start > 0; ++n) {
    --start;
    if (start > 0 && IsLowHalf(t[start]) && IsHighHalf(t[start - 1])) --start;
  }
  return t.substr(start);
}

TTableRow TitleTableRow(const Text& table, int row, int highScore) {
  const Text bar = u"|";
  Text name = DecodeRecordName(GetField(table, bar, 2 * row + 1, 0));
  Text score = GetField(table, bar, 2 * row + 2, 0);
  TTableRow r;
  r.red = 255 - 10 * row;
  r.green = 100;
  r.blue = 10 * row;
  if (score == IntToText(highScore)) {
    r.red = 255;
    r.green = 255;
    r.blue = 100;
  }
  r.name = PadLeft(name, u' ', 10);
  r.score = PadLeft(score, u'0', 10);
  return r;
}

TTableName TableNameToDraw(const Text& name, const std::function<bool(char16_t)>& tableDraws,
                           const std::function<bool(char16_t)>& fallbackDraws) {
  // Characters are judged as the fonts draw them: one 16-bit code at a time (a surrogate
  // pair is two codes neither font has).
  const auto all = [&name](const std::function<bool(char16_t)>& draws) {
    if (!draws) return false;
    for (char16_t c : name)
      if (!draws(c)) return false;
    return true;
  };
  if (all(tableDraws)) return {name, false};
  if (all(fallbackDraws)) return {name, true};
  TTableName out;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF;
    if (pair) ++i;
    out.text += !pair && tableDraws && tableDraws(c) ? c : u'?';
  }
  return out;
}
