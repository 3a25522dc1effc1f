#pragma once
// Music objects (anything that writes 16-bit PCM on request) and the registry of
// music loaders through which a file or stream becomes a music object.
#include <cstddef>
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

// Property ids of TMusic's Seti/Geti (songs add theirs below). Ids 1..3 are read-only.
constexpr int32_t MUSIC_ID_SIZE = 1;     // Geti: STREAM_SIZE (a song: its length in frames)
constexpr int32_t MUSIC_ID_POS = 2;      // Geti: STREAM_POS
constexpr int32_t MUSIC_ID_PLAYING = 3;  // Geti: PlayStatus
constexpr int32_t MUSIC_ID_FORMAT = 4;   // STREAM_FORMAT (MUSIC_MONO8..MUSIC_STEREO16)
constexpr int32_t MUSIC_ID_RATE = 5;     // SAMPLE_RATE
constexpr int32_t MUSIC_ID_LOOP = 7;     // STREAM_LOOP

// Property ids of tracker songs, besides TMusic's. Seti answers 1 when it took the value.
constexpr int32_t SONG_ID_TEMPO = 100;          // Seti/Geti: beats per minute, 1 or more
constexpr int32_t SONG_ID_SPEED = 101;          // Seti/Geti: ticks per line
constexpr int32_t SONG_ID_INTERPOLATE = 102;    // Seti/Geti: 1 = interpolated mixing
constexpr int32_t SONG_ID_SEPARATION = 103;     // Setf/Getf: stereo separation
constexpr int32_t SONG_ID_MIX_LEVEL = 104;      // Setf/Getf: output gain
constexpr int32_t SONG_ID_LINE = 110;           // Geti: current line
constexpr int32_t SONG_ID_ORDER = 111;          // Seti/Geti: current order position
constexpr int32_t SONG_ID_PATTERN = 112;        // Geti: current pattern
constexpr int32_t SONG_ID_TICK = 113;           // Geti: current tick
constexpr int32_t SONG_ID_EMIT_TICK = 114;      // Seti/Geti: 1 = a SONG_LINE_EVENT per line
constexpr int32_t SONG_ID_NAME = 115;           // GetS: the song's name
constexpr int32_t SONG_ID_SCOPES = 116;         // Seti: scope buffer size (0 = off)
// Seti/Geti: 1 = classic playback, the engine as first built (envelopes in percent, key
// off that never releases the sustain, effects beyond the basic set ignored, ...);
// 0 (the default) = playback faithful to the MOD and XM formats.
constexpr int32_t SONG_ID_CLASSIC = 117;

// How songs made from now on play MOD and XM records (SONG_ID_CLASSIC's starting value):
// 1 = classic playback, 0 = format playback (the default). It reaches every path that
// loads a song itself: LoadMusic, PlayMusic of a file or URL, LoadSound of a song.
void SetClassicPlaybackDefault(int32_t classic);
int32_t ClassicPlaybackDefault();

// Id of the event a playing song emits at the end of each line while SONG_ID_EMIT_TICK is
// on; the event's data is the line just finished.
constexpr int32_t SONG_LINE_EVENT = 501;

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
// Judges the first bytes of a source (fewer than CantorLoader::ProbeBytes at a short
// file): false when the loader surely refuses it. Allocates nothing.
using TMusicProbeFunc = bool (*)(const uint8_t* head, size_t size);

// One registered music format. The registry is an ordered list, oldest entry first.
class CantorLoader {
public:
  Text Name;              // display name for the file requester, e.g. Protracker ".mod"
  TMusicLoaderFunc Func;  // returns null for sources of other formats
  Text Ext;               // extension without the period
  TMusicProbeFunc Probe = nullptr;  // null: the loader is asked about every source

  // Bytes a probe is shown: enough for the MOD format tags at bytes 1080 and 1464.
  static constexpr size_t ProbeBytes = 1468;

  // Appends a new entry to the registry; returns null (the registry keeps it).
  static std::shared_ptr<CantorLoader> Create(TMusicLoaderFunc func, const Text& name, const Text& ext,
                                              TMusicProbeFunc probe = nullptr);
  // Filter text for a file requester ("group:ext,ext;group:ext;...").
  static Text GetExtensions(int32_t allSupported, int32_t allFiles);
  // Opens a URL source once and shows its first bytes to each entry's probe; tries the
  // entries whose probe accepts (or that have none) in registry order, the stream
  // rewound to 0 before each, and returns the first music produced, or null. A source
  // that cannot be rewound is tried as it is, on every entry.
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
