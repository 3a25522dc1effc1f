// ormix music play FILE [--driver NAME] [--loop]: plays a song or a wave file through an
// audio driver, showing position and length, until its end (or Ctrl-C).
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <ormix/audio/audio.h>
#include <ormix/music/audiostream.h>
#include <ormix/music/song.h>
#include <ormix/runtime/runtime.h>
#include <ormix/system/system.h>
#include "music_command.h"

namespace {
volatile std::sig_atomic_t gInterrupted = 0;
void OnInterrupt(int) { gInterrupted = 1; }

std::string Clock(double seconds) {
  int s = seconds < 0 ? 0 : static_cast<int>(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d", s / 60, s % 60);
  return buf;
}

// Length of one pass in seconds, or a negative value when unknown.
double LengthSeconds(TMusic& music) {
  TSongSummary song;
  if (GetSongSummary(music, song)) {
    return music.SAMPLE_RATE > 0 ? song.lengthFrames / static_cast<double>(music.SAMPLE_RATE) : -1;
  }
  int32_t frame = FormatFrameSize(music.STREAM_FORMAT);
  if (frame > 0 && music.SAMPLE_RATE > 0)
    return music.STREAM_SIZE / static_cast<double>(frame) / music.SAMPLE_RATE;
  return -1;
}

int Play(const std::vector<std::string>& args) {
  std::string file, driver;
  bool loop = false, classic = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--loop") loop = true;
    else if (args[i] == "--classic") classic = true;
    else if (args[i] == "--driver" && i + 1 < args.size()) driver = args[++i];
    else if (file.empty() && args[i].rfind("--", 0) != 0) file = args[i];
    else return OrmixFail("usage: ormix music play FILE [--driver NAME] [--loop] [--classic]");
  }
  if (file.empty()) return OrmixFail("usage: ormix music play FILE [--driver NAME] [--loop] [--classic]");
  if (int st = OrmixCheckInput(file)) return st;

  InitAudioModule();
  RegisterOpenALDrivers();
  InitMusicModule();
  if (!driver.empty() && !UseAudioDriver(ToText(driver))) {
    std::string names;
    for (auto& n : ListAudioDrivers()) names += (names.empty() ? "" : ", ") + ToUtf8(n);
    return OrmixFail("audio driver '" + driver + "' cannot be used (drivers: " + names + ")");
  }
  TAudioDriver* current = CurrentAudioDriver();

  if (!OpenForReading(file)) return OrmixFail(file + ": cannot open the file");
  TMusicPtr music = LoadMusic(TMusicSource(ToText(file)));
  if (!music) {
    const std::string refusal = ToUtf8(MusicLoadRefusal());
    return OrmixFail(file + ": " + (refusal.empty() ? "no music loader accepts this file" : refusal));
  }
  if (classic) music->Seti(SONG_ID_CLASSIC, 1);

  const double length = LengthSeconds(*music);
  TAudioStreamPtr stream = PlayMusic(music, loop ? 1 : 0, 0);
  if (!stream)
    return OrmixFail("the audio driver '" + ToUtf8(current->Name()) + "' cannot stream music");

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  const bool tty = isatty(fileno(stderr));
  const uint32_t start = ElapsedMillis();
  uint32_t lastShown = start - 1000;
  std::fprintf(stderr, "Playing %s on %s%s\n", file.c_str(), ToUtf8(current->Name()).c_str(),
               loop ? " (looping; Ctrl-C stops)" : "");
  // The stream is fed from timer ticks that arrive while the system is pumped; it lets go
  // of the music when it has played out.
  while (stream->Music && !gInterrupted) {
    PumpSystem();
    uint32_t now = ElapsedMillis();
    if (now - lastShown >= (tty ? 250u : 5000u)) {
      lastShown = now;
      double pos = (now - start) / 1000.0;
      if (length > 0 && loop) pos = std::fmod(pos, length);
      std::fprintf(stderr, tty ? "\r  %s / %s " : "  %s / %s\n", Clock(pos).c_str(),
                   length > 0 ? Clock(length).c_str() : "?");
    }
    SleepMillis(4);
  }
  if (tty) std::fprintf(stderr, "\n");
  if (gInterrupted) {
    stream->Stop();
    std::fprintf(stderr, "Stopped.\n");
    return 130;
  }
  // The stream has let go after its last frame left its ring, but the device still holds
  // the end: the audio module drains it before the device closes at the program's end.
  return 0;
}
}  // namespace

ORMIX_MUSIC_SUBCOMMAND("play", Play);
ORMIX_COMMAND("music", "music play FILE [--driver NAME] [--loop] [--classic]   (Ctrl-C stops)", MusicCommandMain);
