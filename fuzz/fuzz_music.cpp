// Song loaders, wave-file music and the song-as-sample loader. What loads is measured
// (the length computation of `ormix music info`) and played for a moment, so the
// sequencer, the effects and the mixer run on it too.
#include <exception>
#include <vector>

#include "fuzz_entries.h"
#include "fuzz_streams.h"
#include "music/loaders/format_io.h"
#include "music/loaders/mod_loader.h"
#include "music/sampleloader_mod.h"
#include "music/loaders/xm_loader.h"
#include <ormix/audio/audio.h>
#include <ormix/music/audiostream.h>
#include "music/player/song_player.h"
#include <ormix/stream/stream.h>

namespace {

void Start() {
  static const bool started = [] {
    InitMusicModule();
    return true;
  }();
  (void)started;
}


// A tenth of a second at 44100 Hz: long enough for several ticks and lines.
constexpr int32_t kRenderFrames = 4410;

void Play(const TMusicPtr& music) {
  if (!music) return;
  if (auto song = std::dynamic_pointer_cast<Cantor_Mixer>(music)) {
    song->Geti(MUSIC_ID_SIZE);  // the one-pass length, as `ormix music info` asks for it
    song->STREAM_LOOP = 1;
    song->PlayStatus = 1;
  }
  static std::vector<uint8_t> out(static_cast<size_t>(kRenderFrames) * 4);
  const int32_t frame = FormatFrameSize(music->STREAM_FORMAT);
  if (frame <= 0) return;
  music->FillBuffer(out.data(), kRenderFrames * frame);
}

// Loaders refuse bad input by returning null or by throwing the stream layer's or the
// runtime's exceptions; both are fine. Anything else escapes and is a finding.
template <typename F> int Guarded(F&& f) {
  try {
    f();
  } catch (const std::exception&) {
  }
  return 0;
}

}  // namespace

int FuzzMusicRegistry(const uint8_t* data, size_t size) {
  Start();
  return Guarded([&] { Play(CantorLoader::Load(TMusicSource(fuzzio::InputStream(data, size)))); });
}

int FuzzMusicMod(const uint8_t* data, size_t size) {
  Start();
  return Guarded([&] { Play(LoadMOD(TMusicSource(fuzzio::InputStream(data, size)))); });
}

int FuzzMusicXm(const uint8_t* data, size_t size) {
  Start();
  return Guarded([&] { Play(LoadXM(TMusicSource(fuzzio::InputStream(data, size)))); });
}

int FuzzMusicQtk(const uint8_t* data, size_t size) {
  Start();
  return Guarded([&] { Play(Cantor_Mixer::Load(fuzzio::InputStream(data, size))); });
}

// The wave file's own reading, then its rate conversion to the output as a stream plays it.
int FuzzMusicWav(const uint8_t* data, size_t size) {
  Start();
  return Guarded([&] {
    auto wav = TWavStream::Load(TMusicSource(fuzzio::InputStream(data, size)));
    if (!wav) return;
    wav->PlayStatus = 1;
    Play(wav);
    Play(wav);  // past the end: looping back to the data
    wav->STREAM_POS = 0;
    wav->PlayStatus = 1;
    static TMusicConverter converter;
    converter.Reset();
    static int16_t out[2 * 4096];
    for (int i = 0; i < 4; ++i) converter.Render(*wav, out, static_cast<int32_t>(sizeof out));
  });
}

constexpr int32_t kSongSampleSeconds = 4;

int FuzzSongSample(const uint8_t* data, size_t size) {
  Start();
  return Guarded([&] {
    // The loader's work follows the length of sound it renders, which its limit bounds;
    // a few seconds keep each input fast while every path (the refusal too) is taken.
    static TAudioSampleLoaderMOD loader(kSongSampleSeconds);
    TAudioSamplePtr sample = loader.LoadAudioSample(fuzzio::InputStream(data, size));
    (void)sample;
  });
}
