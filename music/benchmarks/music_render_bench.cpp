// Rendering speed of the tracker engine on synthetic songs, reported as how many times
// faster than real time the song is rendered (counter "x_realtime").
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "music/player/song_player.h"

namespace {

// A song of `channels` channels, 8 patterns of 64 lines, every channel busy: notes on
// every other line across four octaves, looped and ping-pong samples, and a mix of
// vibrato, volume slides, arpeggio, tone portamento and pan.
Cantor_MixerPtr SyntheticSong(int32_t channels) {
  auto song = std::make_shared<Cantor_Mixer>();
  song->Init(channels);
  song->ActiveSamples = 8;
  song->ActiveSongPatterns = 7;
  for (int32_t n = 1; n <= 8; ++n) {
    auto inst = std::make_shared<Cantor_Instrument>();
    auto s = std::make_shared<Cantor_Sample>();
    const int32_t frames = 2000 + 700 * n;
    s->AllocData(frames);
    for (int32_t i = 0; i < frames; ++i) {
      const double t = static_cast<double>(i) / 64.0;
      s->SoundData[static_cast<size_t>(i)] =
          static_cast<int32_t>(12000 * std::sin(2 * M_PI * t) + 4000 * std::sin(2 * M_PI * t * (n + 1)));
    }
    s->Loop = n % 3 == 0 ? 2 : 1;
    s->LoopStart = frames / 4;
    s->LoopLength = frames / 2;
    s->Volume = 0.8f;
    inst->Sample[0] = s;
    inst->SampleCount = 1;
    if (n % 2 == 0) {
      inst->AddVolumeEnvelopePoint(0, 0);
      inst->AddVolumeEnvelopePoint(4, 100);
      inst->AddVolumeEnvelopePoint(40, 60);
      inst->VolPoints = 3;
      inst->VolType = 1 | 2;
      inst->SetVolSustainPoint(3);
      inst->VolFadeout = 512;
    }
    song->Instrument[static_cast<size_t>(n)] = inst;
  }
  for (int32_t p = 0; p < 8; ++p) {
    song->SongPattern[static_cast<size_t>(p)] = p;
    auto pattern = Cantor_Pattern::Create(song.get(), channels, 64);
    for (int32_t c = 0; c < channels; ++c) {
      Cantor_Track& t = *pattern->Track[static_cast<size_t>(c)];
      for (int32_t line = 0; line < 64; ++line) {
        const size_t i = static_cast<size_t>(line);
        if ((line + c) % 2 == 0) {
          t.Note[i] = 41 + (line * 7 + c * 5 + p * 3) % 48;
          t.Inst[i] = 1 + (c + line / 8) % 8;
        }
        switch ((line + c + p) % 8) {
          case 1: t.FX[i] = 4; t.FXV[i] = 0x64; break;
          case 3: t.FX[i] = 10; t.FXV[i] = 0x02; break;
          case 5: t.FX[i] = 0; t.FXV[i] = 0x47; break;
          case 6: t.Vol[i] = 0xC0 + (c % 16); break;
          case 7: t.FX[i] = 3; t.FXV[i] = 0x08; t.Note[i] = 0; break;
          default: break;
        }
      }
    }
    song->Pattern[static_cast<size_t>(p)] = pattern;
  }
  song->STREAM_LOOP = 1;
  song->PlayStatus = 1;
  song->Setf(SONG_ID_MIX_LEVEL, 0.5 * 4 / channels);
  return song;
}

void BM_RenderSong(benchmark::State& state) {
  const int32_t channels = static_cast<int32_t>(state.range(0));
  auto song = SyntheticSong(channels);
  constexpr int32_t kFrames = AUDIO_OUTPUT_RATE;  // one second of sound per iteration
  std::vector<int16_t> buf(2 * kFrames);
  double seconds = 0;
  for (auto _ : state) {
    song->FillBuffer(buf.data(), kFrames * 4);
    benchmark::DoNotOptimize(buf.data());
    seconds += 1.0;
  }
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(channels) + " channels");
}
BENCHMARK(BM_RenderSong)->Arg(4)->Arg(32)->Unit(benchmark::kMillisecond);

// Real songs of the test corpus, looping, one second of sound per iteration; the
// argument selects classic playback (1) or format playback (0).
void BM_RenderCorpusSong(benchmark::State& state, const char* name) {
  const std::string path = std::string(ORMIX_CORPUS_DIR) + "/music/" + name;
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("corpus not found");
    return;
  }
  InitMusicModule();
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadMusic(ToText(path)));
  if (!song) {
    state.SkipWithError("song did not load");
    return;
  }
  song->Seti(SONG_ID_CLASSIC, static_cast<int32_t>(state.range(0)));
  song->STREAM_LOOP = 1;
  song->PlayStatus = 1;
  constexpr int32_t kFrames = AUDIO_OUTPUT_RATE;
  std::vector<int16_t> buf(2 * kFrames);
  double seconds = 0;
  for (auto _ : state) {
    song->FillBuffer(buf.data(), kFrames * 4);
    benchmark::DoNotOptimize(buf.data());
    seconds += 1.0;
  }
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(song->ActiveChannels) + " channels, " +
                 (state.range(0) ? "classic" : "format") + " playback");
}
BENCHMARK_CAPTURE(BM_RenderCorpusSong, tecnoballz_mod, "tecnoballz.mod")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderCorpusSong, zb_tnt_xm, "zb-tnt.xm")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
// Short forward loops at every pitch: most of its frames are near a loop's end.
BENCHMARK_CAPTURE(BM_RenderCorpusSong, mario_is_a_weenie_xm, "mario_is_a_weenie.xm")->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
