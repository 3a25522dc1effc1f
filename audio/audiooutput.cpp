#include "audiooutput.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct OutputState {
  std::mutex openLock;  // serialises attach and detach
  std::mutex mixLock;   // held by the callback while clients mix
  std::vector<TAudioOutputClient*> clients;
  SDL_AudioDeviceID device = 0;
  int32_t acc[AUDIO_OUTPUT_FRAMES * 2];
  std::mutex stepLock;  // held while the steps run; never while mixLock is held
  std::vector<std::pair<const void*, std::function<void()>>> steps;
  std::atomic<bool> lockstep{false};
  std::atomic<bool> manual{false};
  std::atomic<uint64_t> played{0};  // frames the platform callback has produced
};

OutputState& State() {
  static OutputState* state = new OutputState;  // lives until exit; the audio thread may use it
  return *state;
}

void Callback(void* platform, Uint8* stream, int len) {
  OutputState& s = State();
  if (platform) s.played.fetch_add(static_cast<uint64_t>(len / 4), std::memory_order_relaxed);
  int16_t* out = reinterpret_cast<int16_t*>(stream);
  int frames = len / 4;
  while (frames > 0) {
    int n = std::min(frames, AUDIO_OUTPUT_FRAMES);
    {
      std::lock_guard<std::mutex> g(s.stepLock);
      for (auto& step : s.steps) step.second();
    }
    std::memset(s.acc, 0, sizeof(int32_t) * 2 * n);
    {
      std::lock_guard<std::mutex> g(s.mixLock);
      for (TAudioOutputClient* c : s.clients) c->MixOutput(s.acc, n);
    }
    for (int i = 0; i < 2 * n; ++i) out[i] = static_cast<int16_t>(std::clamp(s.acc[i], -32768, 32767));
    out += 2 * n;
    frames -= n;
  }
}

// Opens and starts the platform output; openLock held.
bool OpenPlatform(OutputState& s) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  SDL_AudioSpec want{}, have{};
  want.freq = AUDIO_OUTPUT_RATE;
  want.format = AUDIO_S16SYS;
  want.channels = AUDIO_OUTPUT_CHANNELS;
  want.samples = AUDIO_OUTPUT_FRAMES;
  want.callback = Callback;
  want.userdata = &s;
  SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (dev == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  s.device = dev;
  SDL_PauseAudioDevice(dev, 0);
  return true;
}

// openLock held, mixLock not: closing waits for the audio thread, which may be waiting
// for mixLock.
void ClosePlatform(OutputState& s) {
  SDL_CloseAudioDevice(s.device);
  s.device = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

bool AudioOutputAvailable() { return SDL_GetNumAudioDrivers() > 0; }

bool AudioOutputAttach(TAudioOutputClient* client) {
  OutputState& s = State();
  std::lock_guard<std::mutex> g(s.openLock);
  if (!s.manual.load() && s.device == 0 && !OpenPlatform(s)) return false;
  std::lock_guard<std::mutex> m(s.mixLock);
  s.clients.push_back(client);
  return true;
}

void AudioOutputDetach(TAudioOutputClient* client) {
  OutputState& s = State();
  std::lock_guard<std::mutex> g(s.openLock);
  bool last = false;
  {
    std::lock_guard<std::mutex> m(s.mixLock);
    auto it = std::find(s.clients.begin(), s.clients.end(), client);
    if (it == s.clients.end()) return;
    s.clients.erase(it);
    last = s.clients.empty();
  }
  if (last && s.device != 0) ClosePlatform(s);
}

TAudioOutputLock::TAudioOutputLock() { State().mixLock.lock(); }
TAudioOutputLock::~TAudioOutputLock() { State().mixLock.unlock(); }

void AudioOutputSetLockstep(bool on) { State().lockstep = on; }

bool AudioOutputLockstep() {
#ifdef __EMSCRIPTEN__
  // A page has no threads to feed the output from: the output's callback runs the steps.
  return true;
#endif
  const char* env = std::getenv("ORMIX_AUDIO_LOCKSTEP");
  return State().lockstep.load() || State().manual.load() || (env && std::strcmp(env, "1") == 0);
}

void AudioOutputAddStep(const void* owner, std::function<void()> step) {
  OutputState& s = State();
  std::lock_guard<std::mutex> g(s.stepLock);
  s.steps.emplace_back(owner, std::move(step));
}

void AudioOutputRemoveStep(const void* owner) {
  OutputState& s = State();
  std::lock_guard<std::mutex> g(s.stepLock);
  s.steps.erase(std::remove_if(s.steps.begin(), s.steps.end(), [owner](const auto& e) { return e.first == owner; }),
                s.steps.end());
}

void AudioOutputSetManual(bool on) {
  OutputState& s = State();
  std::lock_guard<std::mutex> g(s.openLock);
  s.manual = on;
  // Clients already attached go with the change: driven by hand, or by the platform again.
  if (on && s.device != 0) ClosePlatform(s);
  if (!on && s.device == 0 && !s.clients.empty()) OpenPlatform(s);
}

void AudioOutputDrain(int frames, int maxMillis) {
  OutputState& s = State();
#ifdef __EMSCRIPTEN__
  return;  // the page plays on by itself; waiting would stop it from playing
#endif
  {
    std::lock_guard<std::mutex> g(s.openLock);
    if (s.manual.load() || s.device == 0) return;
  }
  const uint64_t until = s.played.load() + static_cast<uint64_t>(std::max(frames, 0));
  const Uint32 start = SDL_GetTicks();
  while (s.played.load() < until && SDL_GetTicks() - start < static_cast<Uint32>(std::max(maxMillis, 0))) SDL_Delay(2);
}

void AudioOutputRender(int16_t* out, int frames) {
  if (frames > 0) Callback(nullptr, reinterpret_cast<Uint8*>(out), frames * 4);
}
