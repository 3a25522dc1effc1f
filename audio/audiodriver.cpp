// The audio driver registry, the "Null" driver, and the global sound and voice functions.
#include <ormix/audio/audio.h>
#include "dsound/dsounddriver.h"
#include "softaudio/softaudiodriver.h"
#include <ormix/runtime/runtime.h>

namespace {
TAudioDriver* gHead = nullptr;
TAudioDriver* gNull = nullptr;
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

TAudioDriver::TAudioDriver() {
  _succ = gHead;
  gHead = this;
}

TAudioDriver::~TAudioDriver() {
  for (TAudioDriver** p = &gHead; *p; p = &(*p)->_succ)
    if (*p == this) {
      *p = _succ;
      break;
    }
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

TAudioDriver* AudioDrivers() { return gHead; }

void InitAudioModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitStreamModule();
  new TAudioSampleLoaderWAV;
  new TAudioSampleLoaderOGG;
  gNull = new TAudioDriver;
  // DirectSound module, then SoftAudio module.
  bool ds = DirectSoundAvailable();
  if (ds) new TDirectSoundAudioDriver(u"DirectSound", 0);
  if (ds) new TSoftAudioAudioDriver(u"SoftAudio DirectSound", 1);
  new TSoftAudioAudioDriver(u"SoftAudio Multimedia", 0);
  new TSoftAudioAudioDriver(u"SoftAudio", -1);
  OnEndProgram([] {
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
  for (TAudioDriver* d = gHead; d && names.size() < 100; d = d->_succ) names.push_back(d->Name());
  return names;
}

int HasAudioDriver(const Text& name) {
  InitAudioModule();
  Text want = ToLower(name);
  for (TAudioDriver* d = gHead; d; d = d->_succ)
    if (ToLower(d->Name()) == want) return 1;
  return 0;
}

int UseAudioDriver(const Text& name) {
  InitAudioModule();
  Text want = ToLower(name);
  if (gCurrent) gCurrent->Shutdown();
  gCurrent = gNull;
  TAudioDriver* found = nullptr;
  for (TAudioDriver* d = gHead; d && !found; d = d->_succ)
    if (ToLower(d->Name()) == want) found = d;
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
