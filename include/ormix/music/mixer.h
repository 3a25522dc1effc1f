#pragma once
// The tracker song and its player: sequencer (Cantor_Mixer), playback channels with
// their effects (Cantor_Channel) and the voice mixing into 16-bit stereo PCM.
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/music/song.h>

class TEvent;
class Cantor_Channel;

using Cantor_ChannelPtr = std::shared_ptr<Cantor_Channel>;

// Waveform tables of vibrato and tremolo (65 entries each, built by InitTrackerModule).
extern double SineTable[65];
extern double RampTable[65];
extern double SquareTable[65];
// Builds the waveform tables (idempotent; songs call it on construction).
void InitTrackerTables();

// Largest chunk mixed at once, and the shared accumulators of that size.
constexpr int32_t MIX_BUFFER_FRAMES = AUDIO_OUTPUT_RATE;  // one second
extern int32_t* MixBufferL;
extern int32_t* MixBufferR;
// Float accumulators of format playback.
extern float* FastMixBufferL;
extern float* FastMixBufferR;

// One pattern track being played.
class Cantor_Channel {
public:
  static constexpr int32_t ClickDelaySize = 128;
  static constexpr double ClickFrac = 0.0078125;
  static constexpr double volumestep = 0.015625;
  static constexpr double short2float = 3.0518509475997192e-005;
  static constexpr double slidestep = 0.047058823529411764;

  Cantor_InstrumentPtr Instrument;
  Cantor_SamplePtr Sample;
  double Pos = 0;
  double Note = 0;
  double FineTune = 0;
  double Add = 0;           // sample frames per output frame; 0 = silent
  double Volume = 0;
  double MixerVolume = 0;
  int32_t Mute = 0;
  int32_t Tick = 0;         // ticks since the note was triggered
  int32_t KeyOff = 0;
  double KeyOffValue = 0;
  double KeyOffStep = 0;
  int32_t Arped = 0;
  int32_t PortamentoUp = 0, PortamentoDown = 0;
  double VolumeSlide = 0;
  double TonePortamentoNote = 0;
  double TonePortamentoValue = 0;
  double VibratoValue = 0;
  int32_t VibratoWaveForm = 0, VibratoSpeed = 0, VibratoDepth = 0, VibratoCount = 0;
  int32_t TremoloWaveForm = 0, TremoloSpeed = 0, TremoloDepth = 0, TremoloCount = 0;
  double TremoloValue = 0;
  int32_t LastAV = 0;
  int32_t ClickDelay = 0;
  double Env = 0;
  int32_t VolumeEnvelopeIndex = 0;
  int32_t EnvelopePan = 32;
  double Pan = 0;
  double FinalPan = 0;
  double LPanCalc = 0, RPanCalc = 0;
  double LevelL = 0, LevelR = 0;
  std::vector<float> Scope;  // oscilloscope capture
  float* ScopePtr = nullptr;
  int32_t ScopeFillPos = 0;
  int32_t SetFrequency = 0;
  int32_t SetPan = 0;
  // Cell latched on the line's first tick.
  int32_t line = 0, linenote = 0, inst = 0, vol = 0, fx = 0, fxv = 0, fxvl = 0, fxvr = 0;

  // Format playback (the song's Classic switch off).
  int32_t Faithful = 0;          // set on every tick from the song
  double RateScale = 1.0;        // 44100 / the song's output rate
  double Pan255 = 128;           // pan 0 (left) .. 255 (right)
  int32_t PanFromSample = 0;     // Pan holds a sample's stored default (classic pan law)
  int32_t VolEnvPos = 0, PanEnvPos = 0;
  int32_t AutoVibPos = 0, AutoVibAmp = 0;
  int32_t TremorCount = 0, TremorMuted = 0, RetrigCount = 0;
  int32_t MemVolSlide = 0, MemPortaUp = 0, MemPortaDown = 0, MemTonePorta = 0, MemFinePortaUp = 0,
          MemFinePortaDown = 0, MemXFineUp = 0, MemXFineDown = 0, MemFineVolUp = 0, MemFineVolDown = 0,
          MemOffset = 0, MemPanSlide = 0, MemGlobalSlide = 0, MemRetrig = 0, MemTremor = 0;
  double FadeStep = 0;

  // The rate (sample frames per output frame) of pitch `x` in the song's note scale.
  double PitchToAdd(double x, const Cantor_Mixer& song) const;
  // Moves the pitch up by `units` slide units (a 1xx unit: 1/16 semitone with the
  // linear table, one period step with the Amiga table).
  void SlidePitch(double units, const Cantor_Mixer& song);
  // Semitones that a period displacement of `units` slide units means at the pitch.
  double UnitsToSemitones(double units, const Cantor_Mixer& song) const;
  void ApplyCommandFaithful(Cantor_Track& track, Cantor_Mixer& song);

  virtual ~Cantor_Channel() = default;
  virtual int32_t Mix(int32_t* left, int32_t* right, int32_t frames);
  // The same voice in single precision into float accumulators (format playback).
  int32_t MixFast(float* left, float* right, int32_t frames);
  virtual void PreCalc();
  virtual void CalcKeyOff();
  virtual void ApplyKeyOff();
  virtual void SetFreq();
  virtual void ApplyVolume(int32_t tick, int32_t note, int32_t value);
  virtual void ApplyCommand(Cantor_Track& track, Cantor_Mixer& song);
  virtual void EFFECT_VolumeSlide(int32_t tick, int32_t up, int32_t down);
  virtual void DoNotePortamento();
  virtual void DoVibrato();
  virtual void DoTremolo();

  // Left and right gains from Pan and EnvelopePan.
  void CalcPanGains();
  // Latches the cell of `track` at `atLine` (line, linenote ... fxvr).
  void LatchCell(const Cantor_Track& track, int32_t atLine);
};

// Property ids of songs, besides TMusic's (music.h). Seti answers 1 when it took the value.
constexpr int32_t SONG_ID_TEMPO = 100;          // Seti/Geti: beats per minute, 1 or more
constexpr int32_t SONG_ID_SPEED = 101;          // Seti/Geti: ticks per line
constexpr int32_t SONG_ID_INTERPOLATE = 102;    // Seti/Geti: 1 = interpolated mixing
constexpr int32_t SONG_ID_SEPARATION = 103;     // Setf/Getf: stereo separation
constexpr int32_t SONG_ID_MIX_LEVEL = 104;      // Setf/Getf: output gain
constexpr int32_t SONG_ID_LINE = 110;           // Geti: current line
constexpr int32_t SONG_ID_ORDER = 111;          // Seti/Geti: current order position
constexpr int32_t SONG_ID_PATTERN = 112;        // Geti: current pattern
constexpr int32_t SONG_ID_TICK = 113;           // Geti: current tick
constexpr int32_t SONG_ID_EMIT_TICK = 114;      // Seti/Geti: 1 = a tick event per tick
constexpr int32_t SONG_ID_NAME = 115;           // GetS: the song's name
constexpr int32_t SONG_ID_SCOPES = 116;         // Seti: scope buffer size (0 = off)
// Seti/Geti: 1 = classic playback, the engine as first built (envelopes in percent, key
// off that never releases the sustain, effects beyond the basic set ignored, ...);
// 0 (the default) = playback faithful to the MOD and XM formats.
constexpr int32_t SONG_ID_CLASSIC = 117;

class Cantor_Mixer : public TMusic {
public:
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
  std::vector<Cantor_ChannelPtr> MMC_Channel;
  int32_t CurrentPattern = 0;
  int32_t CurrentLine = 0;
  int32_t CurrentSongPattern = 0;
  int32_t Tempo = 125;
  int32_t Speed = 6;
  int32_t MMTick = 0;
  int32_t BytesUntilTick = 0;  // output frames until the next tick
  int32_t Interpolate = 1;
  float MixLevel = 0.5f;
  float StereoSeperation = 1.0f;
  int32_t EmitTick = 0;
  std::shared_ptr<TEvent> TickEvent;
  int32_t PatternLock = 0;
  int32_t LineJump = -1;
  int32_t MMJump = -1;
  int32_t MMJumpLine = 0;
  int32_t PatternLoopStart = 0;
  int32_t PatternLoopEnd = 0;
  int32_t PatternLoopCount = -1;
  int32_t patterndelay = 0;
  double TLAV = 0, TRAV = 0;
  // Playback switch (SONG_ID_CLASSIC) and the format the records came from (SONG_FROM_*).
  int32_t Classic = 0;
  int32_t SourceFormat = SONG_FROM_NATIVE;
  int32_t GlobalVolume = 64;  // 0..64, effects G and H (format playback)
  // True when format playback reads Amiga periods (MOD, XM without the linear table).
  bool AmigaPeriods() const { return SourceFormat == SONG_FROM_MOD || (SourceFormat == SONG_FROM_XM && !(PeriodMode & 1)); }
  // Fastest tempo played (400 ticks a second); a file's larger tempo plays at this one.
  static constexpr int32_t MaxTempo = 1000;

  Cantor_Mixer();
  ~Cantor_Mixer() override;

  void Free() override;
  int32_t FillBuffer(void* buffer, int32_t size) override;
  int32_t Setf(int32_t id, double value) override;
  double Getf(int32_t id) override;
  int32_t Seti(int32_t id, int32_t value) override;
  int32_t Geti(int32_t id) override;
  Text GetS(int32_t id) override;

  virtual void Init(int32_t channels);
  // Native format (music formats code): a whole song, or null for another format.
  static Cantor_MixerPtr Load(const TStreamPtr& stream);
  int32_t Save(const TStreamPtr& stream);
  virtual void Do_Player();
  virtual void NEXT_LINE();
  virtual void PatternBreak(int32_t line);
  virtual void PatternLineRepeat(int32_t count);
  virtual void SetTiming(int32_t value);
  virtual void Reset();
  virtual void SetCurrentSequence(int32_t position);
  virtual void Stop();
  virtual void EnableScopes(int32_t size);
  virtual void UpdateScopes();
  virtual void CalcSize();
  // Forgets the measured length. Not needed after changing the song's records (the
  // length notices that itself); kept for callers that want a fresh measurement.
  void SongChanged() { _measured = false; }

private:
  bool _calculating = false;  // CalcSize is running the song silently
  // The last measured length and a fingerprint of everything it depends on (output rate,
  // playback mode, order list, timing of the patterns it plays): the length is measured
  // again only when the fingerprint changes.
  bool _measured = false;
  int32_t _measuredSize = 0;
  uint64_t _measuredKey = 0;
  uint64_t LengthKey() const;
  // STREAM_SIZE as measured for the song as it is now (measuring it when needed).
  int32_t MeasuredLength();
  void EndOfSong();
  int32_t TickFrames() const;
  void MixChunk(int32_t n);
  // Format playback mixes in single precision (classic playback keeps its arithmetic).
  bool FastMixing() const { return !Classic && SourceFormat != SONG_FROM_NATIVE; }
  void WriteChunk(int16_t* out, int32_t n);
  // Pattern number at an order position, or -1 when the position is outside the list.
  int32_t PatternAt(int32_t position) const;
};

// How songs made from now on play MOD and XM records (SONG_ID_CLASSIC's starting value):
// 1 = classic playback, 0 = format playback (the default). It reaches every path that
// loads a song itself: LoadMusic, PlayMusic of a file or URL, LoadSound of a song.
void SetClassicPlaybackDefault(int32_t classic);
int32_t ClassicPlaybackDefault();

// Loads a MOD, XM or native song without the audio side of the music engine (no audio
// driver, device or streaming timer is started): for offline rendering and inspection.
// Null for anything else.
Cantor_MixerPtr LoadTrackerSong(const TMusicSource& source);

// A new song: 4 channels, 31 instruments, one 64-line pattern at order position 0.
Cantor_MixerPtr CreateEmptySong();

// Scales, clips and writes n frames of interleaved 16-bit stereo.
void WriteMixToPCM16(const int32_t* left, const int32_t* right, int16_t* out, int32_t n, double gain);
void WriteFloatMixToPCM16(const float* left, const float* right, int16_t* out, int32_t n, float gain);
