#pragma once
// Music objects (anything that writes 16-bit PCM on request) and the registry of
// music loaders through which a file or stream becomes a music object.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <ormix/audio/audio.h>
#include <ormix/runtime/text.h>

class TStream;
using TStreamPtr = std::shared_ptr<TStream>;

// Sample layouts that FillBuffer can be asked to write (STREAM_FORMAT).
constexpr int32_t MUSIC_MONO8 = 200;
constexpr int32_t MUSIC_MONO16 = 201;
constexpr int32_t MUSIC_STEREO8 = 202;
constexpr int32_t MUSIC_STEREO16 = 203;

// Bytes per frame of a stream format; 0 for an unknown format.
int32_t FormatFrameSize(int32_t format);

// Property ids of TMusic's Seti/Geti (songs add theirs in mixer.h). Ids 1..3 are read-only.
constexpr int32_t MUSIC_ID_SIZE = 1;     // Geti: STREAM_SIZE (a song: its length in frames)
constexpr int32_t MUSIC_ID_POS = 2;      // Geti: STREAM_POS
constexpr int32_t MUSIC_ID_PLAYING = 3;  // Geti: PlayStatus
constexpr int32_t MUSIC_ID_FORMAT = 4;   // STREAM_FORMAT (MUSIC_MONO8..MUSIC_STEREO16)
constexpr int32_t MUSIC_ID_RATE = 5;     // SAMPLE_RATE
constexpr int32_t MUSIC_ID_LOOP = 7;     // STREAM_LOOP

// Common base of tracker songs and streamed wave files.
class TMusic {
public:
  Text DebugData;                       // log written by the loaders (WriteBug)
  int32_t PlayStatus = 0;               // 1 while producing sound
  int32_t SAMPLE_RATE = AUDIO_OUTPUT_RATE;  // output frames per second
  int32_t STREAM_FORMAT = MUSIC_STEREO16;
  int32_t STREAM_LOOP = 1;              // 1 = restart at the end
  int32_t STREAM_POS = 0;
  int32_t STREAM_SIZE = 0;

  TMusic() = default;
  TMusic(const TMusic&) = delete;
  TMusic& operator=(const TMusic&) = delete;
  virtual ~TMusic() = default;

  virtual void WriteBug(const Text& text);
  virtual void Free();
  // Writes `size` bytes of PCM in STREAM_FORMAT into buffer and advances the music.
  virtual int32_t FillBuffer(void* buffer, int32_t size) = 0;
  virtual int32_t Setf(int32_t id, double value);
  virtual double Getf(int32_t id);
  virtual int32_t Seti(int32_t id, int32_t value);
  virtual int32_t Geti(int32_t id);
  virtual Text GetS(int32_t id);
};
using TMusicPtr = std::shared_ptr<TMusic>;

// What a music loader is handed: an open stream, or a URL to open.
struct TMusicSource {
  TStreamPtr stream;  // set when the source is a stream
  Text url;           // used when stream is null

  TMusicSource(TStreamPtr s) : stream(std::move(s)) {}
  TMusicSource(Text u) : url(std::move(u)) {}
  TMusicSource(const char* utf8) : url(ToText(utf8)) {}
  TMusicSource(const char16_t* u) : url(u) {}
  bool IsStream() const { return stream != nullptr; }
};

using TMusicLoaderFunc = std::function<TMusicPtr(const TMusicSource&)>;

// One registered music format. The registry is an ordered list, oldest entry first.
class CantorLoader {
public:
  Text Name;              // display name for the file requester, e.g. Protracker ".mod"
  TMusicLoaderFunc Func;  // returns null for sources of other formats
  Text Ext;               // extension without the period

  // Appends a new entry to the registry; returns null (the registry keeps it).
  static std::shared_ptr<CantorLoader> Create(TMusicLoaderFunc func, const Text& name, const Text& ext);
  // Filter text for a file requester ("group:ext,ext;group:ext;...").
  static Text GetExtensions(int32_t allSupported, int32_t allFiles);
  // Tries every entry in registry order (a stream is rewound to 0 before each) and
  // returns the first music produced, or null.
  static TMusicPtr Load(const TMusicSource& source);

  // The registry itself, in registration order.
  static std::vector<std::shared_ptr<CantorLoader>>& Registry();
};

TMusicPtr LoadMusic(const TMusicSource& source);
// Why the most recent load gave nothing although a loader recognised the file's format
// (a song whose order list names no pattern the file holds, say); "" when no loader
// recognised it or the load succeeded. Loaders report through RefuseMusicLoad.
const Text& MusicLoadRefusal();
void RefuseMusicLoad(const Text& reason);
void ClearMusicLoadRefusal();
int32_t FreeMusic(const TMusicPtr& music);
Text GetMusicExtensions(int32_t allSupported, int32_t allFiles);

// `text` cut or padded with spaces to exactly `width` characters.
Text PadText(const Text& text, int32_t width);

// Three-character note names for note numbers 0..107 ("C 0", "A#3", "B 8").
constexpr int32_t NOTE_NAME_COUNT = 108;
const Text& NoteName(int32_t note);

// Module start-up. The base module creates the (empty) registry. The tracker module
// builds the note names, waveform tables and mixing work arrays and registers the
// mod, xm and qtk loaders after the wav entry of the streaming module, then adds the
// song-as-sound-sample loader. Both are idempotent.
void InitMusicBaseModule();
void InitTrackerModule();
// Everything the music engine needs, in the right order.
void InitMusicModule();
