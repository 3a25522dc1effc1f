#pragma once
// The in-memory tracker song records: tracks, patterns, instruments with their
// samples and volume envelope. The song object that owns them is Cantor_Mixer
// (player/song_player.h).
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/music/music.h>

class Cantor_Mixer;
class Cantor_Track;
class Cantor_Pattern;
class Cantor_EnvelopePoint;
class Cantor_Sample;
class Cantor_Instrument;
using Cantor_MixerPtr = std::shared_ptr<Cantor_Mixer>;
using Cantor_TrackPtr = std::shared_ptr<Cantor_Track>;
using Cantor_PatternPtr = std::shared_ptr<Cantor_Pattern>;
using Cantor_EnvelopePointPtr = std::shared_ptr<Cantor_EnvelopePoint>;
using Cantor_SamplePtr = std::shared_ptr<Cantor_Sample>;
using Cantor_InstrumentPtr = std::shared_ptr<Cantor_Instrument>;

// A memory bank as the loaders pass it around: raw bytes.
using TBank = std::vector<uint8_t>;

// Note value that keys a note off.
constexpr int32_t KeyOffNote = 96;
// The XM loader stores the file's lowest note (C-0, note byte 1) as this value: classic
// playback reads it as no note, format playback as C-0.
constexpr int32_t XmLowestNote = -2;

// Where a song's records came from; format playback reads notes, envelopes and pans
// with the meaning of that format.
constexpr int32_t SONG_FROM_NATIVE = 0;
constexpr int32_t SONG_FROM_MOD = 1;
constexpr int32_t SONG_FROM_XM = 2;

// XM mixing: a linear pan at a fixed level; a linear pan at a level that shares the
// headroom among the song's channels; an equal-power pan.
constexpr int32_t XM_MIX_LINEAR = 0;
constexpr int32_t XM_MIX_BY_CHANNELS = 1;
constexpr int32_t XM_MIX_EQUAL_POWER = 2;

// MOD pan effects: 8xx takes 0..255 (full); 8xx takes 0..128, doubled (half: songs
// whose 8xx values all lie below 0x90, some below 0x80); pan effects do nothing (none:
// songs whose pan values all lie below 0x30, which were not pans).
constexpr int32_t MOD_PAN_FULL = 0;
constexpr int32_t MOD_PAN_HALF = 1;
constexpr int32_t MOD_PAN_NONE = 2;

// Which tracker's song-flow rules a MOD song follows, told by its tag: Protracker's
// ("M.K."; "M!K!", its files of more than 64 patterns, also give a jump the line of a
// break after it), Soundtracker's (15 samples, no tag: no extended commands, a break
// always to line 0, Fxx the speed's low digit), or those of the other trackers (a
// jump takes the line of a break after it; a delayed line counts its loop once).
constexpr int32_t MOD_FLOW_PROTRACKER = 0;
constexpr int32_t MOD_FLOW_OTHER = 1;
constexpr int32_t MOD_FLOW_SOUNDTRACKER = 2;
constexpr int32_t MOD_FLOW_PROTRACKER_MANY = 3;

// An envelope ready for format playback: points with levels 0..1 (pan: 0..1, 0.5 centre),
// and the sustain and loop point indexes (-1 = none).
struct TEnvelopeTable {
  static constexpr int32_t MaxPoints = 25;
  int32_t count = 0;
  int32_t tick[MaxPoints] = {};
  float value[MaxPoints] = {};
  int32_t sustain = -1, loopStart = -1, loopEnd = -1;
  bool on = false;
  // Level at envelope position `pos` (ticks): linear between points, the last point's
  // level beyond it.
  float At(int32_t pos) const;
};

// One channel's column of a pattern: five parallel cell columns, one entry per line.
// Note 0 none, 1..95 semitones, 96 key off; Inst 0 none; Vol < 16 no command;
// FX/FXV effect number and parameter.
class Cantor_Track {
public:
  Text Name;
  int32_t LineCount = 0;
  std::vector<int32_t> Note, Inst, Vol, FX, FXV;

  static Cantor_TrackPtr Create(int32_t lines);
  // Native format (music/qtk*.cpp).
  static Cantor_TrackPtr Load(const TStreamPtr& stream);
  int32_t Save(const TStreamPtr& stream);

  int32_t IsIdentical(const Cantor_Track& other) const;
  // 0 when all five values are non-zero, else 0x80 | bits for the non-zero ones.
  int32_t GetBVal(int32_t line) const;
  static Text GetNoteTag(int32_t note);
  // 13-character printed form of a line.
  Text GetText(int32_t line) const;
};

class Cantor_Pattern {
public:
  Text Title;
  int32_t TrackCount = 0;
  std::vector<Cantor_TrackPtr> Track;
  int32_t LineCount = 0;
  std::vector<Text> LineText;  // LineCount + 1 entries, filled by UpdateText

  // The song argument is not used; kept so that callers read like the file formats.
  static Cantor_PatternPtr Create(Cantor_Mixer* song, int32_t tracks, int32_t lines);
  static Cantor_PatternPtr Load(const TStreamPtr& stream);
  int32_t Save(const TStreamPtr& stream);
  void UpdateText();
};

class Cantor_EnvelopePoint {
public:
  int32_t Tick = 0;    // ticks since the note started
  float Value = 0.0f;  // level 0..1

  static Cantor_EnvelopePointPtr Load(const TStreamPtr& stream);
  int32_t Save(const TStreamPtr& stream);
};

class Cantor_Sample {
public:
  Text Name;
  int32_t Length = 0;               // frames
  std::vector<int32_t> SoundData;   // Length values in 16-bit range (empty = no data)
  int32_t LoopStart = 0;
  int32_t LoopLength = 0;
  int32_t Loop = 0;                 // 0 none, 1 forward, 2 ping-pong
  float Volume = 1.0f;
  double FineTune = 0.0;            // semitones
  int32_t RelativeNote = 0;         // semitones
  int32_t Pan = 0;                  // default pan as the loader stored it
  int32_t Flag = 0;
  int32_t C2SPD = 0;
  // The XM file's pan byte (0 left .. 255 right), -1 when the source had none.
  int32_t FilePan = -1;
  int32_t* fp = nullptr;            // first value of SoundData

  // Gives the sample `frames` zeroed frames: sizes SoundData, sets Length and fp.
  void AllocData(int32_t frames);

  // Native format and bank conversion (music formats code).
  static Cantor_SamplePtr Load(const TStreamPtr& stream);
  int32_t Save(const TStreamPtr& stream);
  // mode 1: 8-bit signed, 2: 16-bit signed LE, 4: 16-bit stereo LE mixed to mono.
  void ConvertSampleFromBank(const TBank& bank, int32_t mode);

  // True when every frame of the loop (and the frame after it) is 0; worked out once.
  bool SilentLoop() const;

  // Mixing: interpolated value at pos moving at rate add (add is not changed).
  double GetAV(double pos, double add) const;
  // modify = 1: pos brought back into the sample by its loop (may reverse or stop
  // add); modify = 0: the sample value at that position (add untouched).
  double FixPos(double x, double& add, int32_t modify) const;

private:
  double ValueAt(double x) const;  // value at frame floor(x), 0 outside the data
  mutable int8_t _silentLoop = -1;  // -1 not yet known
};

class Cantor_Instrument {
public:
  Text Name;
  int32_t InstrumentType = 0;
  int32_t SampleCount = 0;
  std::vector<Cantor_SamplePtr> Sample = std::vector<Cantor_SamplePtr>(128);
  std::vector<int32_t> NoteSample = std::vector<int32_t>(100, 0);
  // Volume envelope: 0 off; bit 2 sustain; bit 4 loop.
  int32_t VolType = 0;
  int32_t VolPoints = 0;
  std::vector<int32_t> VolEnvelope = std::vector<int32_t>(50, 0);
  int32_t VolSustain = 0;
  int32_t VolFadeout = 0;
  int32_t VolLoopStart = 0, VolLoopEnd = 0;
  std::vector<Cantor_EnvelopePointPtr> VolEnvList;
  std::vector<Cantor_EnvelopePointPtr> VolEnvArray;
  Cantor_EnvelopePointPtr VolSustainPoint, VolLoopStartPoint, VolLoopEndPoint;
  // Pan envelope and auto-vibrato: stored and saved, not played.
  int32_t PanType = 0, PanPoints = 0;
  std::vector<int32_t> PanEnvelope = std::vector<int32_t>(49, 0);
  int32_t PanSustain = 0, PanLoopStart = 0, PanLoopEnd = 0;
  int32_t VibType = 0, VibSweep = 0, VibDepth = 0, VibRate = 0;
  int32_t Reserved = 0;
  // Working state of GetEnvelopeVolume.
  Cantor_EnvelopePointPtr Point, NextPoint;
  float stp = 0.0f;
  // Envelopes as format playback reads them, built on first use from the XM words
  // (VolEnvelope: 12 tick/level pairs, then the sustain, loop start and loop end point
  // numbers; PanEnvelope[1..48]: the file's bytes) or from the envelope points.
  TEnvelopeTable VolTable, PanTable;
  bool TablesBuilt = false;
  void BuildTables(int32_t sourceFormat);

  static Cantor_InstrumentPtr Load(const TStreamPtr& stream);
  int32_t Save(const TStreamPtr& stream);

  // Sample[NoteSample[note]] for notes 1..95, else null (also for a map entry that
  // points outside the table).
  Cantor_SamplePtr GetSample(int32_t note) const;
  // Sample[NoteSample[slot]], or null when the slot or its map entry is outside the tables.
  Cantor_SamplePtr MappedSample(int32_t slot) const;
  void AddVolumeEnvelopePoint(int32_t tick, double percent);
  // 1-based point numbers (0 taken as the first point).
  void SetVolSustainPoint(int32_t n);
  void SetVolLoopPoints(int32_t start, int32_t end);
  // Envelope level for a channel; tick and index belong to the channel.
  float GetEnvelopeVolume(int32_t& tick, int32_t& index);
};

// The song itself as the loaders build it: names, limits, default timing, the order list,
// the instruments and the patterns, and the format the records came from (SONG_FROM_*).
// The song object (Cantor_Mixer) is this model with a player around it.
struct TSongModel {
  Text TrackerName;
  int32_t MaxPatterns = 512;
  int32_t MaxSequences = 256;
  int32_t MaxInstruments = 256;
  int32_t DefaultTempo = 125;
  int32_t DefaultSpeed = 6;
  int32_t PeriodMode = 1;
  Text SongName;
  int32_t ActiveChannels = 0;
  int32_t ActiveSequences = 0;
  int32_t ActiveSongPatterns = 0;  // last used order position
  int32_t ActiveSamples = 0;       // number of the last instrument
  std::vector<int32_t> SongPattern;
  std::vector<Cantor_InstrumentPtr> Instrument;
  std::vector<Cantor_PatternPtr> Pattern;
  int32_t SourceFormat = SONG_FROM_NATIVE;
  // How format playback mixes an XM song's channels (XM_MIX_*).
  int32_t XmMixing = XM_MIX_LINEAR;
  // What a MOD song's pan effects (8xx, E8x) mean (MOD_PAN_*), judged from their values.
  int32_t ModPanning = MOD_PAN_FULL;
  int32_t ModFlow = MOD_FLOW_PROTRACKER;  // MOD_FLOW_*
  // True when format playback reads Amiga periods (MOD, XM without the linear table).
  bool AmigaPeriods() const { return SourceFormat == SONG_FROM_MOD || (SourceFormat == SONG_FROM_XM && !(PeriodMode & 1)); }
};
