// ormix sound info|convert|play: decode sound files through the sample loaders, write
// them as PCM WAV, or play them on an audio driver.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>

#include <ormix/audio/audio.h>
#include <ormix/audio/wavefile.h>
#include "command.h"

namespace {

// Loads FILE; on failure returns null with the reason in `error`.
TAudioSamplePtr Decode(const std::string& file, std::string& error) {
  if (std::string why; !OrmixReadable(file, why)) {
    error = file + ": " + why;
    return nullptr;
  }
  try {
    TAudioSamplePtr s = LoadAudioSample(file);
    if (!s) error = "cannot decode sound '" + file + "'";
    return s;
  } catch (const std::exception& e) {
    error = std::string(e.what()) + ": '" + file + "'";
    return nullptr;
  }
}

bool ParseFloat(const std::string& text, float& out) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v)) return false;
  out = static_cast<float>(v);
  return true;
}

int Info(const std::vector<std::string>& args) {
  if (args.size() != 1) return OrmixFail("usage: ormix sound info FILE");
  std::string error;
  TAudioSamplePtr s = Decode(args[0], error);
  if (!s) return OrmixFail(error);
  std::printf("frames: %d\nrate: %d\nformat: %d\nchannels: %d\n", s->length, s->hertz, s->format,
              SampleChannels(s->format));
  return 0;
}

int Convert(const std::vector<std::string>& args) {
  if (args.size() != 2) return OrmixFail("usage: ormix sound convert IN OUT.wav");
  std::string error;
  TAudioSamplePtr s = Decode(args[0], error);
  if (!s) return OrmixFail(error);
  s = LittleEndianSample(s);  // 3 and 6 are written as 2 and 5
  const uint32_t channels = static_cast<uint32_t>(SampleChannels(s->format));
  const int32_t block = SampleBytes(s->format);
  if (channels == 0) return OrmixFail("sound '" + args[0] + "' has no channels");
  const TWaveFormat format{static_cast<int32_t>(channels), s->hertz, block / static_cast<int32_t>(channels) * 8};
  if (!WriteWaveFile(args[1], format, s->samples, static_cast<uint32_t>(s->ByteSize())))
    return OrmixFail("cannot write '" + args[1] + "'");
  return 0;
}

int Play(const std::vector<std::string>& args) {
  const char* usage = "usage: ormix sound play FILE [--driver NAME] [--rate R] [--volume V] [--pan P]";
  std::string file, driver;
  float rate = 1.0f, volume = 1.0f, pan = 0.0f;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--driver" || a == "--rate" || a == "--volume" || a == "--pan") {
      if (i + 1 >= args.size()) return OrmixFail(usage);
      const std::string& v = args[++i];
      if (a == "--driver") driver = v;
      else if (!ParseFloat(v, a == "--rate" ? rate : a == "--volume" ? volume : pan))
        return OrmixFail("bad number for " + a + ": '" + v + "'");
    } else if (file.empty() && (a.empty() || a[0] != '-')) {
      file = a;
    } else {
      return OrmixFail(usage);
    }
  }
  if (file.empty()) return OrmixFail(usage);
  if (rate <= 0) return OrmixFail("the rate must be above 0");
  std::string error;
  TAudioSamplePtr sample = Decode(file, error);
  if (!sample) return OrmixFail(error);
  InitAudioModule();
  if (!driver.empty()) {
    if (ToLower(ToText(driver)).rfind(u"openal", 0) == 0) RegisterOpenALDrivers();
    if (!HasAudioDriver(ToText(driver))) return OrmixFail("no audio driver named '" + driver + "'");
    if (!UseAudioDriver(ToText(driver))) return OrmixFail("audio driver '" + driver + "' did not start");
  }
  TSoundPtr sound = CurrentAudioDriver()->CreateSound(sample, 0);
  if (!sound) return OrmixFail("driver '" + ToUtf8(CurrentAudioDriver()->Name()) + "' cannot play this sound");
  TChannelPtr ch = sound->Cue(CurrentAudioDriver()->AllocChannel());
  if (!ch) return OrmixFail("no free channel");
  ch->SetRate(rate);
  ch->SetVolume(volume);
  ch->SetPan(pan);
  ch->SetPaused(0);
  // Wait for the end, with a generous limit in case the output stalls.
  const double seconds = sample->hertz > 0 ? sample->length / (sample->hertz * static_cast<double>(rate)) : 0;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000) + 5000);
  while (ch->Playing() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // what is queued reaches the speakers
  ch.reset();
  sound.reset();
  UseAudioDriver(u"Null");
  return 0;
}

int Sound(const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "info") return Info(rest);
    if (args[0] == "convert") return Convert(rest);
    if (args[0] == "play") return Play(rest);
  }
  return OrmixFail("usage: ormix sound info FILE | convert IN OUT.wav | play FILE [--driver NAME] [--rate R] "
                   "[--volume V] [--pan P]");
}

}  // namespace

ORMIX_COMMAND("sound",
              "sound info FILE | convert IN OUT.wav | play FILE [--driver NAME] [--rate R] [--volume V] [--pan P]",
              Sound);
