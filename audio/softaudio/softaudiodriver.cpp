#include "softaudiodriver.h"

#include "../backends.h"
#include "softaudiostream.h"

// "SoftAudio" tries the wave-out device, then the DirectSound one.
void RegisterSoftAudioDrivers() {
  if (DirectSoundAvailable()) new TSoftAudioAudioDriver(u"SoftAudio DirectSound", 1);
  new TSoftAudioAudioDriver(u"SoftAudio Multimedia", 0);
  new TSoftAudioAudioDriver(u"SoftAudio", -1);
}

int TSoftAudioAudioDriver::Startup() {
  if (_mode == 1) return fa_init(fa_opendsound()) == 0 ? 1 : 0;
  if (_mode == 0) return fa_init(fa_openwinmm()) == 0 ? 1 : 0;
  if (fa_init(fa_openwinmm()) == 0) return 1;
  return fa_init(fa_opendsound()) == 0 ? 1 : 0;
}

void TSoftAudioAudioDriver::Shutdown() { fa_close(); }

TSoundPtr TSoftAudioAudioDriver::CreateSound(const TAudioSamplePtr& source, int flags) {
  if (!source) return nullptr;
  TAudioSamplePtr sample = LittleEndianSample(source);
  const int channels = SampleChannels(sample->format);
  if (channels == 0) return nullptr;
  const int bits = SampleBytes(sample->format) * 8 / channels;
  fa_sound* fa = fa_createsound(sample->length, bits, channels, sample->hertz, sample->samples, flags & SOUND_LOOP);
  if (!fa) return nullptr;
  auto s = std::make_shared<TSoftAudioSound>();
  s->_fa = fa;
  return s;
}

TChannelPtr TSoftAudioAudioDriver::AllocChannel() {
  int32_t h = fa_allocchannel();
  if (h == 0) return nullptr;
  return std::make_shared<TSoftAudioChannel>(h);
}

std::shared_ptr<TAudioStream> TSoftAudioAudioDriver::CreateAudioStream(const TAudioStreamSourcePtr& source,
                                                                       int32_t paused) {
  // The ring voice plays on a channel of its own, so it never takes a sound's slot.
  TChannelPtr channel = AllocChannel();
  if (!channel) return nullptr;
  return TSoftAudioAudioStream::Build(source, paused, channel);
}

TSoftAudioSound::~TSoftAudioSound() { fa_freesound(_fa); }

TChannelPtr TSoftAudioSound::Start(const TChannelPtr& channel, int paused) {
  TSoftAudioChannel* given = nullptr;
  if (channel) {
    given = dynamic_cast<TSoftAudioChannel*>(channel.get());
    if (!given) return nullptr;
  }
  int32_t want = given ? given->fa_channel : 0;
  int32_t h = fa_play(_fa, paused, want);
  if (h == 0) return nullptr;
  if (given && h == want) return channel;
  return std::make_shared<TSoftAudioChannel>(h);
}

TChannelPtr TSoftAudioSound::Play(const TChannelPtr& channel) { return Start(channel, 0); }
TChannelPtr TSoftAudioSound::Cue(const TChannelPtr& channel) { return Start(channel, 1); }

TSoftAudioChannel::~TSoftAudioChannel() { fa_freechannel(fa_channel); }

void TSoftAudioChannel::Stop() {
  // The handle is given up with the voice, so the slot does not stay taken.
  fa_stop(fa_channel);
  fa_freechannel(fa_channel);
  fa_channel = 0;
}

void TSoftAudioChannel::SetPaused(int paused) { fa_setpaused(fa_channel, paused); }
void TSoftAudioChannel::SetVolume(float volume) { fa_setvolume(fa_channel, volume); }
void TSoftAudioChannel::SetPan(float pan) { fa_setpan(fa_channel, pan); }
void TSoftAudioChannel::SetDepth(float depth) { fa_setdepth(fa_channel, depth); }
void TSoftAudioChannel::SetRate(float rate) { fa_setrate(fa_channel, rate); }

int TSoftAudioChannel::Playing() {
  int32_t st = fa_status(fa_channel);
  return st != 0 && !(st & (FA_FINISHED | FA_PAUSED)) ? 1 : 0;
}

int64_t TSoftAudioChannel::Position() { return fa_position(fa_channel); }
