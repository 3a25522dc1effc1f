// Image, sound and font loaders fed from memory.
#include <exception>
#include <string>

#include "fuzz_entries.h"
#include <ormix/audio/audio.h>
#include <ormix/graphics/freetypefont.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/incbin.h>
#include <ormix/stream/stream.h>

namespace {
TStreamPtr InputStream(const uint8_t* data, size_t size) {
  return TRamStream::Create(const_cast<uint8_t*>(data), static_cast<int64_t>(size), 1, 0);
}
}  // namespace

int FuzzPixmap(const uint8_t* data, size_t size) {
  try {
    TPixmapPtr p = OpenPixmap(InputStream(data, size));
    // Touch the last pixel row: a loader that reports more rows than it filled shows here.
    if (p && p->height > 0 && p->width > 0) {
      volatile uint8_t sink = *p->PixelPtr(p->width - 1, p->height - 1);
      (void)sink;
    }
  } catch (const std::exception&) {
  }
  return 0;
}

// The WAV and Ogg Vorbis loaders alone (the song-as-sample loader has its own target).
int FuzzSample(const uint8_t* data, size_t size) {
  InitAudioModule();
  static TAudioSampleLoaderWAV wav;
  static TAudioSampleLoaderOGG ogg;
  for (TAudioSampleLoader* loader : {static_cast<TAudioSampleLoader*>(&wav), static_cast<TAudioSampleLoader*>(&ogg)}) {
    try {
      TAudioSamplePtr s = loader->LoadAudioSample(InputStream(data, size));
      if (s && s->length > 0 && s->samples) {
        volatile uint8_t sink = s->samples[s->ByteSize() - 1];
        (void)sink;
      }
    } catch (const std::exception&) {
    }
  }
  return 0;
}

int FuzzFont(const uint8_t* data, size_t size) {
  // The font loader reads "protocol::path" urls whole into memory; the input is handed
  // over as an embedded resource.
  RegisterIncbin("fuzz-font", data, size);
  try {
    auto font = TFreeTypeFont::Load(u"incbin::fuzz-font", 16, 0);
    if (font) {
      for (int c : {0x41, 0x67, 0x20, 0x00E9, 0x4E2D}) font->LoadGlyph(font->CharToGlyph(c));
      for (int i = 0; i < 4 && i < font->CountGlyphs(); ++i) font->LoadGlyph(i);
    }
  } catch (const std::exception&) {
  }
  RegisterIncbin("fuzz-font", nullptr, 0);
  return 0;
}
