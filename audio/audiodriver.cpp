// The audio driver registry, the "Null" driver, and the global sound and voice functions.
#include <ormix/audio/audio.h>
#include "audiooutput.h"
#include "backends.h"
#include <ormix/runtime/registry.h>
#include <ormix/runtime/runtime.h>

namespace {
// Newest first: the list shows the most specific drivers before the "Null" one.
TRegistry<TAudioDriver*, TRegistryOrder::NewestFirst>& Drivers() {
  static auto* drivers = new TRegistry<TAudioDriver*, TRegistryOrder::NewestFirst>;  // outlives every driver
  return *drivers;
}
TAudioDriver* gNull = nullptr;

// Started in this order; as drivers are listed newest first, the last back end's drivers
// come first and are tried first.
const TAudioBackend kBackends[] = {
    {"dsound", RegisterDirectSoundDrivers},
    {"softaudio", RegisterSoftAudioDrivers},
};
TAudioDriver* gCurrent = nullptr;
}  // namespace

// ---- base sound: plays on new base channels ----

TChannelPtr TSound::Play(const TChannelPtr&) { return std::make_shared<TChannel>(); }
TChannelPtr TSound::Cue(const TChannelPtr&) { return std::make_shared<TChannel>(); }

TSoundPtr TSound::Load(const TAudioSource& source, int flags) {
  TAudioSamplePtr sample = source.Load();
  if (!sample) return nullptr;
  return CurrentAudioDriver()->CreateSound(sample, flags);
}

// ---- base driver: "Null" ----

TAudioDriver::TAudioDriver() { Drivers().Add(this); }

TAudioDriver::~TAudioDriver() {
  Drivers().Remove(this);
  if (gCurrent == this) gCurrent = gNull == this ? nullptr : gNull;
}

Text TAudioDriver::Name() { return u"Null"; }
int TAudioDriver::Startup() { return 1; }
void TAudioDriver::Shutdown() {}
TSoundPtr TAudioDriver::CreateSound(const TAudioSamplePtr&, int) { return std::make_shared<TSound>(); }
TChannelPtr TAudioDriver::AllocChannel() { return std::make_shared<TChannel>(); }
TSoundPtr TAudioDriver::LoadSound(const TAudioSource& source, int flags) { return TSound::Load(source, flags); }
std::shared_ptr<TAudioStream> TAudioDriver::CreateAudioStream(const std::shared_ptr<TAudioStreamSource>&, int32_t) {
  return nullptr;
}

// The deepest the software layers run ahead of the platform output (the SoftAudio
// DirectSound buffer, 8192 frames) plus two platform buffers of 512 frames.
void TAudioDriver::Drain() { AudioOutputDrain(8192 + 2 * AUDIO_OUTPUT_FRAMES, 1000); }

namespace {
uint32_t gPlayedOutAt = 0;
bool gPlayedOut = false;
// Drains the current driver when a stream played out within the time a drain takes.
void DrainAfterPlayOut(TAudioDriver* driver) {
  if (driver && gPlayedOut && ElapsedMillis() - gPlayedOutAt < 1000) driver->Drain();
  gPlayedOut = false;
}
}  // namespace

void NoteStreamPlayedOut() {
  gPlayedOut = true;
  gPlayedOutAt = ElapsedMillis();
}

TAudioDriver* AudioDrivers() { return Drivers().Front(); }

void InitAudioModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitStreamModule();
  new TAudioSampleLoaderWAV;
  new TAudioSampleLoaderOGG;
  gNull = new TAudioDriver;
  for (const TAudioBackend& backend : kBackends) backend.Register();
  OnEndProgram([] {
    DrainAfterPlayOut(gCurrent);
    if (gCurrent) gCurrent->Shutdown();
    gCurrent = gNull;
  });
}

TAudioDriver* NullAudioDriver() {
  InitAudioModule();
  return gNull;
}

std::vector<Text> ListAudioDrivers() {
  InitAudioModule();
  std::vector<Text> names;
  for (TAudioDriver* d : Drivers()) {
    if (names.size() >= 100) break;
    names.push_back(d->Name());
  }
  return names;
}

int HasAudioDriver(const Text& name) {
  InitAudioModule();
  return Drivers().FindNamed(name, [](TAudioDriver* d) { return d->Name(); }) ? 1 : 0;
}

int UseAudioDriver(const Text& name) {
  InitAudioModule();
  DrainAfterPlayOut(gCurrent);
  if (gCurrent) gCurrent->Shutdown();
  gCurrent = gNull;
  TAudioDriver* found = Drivers().FindNamed(name, [](TAudioDriver* d) { return d->Name(); });
  if (!found || !found->Startup()) return 0;
  gCurrent = found;
  return 1;
}

TAudioDriver* CurrentAudioDriver() {
  InitAudioModule();
  if (!gCurrent) {
    if (!UseAudioDriver(u"SoftAudio")) UseAudioDriver(u"Null");
  }
  return gCurrent;
}

TSoundPtr LoadSound(const TAudioSource& source, int flags) { return CurrentAudioDriver()->LoadSound(source, flags); }

TChannelPtr StartSound(const TSoundPtr& sound, const TChannelPtr& channel) {
  return sound ? sound->Play(channel) : nullptr;
}

TChannelPtr PrepareSound(const TSoundPtr& sound, const TChannelPtr& channel) {
  return sound ? sound->Cue(channel) : nullptr;
}

TChannelPtr AllocChannel() { return CurrentAudioDriver()->AllocChannel(); }

void StopVoice(const TChannelPtr& c) {
  if (c) c->Stop();
}
int VoicePlaying(const TChannelPtr& c) { return c ? c->Playing() : 0; }
void SetVoiceVolume(const TChannelPtr& c, float v) {
  if (c) c->SetVolume(v);
}
void SetVoicePan(const TChannelPtr& c, float p) {
  if (c) c->SetPan(p);
}
void SetVoiceDepth(const TChannelPtr& c, float d) {
  if (c) c->SetDepth(d);
}
void SetVoiceRate(const TChannelPtr& c, float r) {
  if (c) c->SetRate(r);
}
void PauseVoice(const TChannelPtr& c) {
  if (c) c->SetPaused(1);
}
void ResumeVoice(const TChannelPtr& c) {
  if (c) c->SetPaused(0);
}
