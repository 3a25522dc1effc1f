// ormix music: facts about a song file, rendering it to a wave file or raw PCM, and
// converting it to the native song format.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <ormix/audio/wavefile.h>
#include <ormix/music/song.h>
#include <ormix/stream/stream.h>
#include "music_command.h"
#include <ormix/runtime/registry.h>

namespace {

struct Subcommand {
  std::string name;
  MusicSubcommandFn fn;
};
using SubcommandPtr = std::shared_ptr<const Subcommand>;
TRegistry<SubcommandPtr, TRegistryOrder::OldestFirst>& Subcommands() {
  static TRegistry<SubcommandPtr, TRegistryOrder::OldestFirst> s;
  return s;
}

// Takes --classic out of the arguments: true when it was there.
bool TakeClassic(std::vector<std::string>& args) {
  const auto n = args.size();
  args.erase(std::remove(args.begin(), args.end(), std::string("--classic")), args.end());
  return args.size() != n;
}

// Loads a tracker song (without starting any audio device or timer); null after
// printing the reason. `classic` selects classic playback.
TMusicPtr LoadSong(const std::string& path, int& status, bool classic = false) {
  status = OrmixCheckInput(path);
  if (status) return nullptr;
  TStreamPtr file = OpenForReading(path);
  if (!file) {
    status = OrmixFail(path + ": cannot open the file");
    return nullptr;
  }
  // The song is read from the stream opened here: the file is opened once.
  Text format;
  TMusicPtr song = LoadTrackerSong(TMusicSource(file), &format);
  if (!song) {
    const std::string refusal = ToUtf8(MusicLoadRefusal());
    status = OrmixFail(path + (!refusal.empty()     ? ": " + refusal
                               : format == u"wav" ? ": not a tracker song"
                                                  : ": no song loader accepts this file"));
    return nullptr;
  }
  song->Seti(SONG_ID_CLASSIC, classic ? 1 : 0);
  return song;
}

int Info(const std::vector<std::string>& given) {
  std::vector<std::string> args = given;
  const bool classic = TakeClassic(args);
  if (args.size() != 1) return OrmixFail("usage: ormix music info FILE [--classic]");
  int status = 0;
  auto song = LoadSong(args[0], status, classic);
  if (!song) return status;
  TSongSummary summary;
  GetSongSummary(*song, summary);
  const int32_t frames = summary.lengthFrames;
  std::printf("format: %s\n", ToUtf8(summary.format).c_str());
  std::printf("title: %s\n", ToUtf8(summary.title).c_str());
  std::printf("channels: %d\n", summary.channels);
  std::printf("orders: %d\n", summary.orders);
  std::printf("patterns: %d\n", summary.patterns);
  std::printf("instruments: %d\n", summary.instruments);
  std::printf("length_frames: %d\n", frames);
  std::printf("length_seconds: %.3f\n", frames / static_cast<double>(AUDIO_OUTPUT_RATE));
  std::printf("playback: %s\n", classic ? "classic" : "format");
  return 0;
}

bool ParseCount(const std::string& text, long long low, long long high, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno || *end || v < low || v > high) return false;
  out = v;
  return true;
}

int Render(const std::vector<std::string>& given) {
  std::vector<std::string> args = given;
  const bool classic = TakeClassic(args);
  const char* usage = "usage: ormix music render FILE OUT.wav [--rate HZ] [--loops N] [--classic]";
  std::vector<std::string> plain;
  long long rate = AUDIO_OUTPUT_RATE, loops = 1;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--rate" || args[i] == "--loops") {
      if (i + 1 >= args.size()) return OrmixFail(usage);
      long long& target = args[i] == "--rate" ? rate : loops;
      const long long high = args[i] == "--rate" ? 384000 : 1000;
      if (!ParseCount(args[i + 1], 1, high, target))
        return OrmixFail(args[i] + ": expected a whole number from 1 to " + std::to_string(high));
      ++i;
    } else {
      plain.push_back(args[i]);
    }
  }
  if (plain.size() != 2) return OrmixFail(usage);
  const std::string& out = plain[1];

  int status = 0;
  auto song = LoadSong(plain[0], status, classic);
  if (!song) return status;
  song->Seti(MUSIC_ID_RATE, static_cast<int32_t>(rate));  // also measures the song at this rate
  const uint64_t passFrames = static_cast<uint64_t>(std::max(song->Geti(MUSIC_ID_SIZE), 0));
  const uint64_t total = passFrames * static_cast<uint64_t>(loops);
  const bool toStdout = out == "-";
  if (!toStdout && total * 4 > 0xFFFFFFFFull - 36)
    return OrmixFail("the rendering would exceed the 4 GiB limit of a wave file");

  FILE* file = toStdout ? stdout : std::fopen(out.c_str(), "wb");
  if (!file) return OrmixFail(out + ": cannot write the file");
  bool ok = true;
  if (!toStdout) {
    const TWaveFormat stereo16{2, static_cast<int32_t>(rate), 16};
    auto header = WaveHeader(stereo16, static_cast<uint32_t>(total * 4));
    ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  }

  song->Seti(MUSIC_ID_LOOP, loops > 1 ? 1 : 0);
  song->PlayStatus = 1;
  const bool progress = isatty(STDERR_FILENO);
  constexpr uint64_t kChunk = 32768;  // frames per write: few system calls
  std::vector<int16_t> pcm(kChunk * 2);
  int shown = -1;
  for (uint64_t done = 0; ok && done < total;) {
    const uint64_t n = std::min(kChunk, total - done);
    std::fill(pcm.begin(), pcm.end(), 0);  // a song that has stopped writes nothing
    song->FillBuffer(pcm.data(), static_cast<int32_t>(n * 4));
    ok = std::fwrite(pcm.data(), 4, n, file) == n;
    done += n;
    if (progress) {
      const int percent = static_cast<int>(done * 100 / total);
      if (percent != shown) {
        shown = percent;
        char bar[41];
        std::memset(bar, ' ', 40);
        std::memset(bar, '#', static_cast<size_t>(percent * 40 / 100));
        bar[40] = 0;
        std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
      }
    }
  }
  if (progress) std::fprintf(stderr, "\n");
  if (toStdout) ok = std::fflush(stdout) == 0 && ok;
  else ok = std::fclose(file) == 0 && ok;
  if (!ok) return OrmixFail(out + ": write failed");
  return 0;
}

int Convert(const std::vector<std::string>& args) {
  if (args.size() != 2) return OrmixFail("usage: ormix music convert FILE OUT.qtk");
  int status = 0;
  auto song = LoadSong(args[0], status);
  if (!song) return status;
  TStreamPtr out = OpenForWriting(args[1]);
  if (!out) return OrmixFail(args[1] + ": cannot write the file");
  SaveSong(*song, out);
  out->Close();
  return 0;
}

ORMIX_MUSIC_SUBCOMMAND("info", Info);
ORMIX_MUSIC_SUBCOMMAND("render", Render);
ORMIX_MUSIC_SUBCOMMAND("convert", Convert);

}  // namespace

MusicSubcommandRegistrar::MusicSubcommandRegistrar(const char* name, MusicSubcommandFn fn) {
  Subcommands().Add(std::make_shared<const Subcommand>(Subcommand{name, fn}));
}

int MusicCommandMain(const std::vector<std::string>& args) {
  if (args.empty()) return OrmixFail("usage: ormix music <subcommand> ... (see ormix --help)");
  SubcommandPtr sub = Subcommands().Find([&](const SubcommandPtr& s) { return s->name == args[0]; });
  if (!sub) return OrmixFail("music: unknown subcommand '" + args[0] + "'");
  return sub->fn(std::vector<std::string>(args.begin() + 1, args.end()));
}

ORMIX_COMMAND("music", "music info FILE [--classic]", MusicCommandMain);
ORMIX_COMMAND("music", "music render FILE OUT.wav [--rate HZ] [--loops N] [--classic]   (OUT - : raw PCM)", MusicCommandMain);
ORMIX_COMMAND("music", "music convert FILE OUT.qtk", MusicCommandMain);
