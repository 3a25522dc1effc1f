#pragma once
// Entry points of the fuzz targets. Each takes one input as libFuzzer hands it over and
// returns 0; a crash, a sanitizer report, a hang or an oversized allocation is the
// finding. The libFuzzer executables (ORMIX_FUZZ) and the replay test call the same
// functions.
#include <cstddef>
#include <cstdint>

using TFuzzEntry = int (*)(const uint8_t* data, size_t size);

int FuzzMusicRegistry(const uint8_t* data, size_t size);  // every song loader, then a short render
int FuzzMusicMod(const uint8_t* data, size_t size);
int FuzzMusicXm(const uint8_t* data, size_t size);
int FuzzMusicQtk(const uint8_t* data, size_t size);
int FuzzMusicWav(const uint8_t* data, size_t size);       // wave-file music
int FuzzSongSample(const uint8_t* data, size_t size);     // a song loaded as a sound sample
int FuzzPixmap(const uint8_t* data, size_t size);         // PNG, JPEG, BMP, TGA chain
int FuzzSample(const uint8_t* data, size_t size);         // WAV and Ogg Vorbis samples
int FuzzFont(const uint8_t* data, size_t size);
int FuzzSettings(const uint8_t* data, size_t size);       // settings-file lines and Unscramble
int FuzzScoreReply(const uint8_t* data, size_t size);     // score-reply scan
int FuzzHttpReply(const uint8_t* data, size_t size);      // the HTTP reply reader
int FuzzUrl(const uint8_t* data, size_t size);            // URLs given to the stream factories
int FuzzTextStream(const uint8_t* data, size_t size);     // latin1/utf8/utf16 text streams
int FuzzDataObject(const uint8_t* data, size_t size);     // stored pixmaps and images
int FuzzScoreRequest(const uint8_t* data, size_t size);   // the score service's requests

struct TFuzzTarget {
  const char* name;  // folder name under fuzz/regressions/ and fuzz/seeds/
  TFuzzEntry entry;
};

inline constexpr TFuzzTarget kFuzzTargets[] = {
    {"music_registry", FuzzMusicRegistry}, {"music_mod", FuzzMusicMod},
    {"music_xm", FuzzMusicXm},             {"music_qtk", FuzzMusicQtk},
    {"music_wav", FuzzMusicWav},           {"song_sample", FuzzSongSample},
    {"pixmap", FuzzPixmap},                {"sample", FuzzSample},
    {"font", FuzzFont},                    {"settings", FuzzSettings},
    {"score_reply", FuzzScoreReply},       {"http_reply", FuzzHttpReply},
    {"url", FuzzUrl},                      {"text_stream", FuzzTextStream},
    {"data_object", FuzzDataObject},       {"score_request", FuzzScoreRequest},
};
