// Loader of uncompressed PCM wave files streamed as music (TWavStream).
#include "wav_loader.h"

#include <algorithm>
#include <cstring>

#include <ormix/audio/wavefile.h>
#include <ormix/runtime/runtime.h>
#include <ormix/stream/stream.h>

std::shared_ptr<TWavStream> TWavStream::Load(const TMusicSource& source) {
  TStreamPtr s = source.stream ? OpenForReading(source.stream) : OpenForReading(source.url);
  if (!s) return nullptr;
  if (s->Seek(s->Pos() < 0 ? 0 : s->Pos()) < 0 || s->Pos() < 0) {
    // Not seekable: read it whole and play it from memory.
    s = TRamStream::FromBytes(LoadAllBytes(s));
  }
  TWaveLayout wave;
  if (!ReadWaveHeader(*s, wave) || wave.format.rate <= 0) return nullptr;
  int32_t format;
  if (wave.format.bits == 8) format = wave.format.channels == 1 ? MUSIC_MONO8 : MUSIC_STEREO8;
  else format = wave.format.channels == 1 ? MUSIC_MONO16 : MUSIC_STEREO16;
  // No data chunk plays nothing; one that claims more than the file holds plays what is
  // there.
  int32_t dataSize = static_cast<int32_t>(std::min<int64_t>(wave.hasData ? wave.bytes : 0, INT32_MAX));
  dataSize -= dataSize % FormatFrameSize(format);
  auto w = std::make_shared<TWavStream>();
  w->stream = s;
  w->SAMPLE_RATE = wave.format.rate;
  w->STREAM_FORMAT = format;
  w->STREAM_SIZE = dataSize;
  w->STREAM_POS = 0;
  w->loopseek = static_cast<int32_t>(s->Pos());
  return w;
}

bool ProbeWAV(const uint8_t* head, size_t size) {
  return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

TMusicPtr LoadWAV(const TMusicSource& source) { return TWavStream::Load(source); }
