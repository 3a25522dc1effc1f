// Image, sound and font loaders fed from memory, and pixmaps and images read back as
// stored data objects.
#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "fuzz_entries.h"
#include "fuzz_streams.h"
#include <ormix/audio/audio.h>
#include <ormix/graphics/freetypefont.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/incbin.h>
#include <ormix/stream/bankstream.h>
#include <ormix/stream/stream.h>

int FuzzPixmap(const uint8_t* data, size_t size) {
  try {
    TPixmapPtr p = OpenPixmap(fuzzio::InputStream(data, size));
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
      TAudioSamplePtr s = loader->LoadAudioSample(fuzzio::InputStream(data, size));
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

// The first byte chooses pixmap or image, a sized stream or one like a socket, and a new
// object or one filled in place; the rest is the stored object. Whatever reads must write
// back as the very bytes it was read from; a stream that ends early reads as nothing.
int FuzzDataObject(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool image = data[0] & 1, socketLike = data[0] & 2, inPlace = data[0] & 4;
  const uint8_t* body = data + 1;
  const size_t length = size - 1;
  TStreamPtr in = socketLike ? std::make_shared<fuzzio::TSocketLikeStream>(body, length)
                             : fuzzio::InputStream(body, length);
  TDataType* type = image ? static_cast<TDataType*>(ImageDataType()) : PixmapDataType();
  try {
    TDataPtr object;
    if (inPlace) {
      object = image ? TDataPtr(std::make_shared<TImage>()) : TDataPtr(std::make_shared<TPixmap>());
      if (!type->ReadCyclicObject(*in, *object)) return 0;
    } else {
      object = type->ReadObject(*in);
      if (!object) return 0;
    }
    TBankPtr bank = NewBank();
    type->WriteObject(*OpenUrlStream(bank, 0, 1), *object);
    // A stream that cannot tell its size may end inside the last header field unnoticed
    // (its missing bytes read as 0): only that much may be made up.
    const size_t slack = socketLike ? 3 : 0;
    const size_t common = std::min(bank->size(), length);
    if (bank->size() > length + slack || std::memcmp(bank->data(), body, common) != 0) __builtin_trap();
  } catch (const std::exception&) {
  }
  return 0;
}
