#include "openal.h"

#include <chrono>
#include <thread>

#include "openalstream.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>

namespace {

TOpenALApi* Load() {
  void* lib = dlopen("libopenal.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return nullptr;
  auto* api = new TOpenALApi{};
  bool ok = true;
  auto get = [&](auto& fn, const char* name) {
    void* p = dlsym(lib, name);
    if (!p) ok = false;
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(p);
  };
  get(api->alcOpenDevice, "alcOpenDevice");
  get(api->alcCloseDevice, "alcCloseDevice");
  get(api->alcCreateContext, "alcCreateContext");
  get(api->alcMakeContextCurrent, "alcMakeContextCurrent");
  get(api->alcDestroyContext, "alcDestroyContext");
  get(api->alcGetString, "alcGetString");
  get(api->alcIsExtensionPresent, "alcIsExtensionPresent");
  get(api->alcGetError, "alcGetError");
  get(api->alGetError, "alGetError");
  get(api->alDistanceModel, "alDistanceModel");
  get(api->alGenBuffers, "alGenBuffers");
  get(api->alDeleteBuffers, "alDeleteBuffers");
  get(api->alBufferData, "alBufferData");
  get(api->alGenSources, "alGenSources");
  get(api->alDeleteSources, "alDeleteSources");
  get(api->alSourcei, "alSourcei");
  get(api->alSourcef, "alSourcef");
  get(api->alSource3f, "alSource3f");
  get(api->alGetSourcei, "alGetSourcei");
  get(api->alSourcePlay, "alSourcePlay");
  get(api->alSourceStop, "alSourceStop");
  get(api->alSourcePause, "alSourcePause");
  get(api->alSourceRewind, "alSourceRewind");
  get(api->alSourceQueueBuffers, "alSourceQueueBuffers");
  get(api->alSourceUnqueueBuffers, "alSourceUnqueueBuffers");
  if (ok) {
    api->alcLoopbackOpenDeviceSOFT =
        reinterpret_cast<decltype(api->alcLoopbackOpenDeviceSOFT)>(dlsym(lib, "alcLoopbackOpenDeviceSOFT"));
    api->alcRenderSamplesSOFT = reinterpret_cast<decltype(api->alcRenderSamplesSOFT)>(dlsym(lib, "alcRenderSamplesSOFT"));
  }
  if (!ok) {
    delete api;
    dlclose(lib);
    return nullptr;
  }
  return api;  // kept for the life of the process
}

int32_t gGeneration = 1;
TOpenALAudioDriver* gActive = nullptr;

int State(const TOpenALApi* al, unsigned id) {
  int st = OAL_INITIAL;
  al->alGetSourcei(id, OAL_SOURCE_STATE, &st);
  return st;
}

}  // namespace

const TOpenALApi* OpenALApi() {
  static TOpenALApi* api = Load();
  return api;
}

TOpenALAudioDriver* ActiveOpenALDriver() { return gActive; }

int OpenALRenderLoopback(int16_t* out, int frames) {
  const TOpenALApi* al = OpenALApi();
  if (!al || !gActive || !gActive->_loopback || !gActive->_device || frames <= 0) return 0;
  al->alcRenderSamplesSOFT(gActive->_device, out, frames);
  return 1;
}
int32_t OpenALGeneration() { return gGeneration; }

int TOpenALSource::InUse() const {
  if (_pinned || _cued) return 1;
  int st = State(OpenALApi(), _id);
  return st == OAL_PLAYING || st == OAL_PAUSED;
}

// ---- driver ----

int TOpenALAudioDriver::Startup() {
  const TOpenALApi* al = OpenALApi();
  if (!al) return 0;
  void* dev = nullptr;
  // Loopback: 16-bit stereo at the output rate.
  static const int kLoopbackFormat[] = {0x1990 /* channels */, 0x1501 /* stereo */, 0x1991 /* type */,
                                        0x1402 /* short */,   0x1007 /* frequency */, AUDIO_OUTPUT_RATE, 0};
  if (_loopback) {
    if (!al->alcLoopbackOpenDeviceSOFT || !al->alcRenderSamplesSOFT) return 0;
    dev = al->alcLoopbackOpenDeviceSOFT(nullptr);
  } else if (!_devname.empty()) {
    dev = al->alcOpenDevice(_devname.c_str());
  } else {
    dev = al->alcOpenDevice(nullptr);
    if (!dev) dev = al->alcOpenDevice("Generic Hardware");
    if (!dev) dev = al->alcOpenDevice("Generic Software");
  }
  if (!dev) return 0;
  void* ctx = al->alcCreateContext(dev, _loopback ? kLoopbackFormat : nullptr);
  if (!ctx || !al->alcMakeContextCurrent(ctx)) {
    if (ctx) al->alcDestroyContext(ctx);
    al->alcCloseDevice(dev);
    return 0;
  }
  al->alDistanceModel(OAL_NONE);
  _device = dev;
  _context = ctx;
  gActive = this;
  return 1;
}

void TOpenALAudioDriver::Shutdown() {
  const TOpenALApi* al = OpenALApi();
  ++gGeneration;
  if (gActive == this) gActive = nullptr;
  if (!al || !_device) return;
  for (TOpenALSourcePtr s = _sources; s; s = s->_succ) {
    al->alSourceStop(s->_id);
    al->alDeleteSources(1, &s->_id);
  }
  _sources.reset();
  al->alcMakeContextCurrent(nullptr);
  al->alcDestroyContext(_context);
  al->alcCloseDevice(_device);
  _context = nullptr;
  _device = nullptr;
}

TSoundPtr TOpenALAudioDriver::CreateSound(const TAudioSamplePtr& source, int flags) {
  const TOpenALApi* al = OpenALApi();
  if (!source || !al || !_context) return nullptr;
  TAudioSamplePtr sample = LittleEndianSample(source);
  int format = 0;
  switch (sample->format) {
    case SF_MONO8: format = OAL_FORMAT_MONO8; break;
    case SF_MONO16LE: format = OAL_FORMAT_MONO16; break;
    case SF_STEREO8: format = OAL_FORMAT_STEREO8; break;
    case SF_STEREO16LE: format = OAL_FORMAT_STEREO16; break;
    default: return nullptr;  // no channels: nothing to upload
  }
  auto s = std::make_shared<TOpenALSound>();
  al->alGetError();
  al->alGenBuffers(1, &s->_buffer);
  al->alBufferData(s->_buffer, format, sample->samples, static_cast<int>(std::min<size_t>(sample->ByteSize(), INT32_MAX)),
                   sample->hertz);
  s->_loop = flags & SOUND_LOOP;
  s->_generation = gGeneration;
  return s;
}

TChannelPtr TOpenALAudioDriver::AllocChannel() {
  auto c = std::make_shared<TOpenALChannel>();
  c->_static = 1;
  c->Acquire();
  return c;
}

std::shared_ptr<TAudioStream> TOpenALAudioDriver::CreateAudioStream(const TAudioStreamSourcePtr& source,
                                                                    int32_t paused) {
  return TOpenALAudioStream::Build(source, paused);
}

// ---- sound ----

TOpenALSound::~TOpenALSound() {
  const TOpenALApi* al = OpenALApi();
  if (!al || _generation != gGeneration || !gActive) return;
  // A buffer attached to a source cannot be deleted: detach it wherever it is.
  for (TOpenALSourcePtr s = gActive->_sources; s; s = s->_succ)
    if (s->_sound == this) {
      al->alSourceStop(s->_id);
      al->alSourcei(s->_id, OAL_BUFFER, 0);
      s->_sound = nullptr;
      s->_cued = 0;
    }
  al->alDeleteBuffers(1, &_buffer);
}

TChannelPtr TOpenALSound::Cue(const TChannelPtr& channel) {
  auto c = std::dynamic_pointer_cast<TOpenALChannel>(channel);
  if (!c) c = std::make_shared<TOpenALChannel>();
  c->Cue(this);
  return c;
}

TChannelPtr TOpenALSound::Play(const TChannelPtr& channel) {
  TChannelPtr c = Cue(channel);
  if (c) c->SetPaused(0);
  return c;
}

// ---- channel ----

TOpenALChannel::~TOpenALChannel() {
  if (!Bound()) return;
  if (_static) _source->_pinned = 0;
  if (_source->_cued) {
    OpenALApi()->alSourceStop(_source->_id);
    _source->_cued = 0;
  }
}

int TOpenALChannel::Bound() const {
  return _source && _seq == _source->_seq && _generation == gGeneration && gActive;
}

int TOpenALChannel::Acquire() {
  const TOpenALApi* al = OpenALApi();
  if (!al || !gActive) return 0;
  TOpenALSourcePtr src;
  for (TOpenALSourcePtr s = gActive->_sources; s; s = s->_succ)
    if (!s->InUse()) {
      src = s;
      break;
    }
  if (!src) {
    unsigned id = 0;
    al->alGetError();
    al->alGenSources(1, &id);
    if (al->alGetError() != 0 || id == 0) return 0;
    src = std::make_shared<TOpenALSource>();
    src->_id = id;
    src->_succ = gActive->_sources;
    gActive->_sources = src;
  }
  ++src->_seq;  // any channel that held it before lets go
  src->_pinned = _static;
  src->_cued = 0;
  _source = src;
  _seq = src->_seq;
  _generation = gGeneration;
  al->alSourceStop(src->_id);
  al->alSourcei(src->_id, OAL_SOURCE_RELATIVE, OAL_TRUE);
  al->alSourcef(src->_id, OAL_GAIN, 1.0f);
  al->alSourcef(src->_id, OAL_PITCH, 1.0f);
  al->alSource3f(src->_id, OAL_POSITION, 0.0f, 0.0f, 0.0f);
  return 1;
}

int TOpenALChannel::Cue(TOpenALSound* sound) {
  const TOpenALApi* al = OpenALApi();
  if (!al || !sound || sound->_generation != gGeneration) return 0;
  if (!Bound() && !Acquire()) return 0;
  al->alSourceStop(_source->_id);
  al->alSourcei(_source->_id, OAL_LOOPING, sound->_loop ? OAL_TRUE : OAL_FALSE);
  al->alSourcei(_source->_id, OAL_BUFFER, static_cast<int>(sound->_buffer));
  _source->_sound = sound;
  _source->_cued = 1;
  return 1;
}

void TOpenALChannel::Stop() {
  if (!Bound()) return;
  OpenALApi()->alSourceStop(_source->_id);
  _source->_cued = 0;
  if (_static) {
    _source->_pinned = 0;  // back to the pool
    _source.reset();
  }
}

void TOpenALChannel::SetPaused(int paused) {
  if (!Bound()) return;
  if (paused) OpenALApi()->alSourcePause(_source->_id);
  else OpenALApi()->alSourcePlay(_source->_id);
  _source->_cued = 0;
}

void TOpenALChannel::SetVolume(float volume) {
  if (Bound()) OpenALApi()->alSourcef(_source->_id, OAL_GAIN, volume);
}

void TOpenALChannel::SetRate(float rate) {
  if (Bound()) OpenALApi()->alSourcef(_source->_id, OAL_PITCH, rate);
}

void TOpenALChannel::SetPan(float pan) {
  if (!Bound()) return;
  double a = std::clamp(pan, -1.0f, 1.0f) * 90.0 * M_PI / 180.0;
  OpenALApi()->alSource3f(_source->_id, OAL_POSITION, static_cast<float>(std::sin(a)), 0.0f,
                          static_cast<float>(-std::cos(a)));
}

int TOpenALChannel::Playing() {
  if (!Bound()) return 0;
  return State(OpenALApi(), _source->_id) == OAL_PLAYING ? 1 : 0;
}

// ---- registration ----

int RegisterOpenALDrivers() {
  static int answer = -1;
  if (answer >= 0) return answer;
  InitAudioModule();
  const TOpenALApi* al = OpenALApi();
  if (!al) return answer = 0;
  const char* list = nullptr;
  if (al->alcIsExtensionPresent(nullptr, "ALC_ENUMERATE_ALL_EXT"))
    list = al->alcGetString(nullptr, OALC_ALL_DEVICES_SPECIFIER);
  else if (al->alcIsExtensionPresent(nullptr, "ALC_ENUMERATION_EXT"))
    list = al->alcGetString(nullptr, OALC_DEVICE_SPECIFIER);
  for (const char* p = list; p && *p; p += std::string(p).size() + 1)
    new TOpenALAudioDriver(u"OpenAL " + ToText(p), p);
  new TOpenALAudioDriver(u"OpenAL", "");
  return answer = 1;
}

void TOpenALAudioDriver::Drain() {
  // A loopback device renders only when asked: nothing is in flight.
  if (_loopback || !_device) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
