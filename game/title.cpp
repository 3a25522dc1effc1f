#include "title.h"

#include "scramble.h"

void TitlePanelStep(TGameSettings& s, int editing, int& editingName, const TTitleInput& in) {
  if (editing == 1) {
    for (char16_t& ch : s.PlayerName)
      if (ch == u'|') ch = u' ';
    if (in.ch > 32 && s.PlayerName.size() < NAME_LIMIT)
      s.PlayerName += static_cast<char16_t>(in.ch);
    if (in.erase != 0 && !s.PlayerName.empty()) s.PlayerName.pop_back();
    if (in.enter != 0) editingName = 0;
  }
  if (in.f2 != 0) s.MusicOption = 1 - s.MusicOption;
  if (in.f3 != 0) {
    ++s.RendererOption;
    if (s.RendererOption == 2) s.RendererOption = 0;
  }
  if (in.f1 != 0) s.ScreenDepthOption = 32 - s.ScreenDepthOption;
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
  return t.substr(t.size() - count);
}

TTableRow TitleTableRow(const Text& table, int row, int highScore) {
  const Text bar = u"|";
  Text name = GetField(table, bar, 2 * row + 1, 0);
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
