#include "dsoundstream.h"

#include <algorithm>
#include <cstring>

#include <ormix/runtime/runtime.h>

namespace {
TDSDevicePtr gDevice;  // the streams' own DirectSound device
}  // namespace

int32_t TDirectSoundAudioStream::Startup() {
  TDSDevicePtr dev;
  if (DirectSoundCreate(dev) != DS_OK || !dev) return 0;
  if (dev->SetCooperativeLevel(nullptr, DSSCL_PRIORITY) != DS_OK) {
    dev->Shutdown();
    return 0;
  }
  gDevice = dev;
  return 1;
}

void TDirectSoundAudioStream::ShutDown() {
  if (gDevice) gDevice->Shutdown();
  gDevice.reset();
}

std::shared_ptr<TDirectSoundAudioStream> TDirectSoundAudioStream::Build(const TAudioStreamSourcePtr& source,
                                                                        int32_t p) {
  if (!gDevice) {
    if (!Startup()) return nullptr;  // no usable device: never touch it
    OnEndProgram(ShutDown);
  }
  TWaveFormat fmt;
  fmt.formatTag = 1;
  fmt.channels = 2;
  fmt.samplesPerSec = AUDIO_OUTPUT_RATE;
  fmt.bitsPerSample = 16;
  fmt.blockAlign = FRAME_BYTES;
  fmt.avgBytesPerSec = AUDIO_OUTPUT_RATE * FRAME_BYTES;
  TDSBufferDesc desc;
  desc.flags = 0x180E0;
  desc.bufferBytes = RING_BYTES;
  desc.format = &fmt;
  TDSBufferPtr buffer;
  if (gDevice->CreateSoundBuffer(desc, buffer) != DS_OK || !buffer) return nullptr;
  auto s = std::make_shared<TDirectSoundAudioStream>();
  s->pDSB = buffer;
  s->StartRing(source);
  // Start (or stay paused) without SetPaused's resume rule: a source that already ended
  // while the ring was first filled must not be marked playing again and start over.
  if (p) s->SetPaused(p);
  else buffer->Play(0, 0, DSBPLAY_LOOPING);
  return s;
}

TDirectSoundAudioStream::~TDirectSoundAudioStream() {
  if (pDSB) pDSB->Stop();
  ReleaseMusic();  // music the stream loaded itself goes with it
}

uint32_t TDirectSoundAudioStream::PlayCursor() {
  uint32_t play = 0, write = 0;
  if (pDSB) pDSB->GetCurrentPosition(&play, &write);
  return play;
}

bool TDirectSoundAudioStream::WriteRing(uint32_t offset, uint32_t bytes, bool silence) {
  uint32_t status = 0;
  if (pDSB->GetStatus(&status) == DS_OK && (status & DSBSTATUS_BUFFERLOST)) pDSB->Restore();
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  if (pDSB->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0) != DS_OK) return false;
  if (silence) {
    if (p1) std::memset(p1, 0, n1);
    if (p2) std::memset(p2, 0, n2);
  } else {
    if (p1 && n1) Render(p1, static_cast<int32_t>(n1));
    if (p2 && n2) Render(p2, static_cast<int32_t>(n2));
  }
  pDSB->Unlock(p1, n1, p2, n2);
  return true;
}

void TDirectSoundAudioStream::Stop() {
  if (!pDSB) return;
  TAudioStreamPtr self = shared_from_this();
  Detach();
  pDSB->Stop();
  ReleaseMusic();
  pDSB.reset();
}

void TDirectSoundAudioStream::SetPaused(int p) {
  if (!pDSB) return;
  if (p) {
    paused = p;
    pDSB->Stop();
  } else {
    if (Music) Music->Start();
    pDSB->Play(0, 0, DSBPLAY_LOOPING);
  }
}

void TDirectSoundAudioStream::SetVolume(float v) {
  if (pDSB) pDSB->SetVolume(StreamVolumeToDecibels(v));
}

void TDirectSoundAudioStream::SetPan(float p) {
  if (pDSB) pDSB->SetPan(static_cast<int32_t>(std::clamp(p, -1.0f, 1.0f) * 10000.0f));
}

void TDirectSoundAudioStream::SetRate(float r) {
  if (pDSB) pDSB->SetFrequency(static_cast<uint32_t>(std::max(0.0f, r * static_cast<float>(samplerate))));
}

int TDirectSoundAudioStream::Playing() {
  if (!pDSB) return 0;
  uint32_t status = 0;
  pDSB->GetStatus(&status);
  return (status & DSBSTATUS_PLAYING) ? 1 : 0;
}
