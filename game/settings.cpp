#include "settings.h"

#include <cstdio>
#include <cstdlib>

#include <ormix/runtime/scramble.h>
#include <ormix/runtime/random.h>
#include <ormix/runtime/runtime.h>
#include <ormix/stream/stream.h>
#include <ormix/system/system.h>

const Text SettingsKey = u"Tulip";
const Text TableKey = u"Yew";

Text SettingsRecord(const TGameSettings& s) {
  return EncodeRecordName(s.PlayerName) + u"|" + IntToText(s.HighScore) + u"|" + IntToText(s.PlayerId) + u"|" +
         IntToText(s.ScreenDepthOption) + u"|" + IntToText(s.MusicOption) + u"|" +
         IntToText(s.RendererOption) + u"|0|0|0";
}

void ApplySettingsLines(const Text& line1, const Text& line2, TGameSettings& s) {
  const Text bar = u"|";
  s.ScoreTable = line2;
  s.PlayerName = DecodeRecordName(GetField(line1, bar, 1, 1));
  s.HighScore = TextToInt(GetField(line1, bar, 2, 0));
  s.PlayerId = TextToInt(GetField(line1, bar, 3, 0));
  s.ScreenDepthOption = TextToInt(GetField(line1, bar, 4, 0));
  s.MusicOption = TextToInt(GetField(line1, bar, 5, 0));
  s.RendererOption = TextToInt(GetField(line1, bar, 6, 0));
}

bool LoadSettings(const Text& path, TGameSettings& s) {
  if (PathKind(path) == 0) return false;
  TStreamPtr in = OpenForReading(path);
  if (!in) return false;
  Text line1 = Unscramble(in->ReadLine(), SettingsKey, SETTINGS_PASSES);
  Text line2 = Unscramble(in->ReadLine(), TableKey, SETTINGS_PASSES);
  ApplySettingsLines(line1, line2, s);
  if (s.PlayerId == 0) s.PlayerId = NewPlayerId();
  in->Close();
  return true;
}

bool SaveSettings(const Text& path, const TGameSettings& s) {
  const Text temp = path + u".new";
  {
    TStreamPtr out = OpenForWriting(temp);
    if (!out) return false;
    bool ok = true;
    try {
      ok = out->WriteLine(Scramble(SettingsRecord(s), SettingsKey, SETTINGS_PASSES)) != 0;
      ok = out->WriteLine(Scramble(s.ScoreTable, TableKey, SETTINGS_PASSES)) != 0 && ok;
      ok = out->Flush() == 0 && ok;
    } catch (const TStreamException&) {
      ok = false;
    }
    out->Close();
    if (!ok) {
      std::remove(ToUtf8(temp).c_str());
      return false;
    }
  }
  return std::rename(ToUtf8(temp).c_str(), ToUtf8(path).c_str()) == 0;
}

int NewPlayerId() {
  SeedRandom(static_cast<int32_t>(ElapsedMillis() * 100u));
  Text time = TimeText();
  Text hhmmss;
  for (char16_t ch : time)
    if (ch != u':') hhmmss += ch;
  Text date = DateText();
  Text ddyyyy = date.substr(0, 2) + (date.size() >= 4 ? date.substr(date.size() - 4) : date);
  uint32_t a = ElapsedMillis() + static_cast<uint32_t>(RandomInt(1, 37171650)) +
               static_cast<uint32_t>(TextToInt(hhmmss)) - static_cast<uint32_t>(TextToInt(ddyyyy));
  int32_t v = static_cast<int32_t>(a);
  if (v == 0) v = RandomInt(1, 37171650);
  if (v == INT32_MIN) v = INT32_MAX;  // its absolute value does not fit
  return v < 0 ? -v : v;
}
