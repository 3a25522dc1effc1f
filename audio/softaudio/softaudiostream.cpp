#include "softaudiostream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "softaudiodriver.h"

std::shared_ptr<TSoftAudioAudioStream> TSoftAudioAudioStream::Build(const TAudioStreamSourcePtr& source, int32_t p,
                                                                    const TChannelPtr& channel) {
  auto* sc = dynamic_cast<TSoftAudioChannel*>(channel.get());
  if (!sc || sc->fa_channel == 0) return nullptr;
  std::vector<uint8_t> zeros(RING_BYTES, 0);
  fa_sound* ring = fa_createsound(RING_BYTES / FRAME_BYTES, 16, 2, AUDIO_OUTPUT_RATE, zeros.data(), 1, true);
  if (!ring) return nullptr;
  auto s = std::make_shared<TSoftAudioAudioStream>();
  s->_channel = channel;
  s->_ring = ring;
  s->StartRing(source);
  s->_handle = fa_play(ring, p, sc->fa_channel, 0);
  if (s->_handle == 0) {
    // The stream never played: it lets go of the source without releasing what it plays
    // (the caller that asked for the stream still owns that).
    s->Music.reset();
    s->Stop();
    return nullptr;
  }
  if (p) s->paused = p;
  return s;
}

TSoftAudioAudioStream::~TSoftAudioAudioStream() {
  if (_ring) {
    if (_handle) fa_stop(_handle);
    fa_freesound(_ring);
  }
  ReleaseMusic();  // music the stream loaded itself goes with it
}

uint32_t TSoftAudioAudioStream::PlayCursor() {
  if (!_handle) return 0;
  int64_t samples = fa_position(_handle);
  uint32_t bytes = static_cast<uint32_t>(samples * 2) % RING_BYTES;
  return bytes & ~static_cast<uint32_t>(FRAME_BYTES - 1);
}

bool TSoftAudioAudioStream::WriteRing(uint32_t offset, uint32_t bytes, bool silence) {
  // The ring's bytes are ours; the mixer only reads them, behind the play cursor's lead.
  uint8_t* base = _ring->owned.get();
  while (bytes > 0) {
    uint32_t n = std::min<uint32_t>(bytes, RING_BYTES - offset);
    if (silence) std::memset(base + offset, 0, n);
    else Render(base + offset, static_cast<int32_t>(n));
    bytes -= n;
    offset = (offset + n) % RING_BYTES;
  }
  return true;
}

void TSoftAudioAudioStream::Stop() {
  if (!_ring) return;
  TAudioStreamPtr self = shared_from_this();
  Detach();
  if (_handle) fa_stop(_handle);
  fa_freesound(_ring);
  _ring = nullptr;
  _handle = 0;
  _channel.reset();
  ReleaseMusic();
}

void TSoftAudioAudioStream::SetPaused(int p) {
  if (!_ring) return;
  if (p) paused = p;
  else {
    paused = 0;
    if (Music) Music->Start();
  }
  fa_setpaused(_handle, p ? 1 : 0);
}

void TSoftAudioAudioStream::SetVolume(float v) {
  if (_handle) fa_setvolume(_handle, std::clamp(v, 0.0f, 1.0f));
}
void TSoftAudioAudioStream::SetPan(float p) {
  if (_handle) fa_setpan(_handle, std::clamp(p, -1.0f, 1.0f));
}
void TSoftAudioAudioStream::SetRate(float r) {
  if (_handle) fa_setrate(_handle, r);
}
int TSoftAudioAudioStream::Playing() {
  if (!_handle) return 0;
  return (fa_status(_handle) & FA_PLAYING) && !(fa_status(_handle) & FA_PAUSED) ? 1 : 0;
}
