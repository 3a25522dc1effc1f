// Loader of uncompressed PCM wave files streamed as music (TWavStream).
#include "wav_loader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <ormix/runtime/runtime.h>
#include <ormix/stream/stream.h>

namespace {
// Four bytes in file order; fewer than four available gives an empty tag.
std::string ReadTag(TStream& s) {
  char t[4];
  int got = 0;
  while (got < 4 && !s.Eof()) {
    int n = s.Read(t + got, 4 - got);
    if (n <= 0) break;
    got += n;
  }
  return got == 4 ? std::string(t, 4) : std::string();
}
}  // namespace

std::shared_ptr<TWavStream> TWavStream::Load(const TMusicSource& source) {
  TStreamPtr s = source.stream ? OpenForReading(source.stream) : OpenForReading(source.url);
  if (!s) return nullptr;
  if (s->Seek(s->Pos() < 0 ? 0 : s->Pos()) < 0 || s->Pos() < 0) {
    // Not seekable: read it whole and play it from memory.
    s = TRamStream::FromBytes(LoadAllBytes(s));
  }
  if (ReadTag(*s) != "RIFF") return nullptr;
  s->ReadInt();
  if (ReadTag(*s) != "WAVE" || ReadTag(*s) != "fmt ") return nullptr;
  int32_t length = s->ReadInt();
  int tag = s->ReadShort();
  int channels = s->ReadShort();
  int32_t rate = s->ReadInt();
  s->ReadInt();
  s->ReadShort();
  int bits = s->ReadShort();
  if (tag != 1) return nullptr;
  int32_t format;
  if (bits == 8 && channels == 1) format = MUSIC_MONO8;
  else if (bits == 8 && channels == 2) format = MUSIC_STEREO8;
  else if (bits == 16 && channels == 1) format = MUSIC_MONO16;
  else if (bits == 16 && channels == 2) format = MUSIC_STEREO16;
  else return nullptr;
  if (rate <= 0) return nullptr;
  if (length > 16) s->SkipBytes(length - 16);
  int32_t dataSize = 0;
  while (!s->Eof()) {
    std::string t = ReadTag(*s);
    if (t.empty()) break;
    int32_t n = s->ReadInt();
    if (t == "data") {
      dataSize = n;
      break;
    }
    if (n < 0) break;
    s->SkipBytes(n);
  }
  // A data chunk that claims more than the file holds plays what is there.
  int64_t left = s->Size() - s->Pos();
  if (dataSize < 0 || dataSize > left) dataSize = static_cast<int32_t>(std::max<int64_t>(0, left));
  dataSize -= dataSize % FormatFrameSize(format);
  auto w = std::make_shared<TWavStream>();
  w->stream = s;
  w->SAMPLE_RATE = rate;
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
