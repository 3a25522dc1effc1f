// Plays a song through the current audio driver and shows the position while it plays:
// the time, the song's length and, for tracker songs, the order position and row.
//
//   songplayer FILE [--seconds N]
//
// Ends when the song has played out, on Ctrl-C, or after N seconds with --seconds (then
// it prints how far it got and fails if the song did not move).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include <ormix/audio/audio.h>
#include <ormix/music/audiostream.h>
#include <ormix/music/music.h>
#include <ormix/music/song.h>
#include <ormix/runtime/runtime.h>
#include <ormix/runtime/text.h>
#include <ormix/system/system.h>

namespace {
volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

std::string Clock(double seconds) {
  const int tenths = seconds < 0 ? 0 : static_cast<int>(seconds * 10);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d.%d", tenths / 600, tenths / 10 % 60, tenths % 10);
  return buf;
}
}  // namespace

int main(int argc, char** argv) {
  InitRuntime(argc, argv, false);
  std::string file;
  double limit = -1;
  bool usage = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) limit = std::atof(argv[++i]);
    else if (file.empty() && a.rfind("--", 0) != 0) file = a;
    else usage = true;
  }
  if (file.empty() || usage) {
    std::fprintf(stderr, "usage: songplayer FILE [--seconds N]\n");
    return 1;
  }

  // Start-up: timers and events, the audio drivers, the song loaders and music streaming.
  InitSystemModule();
  InitAudioModule();
  InitMusicModule();

  TMusicPtr music = LoadMusic(TMusicSource(ToText(file)));
  if (!music) {
    std::fprintf(stderr, "songplayer: %s: no music loader accepts this file\n", file.c_str());
    return 1;
  }
  // Tracker songs tell their name, length and position; wave files only their size.
  TSongSummary summary;
  const bool song = GetSongSummary(*music, summary);
  double length = -1;
  if (song) {
    length = summary.lengthFrames / static_cast<double>(music->Geti(MUSIC_ID_RATE));
  } else if (FormatFrameSize(music->STREAM_FORMAT) > 0 && music->SAMPLE_RATE > 0) {
    length = music->STREAM_SIZE / static_cast<double>(FormatFrameSize(music->STREAM_FORMAT)) /
             music->SAMPLE_RATE;
  }

  TAudioStreamPtr stream = PlayMusic(music, 0, 0);
  if (!stream) {
    std::fprintf(stderr, "songplayer: the audio driver '%s' cannot stream music\n",
                 ToUtf8(CurrentAudioDriver()->Name()).c_str());
    return 1;
  }
  std::printf("Playing %s%s%s on %s\n", file.c_str(), song ? " - " : "",
              song ? ToUtf8(summary.title).c_str() : "", ToUtf8(CurrentAudioDriver()->Name()).c_str());
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  const bool tty = isatty(fileno(stdout));
  const uint32_t start = ElapsedMillis();
  uint32_t shownAt = start - 1000;
  int furthestOrder = 0, furthestRow = 0;
  double seconds = 0;
  // The stream is topped up from timer ticks delivered while the system is pumped; it
  // lets go of the music once the song has played out.
  while (stream->Music && !gStop) {
    PumpSystem();
    const uint32_t now = ElapsedMillis();
    seconds = (now - start) / 1000.0;
    if (limit >= 0 && seconds >= limit) break;
    const int order = music->Geti(SONG_ID_ORDER), row = music->Geti(SONG_ID_LINE);
    if (song && (order > furthestOrder || (order == furthestOrder && row > furthestRow))) {
      furthestOrder = order;
      furthestRow = row;
    }
    if (now - shownAt >= (tty ? 100u : 1000u)) {
      shownAt = now;
      std::string where = song ? "  order " + std::to_string(order) + " row " + std::to_string(row) : "";
      std::printf(tty ? "\r  %s / %s%s   " : "  %s / %s%s\n", Clock(seconds).c_str(),
                  length > 0 ? Clock(length).c_str() : "?", where.c_str());
      std::fflush(stdout);
    }
    SleepMillis(5);
  }
  if (tty) std::printf("\n");
  const bool stillPlaying = stream->Music != nullptr;
  stream->Stop();
  if (limit >= 0) {
    std::printf("songplayer: %.1f s played, reached order %d row %d\n", seconds, furthestOrder,
                furthestRow);
    // A song that never moved was not being fed to the audio driver.
    if (song && stillPlaying && furthestOrder == 0 && furthestRow == 0) {
      std::fprintf(stderr, "songplayer: the song did not advance\n");
      return 1;
    }
  }
  return gStop ? 130 : 0;
}
