// The software mixer against OpenAL Soft's own mixing, in one run on the same machine.
//
// Both mix the same scene: N looping 16-bit mono voices of one 22050 Hz sample, at rates
// from 1.0 to about 1.8, quiet gains and pans spread across the field, into 44100 Hz
// 16-bit stereo. OpenAL Soft renders through its loopback device (loaded with the same
// dlopen the OpenAL driver uses), so neither side touches a sound card. The two take turns
// three times per voice count; each turn mixes several seconds of sound and the figure is
// the CPU time of the mixing thread over the sound's duration: the share of one core that
// mixing those voices in real time takes.
//
//   mixer_peer_bench [--seconds S] [--voices N[,N...]]
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/openal/openal.h"
#include "audio/softaudio/softmixer.h"

namespace {

constexpr int kSampleFrames = 22050 * 2;
constexpr int kSampleRate = 22050;
constexpr int kFragmentFrames = 512;  // what the wave-out device mixes at a time

double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<int16_t> SinePcm() {
  std::vector<int16_t> pcm(kSampleFrames);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(8000 * std::sin(static_cast<double>(i) * 0.05));
  return pcm;
}

// Voice i's parameters, the same for both mixers.
int32_t RateOf(int i) { return 0x10000 + (i % 37) * 1500; }  // 16.16
int32_t VolumeOf(int i) { return 64 + (i % 8) * 8; }         // 4096 = full
int32_t PanOf(int i) { return (i % 17) * 480 - 4096; }       // -4096 left ... 4096 right

// Share of a core (percent) for mixing `seconds` of sound with our mixer.
double OursTurn(int voices, double seconds, const std::vector<int16_t>& pcm) {
  mixer m(kFragmentFrames * 2);
  fa_sound* s = fa_createsound(kSampleFrames, 16, 1, kSampleRate, const_cast<int16_t*>(pcm.data()), 1);
  for (int i = 0; i < voices; ++i) {
    sound* v = m.takevoice();
    v->reset(s, i + 1, false, false);
    s->users.fetch_add(1);
    v->setrate(RateOf(i));
    v->setvolume(VolumeOf(i));
    v->setpan(PanOf(i));
    m.queue(v, 0);
  }
  std::vector<int16_t> out(kFragmentFrames * 2);
  const int fragments = static_cast<int>(seconds * AUDIO_OUTPUT_RATE / kFragmentFrames);
  m.mix(out.data(), kFragmentFrames * 2, 1000);  // takes the voices in
  const double t0 = ThreadSeconds();
  for (int f = 0; f < fragments; ++f) m.mix(out.data(), kFragmentFrames * 2, 1000);
  const double cpu = ThreadSeconds() - t0;
  if (m.activecount() != voices) std::fprintf(stderr, "ours: only %d of %d voices played\n", m.activecount(), voices);
  fa_freesound(s);
  return 100.0 * cpu / (fragments * static_cast<double>(kFragmentFrames) / AUDIO_OUTPUT_RATE);
}

// The same with OpenAL Soft's loopback device; a negative figure when it cannot run.
double OpenALTurn(int voices, double seconds, const std::vector<int16_t>& pcm) {
  const TOpenALApi* al = OpenALApi();
  if (!al || !al->alcLoopbackOpenDeviceSOFT || !al->alcRenderSamplesSOFT) return -1;
  void* dev = al->alcLoopbackOpenDeviceSOFT(nullptr);
  if (!dev) return -1;
  // ALC_FORMAT_CHANNELS_SOFT stereo, ALC_FORMAT_TYPE_SOFT short, ALC_FREQUENCY, and room
  // for every voice as a mono source.
  const int attrs[] = {0x1990, 0x1501, 0x1991, 0x1402, 0x1007, AUDIO_OUTPUT_RATE,
                       0x1010, voices,  0x1011, 0,      0};
  void* ctx = al->alcCreateContext(dev, attrs);
  if (!ctx) {
    al->alcCloseDevice(dev);
    return -1;
  }
  al->alcMakeContextCurrent(ctx);
  al->alDistanceModel(OAL_NONE);
  unsigned buffer = 0;
  al->alGenBuffers(1, &buffer);
  al->alBufferData(buffer, OAL_FORMAT_MONO16, pcm.data(), static_cast<int>(pcm.size() * 2), kSampleRate);
  std::vector<unsigned> sources(static_cast<size_t>(voices));
  int made = 0;
  for (int i = 0; i < voices; ++i) {
    al->alGetError();
    al->alGenSources(1, &sources[static_cast<size_t>(i)]);
    if (al->alGetError() != 0) break;
    unsigned id = sources[static_cast<size_t>(i)];
    ++made;
    al->alSourcei(id, OAL_BUFFER, static_cast<int>(buffer));
    al->alSourcei(id, OAL_LOOPING, OAL_TRUE);
    al->alSourcei(id, OAL_SOURCE_RELATIVE, OAL_TRUE);
    al->alSourcef(id, OAL_ROLLOFF_FACTOR, 0.0f);
    al->alSourcef(id, OAL_PITCH, static_cast<float>(RateOf(i)) / 65536.0f);
    al->alSourcef(id, OAL_GAIN, static_cast<float>(VolumeOf(i)) / 4096.0f);
    const float x = static_cast<float>(PanOf(i)) / 4096.0f;
    al->alSource3f(id, OAL_POSITION, x, 0.0f, -std::sqrt(std::max(0.0f, 1.0f - x * x)));
    al->alSourcePlay(id);
  }
  std::vector<int16_t> out(kFragmentFrames * 2);
  const int fragments = static_cast<int>(seconds * AUDIO_OUTPUT_RATE / kFragmentFrames);
  al->alcRenderSamplesSOFT(dev, out.data(), kFragmentFrames);
  const double t0 = ThreadSeconds();
  for (int f = 0; f < fragments; ++f) al->alcRenderSamplesSOFT(dev, out.data(), kFragmentFrames);
  const double cpu = ThreadSeconds() - t0;
  int playing = 0;
  for (int i = 0; i < made; ++i)
    if (int st = 0; (al->alGetSourcei(sources[static_cast<size_t>(i)], OAL_SOURCE_STATE, &st), st == OAL_PLAYING)) ++playing;
  if (playing != voices) std::fprintf(stderr, "OpenAL Soft: only %d of %d sources played\n", playing, voices);
  al->alDeleteSources(made, sources.data());
  al->alDeleteBuffers(1, &buffer);
  al->alcMakeContextCurrent(nullptr);
  al->alcDestroyContext(ctx);
  al->alcCloseDevice(dev);
  return 100.0 * cpu / (fragments * static_cast<double>(kFragmentFrames) / AUDIO_OUTPUT_RATE);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  std::vector<int> counts = {256, 1024};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (a == "--voices" && i + 1 < argc) {
      counts.clear();
      for (char* p = argv[++i]; *p;) {
        counts.push_back(static_cast<int>(std::strtol(p, &p, 10)));
        if (*p == ',') ++p;
        else if (*p) break;
      }
    } else {
      std::printf("usage: mixer_peer_bench [--seconds S] [--voices N[,N...]]\n"
                  "Mixes N looping 16-bit mono voices with the software mixer and with OpenAL Soft's\n"
                  "loopback device, three turns each, and prints the share of one core each takes.\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }
  if (seconds <= 0 || counts.empty()) {
    std::fprintf(stderr, "mixer_peer_bench: nothing to measure\n");
    return 2;
  }
  const std::vector<int16_t> pcm = SinePcm();
  std::printf("%-7s %-12s %-28s %s\n", "voices", "mixer", "share of a core, 3 turns (%)", "median");
  for (int voices : counts) {
    std::vector<double> ours, peer;
    for (int turn = 0; turn < 3; ++turn) {
      ours.push_back(OursTurn(voices, seconds, pcm));
      peer.push_back(OpenALTurn(voices, seconds, pcm));
    }
    std::printf("%-7d %-12s %8.2f %8.2f %8.2f    %6.2f\n", voices, "Ormix", ours[0], ours[1], ours[2], Median(ours));
    if (peer[0] < 0)
      std::printf("%-7d %-12s (libopenal.so.1 with its loopback device is not available)\n", voices, "OpenAL Soft");
    else
      std::printf("%-7d %-12s %8.2f %8.2f %8.2f    %6.2f\n", voices, "OpenAL Soft", peer[0], peer[1], peer[2], Median(peer));
    std::fflush(stdout);
  }
  return 0;
}
