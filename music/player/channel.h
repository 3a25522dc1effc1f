#pragma once
// One pattern track being played (Cantor_Channel): the voice its effects steer, the cell
// latched on the line's first tick, and the effect memories of both playback modes.
#include <cstdint>

#include "../voices/voice.h"
#include "../model/song_model.h"

class Cantor_Mixer;
class Cantor_Track;

// Waveform tables of classic vibrato and tremolo (65 entries each).
extern double SineTable[65];
extern double RampTable[65];
extern double SquareTable[65];
// Builds the waveform tables (idempotent; songs call it on construction).
void InitTrackerTables();

class Cantor_Channel : public TVoice {
public:
  static constexpr double volumestep = 0.015625;
  static constexpr double slidestep = 0.047058823529411764;

  Cantor_InstrumentPtr Instrument;
  double Note = 0;
  double FineTune = 0;
  int32_t Tick = 0;         // ticks since the note was triggered
  int32_t KeyOff = 0;
  double KeyOffStep = 0;
  int32_t Arped = 0;
  int32_t PortamentoUp = 0, PortamentoDown = 0;
  double VolumeSlide = 0;
  double TonePortamentoNote = 0;
  double TonePortamentoValue = 0;
  double VibratoValue = 0;
  int32_t VibratoWaveForm = 0, VibratoSpeed = 0, VibratoDepth = 0, VibratoCount = 0;
  int32_t TremoloWaveForm = 0, TremoloSpeed = 0, TremoloDepth = 0, TremoloCount = 0;
  int32_t VolumeEnvelopeIndex = 0;
  int32_t EnvelopePan = 32;
  double Pan = 0;
  double FinalPan = 0;
  int32_t SetFrequency = 0;
  int32_t SetPan = 0;
  // Cell latched on the line's first tick.
  int32_t line = 0, linenote = 0, inst = 0, vol = 0, fx = 0, fxv = 0, fxvl = 0, fxvr = 0;

  // Format playback (the song's Classic switch off).
  double RateScale = 1.0;        // 44100 / the song's output rate
  double Pan255 = 128;           // pan 0 (left) .. 255 (right)
  int32_t PanFromSample = 0;     // Pan holds a sample's stored default (classic pan law)
  int32_t PanByEffect = 0;       // MOD: an effect has panned the channel
  int32_t VolEnvPos = 0, PanEnvPos = 0;
  int32_t AutoVibPos = 0, AutoVibAmp = 0;
  int32_t TremorCount = 0, TremorMuted = 0, RetrigCount = 0;
  int32_t MemVolSlide = 0, MemPortaUp = 0, MemPortaDown = 0, MemTonePorta = 0, MemFinePortaUp = 0,
          MemFinePortaDown = 0, MemXFineUp = 0, MemXFineDown = 0, MemFineVolUp = 0, MemFineVolDown = 0,
          MemOffset = 0, MemPanSlide = 0, MemGlobalSlide = 0, MemRetrig = 0, MemTremor = 0;
  double FadeStep = 0;
  // MOD pattern loop of this channel: the line E60 marked (kept across patterns) and
  // the repeats left (0: none running).
  int32_t LoopLine = 0, LoopLeft = 0;
  // XM: the instrument number last given (it takes effect with the next note), the last
  // note (a note delay without a note plays it again), and the volume and pan of the
  // sample last started, which an instrument number without a note brings back.
  int32_t XmInstNum = 0;
  int32_t LastNote = 0;
  double OldVolume = 0;
  double OldPan255 = 128;
  // XM: the level (volume, tremolo, envelope, fade-out) moves from RampFrom to RampTo
  // over the tick's RampFrames output frames, RampDone of them mixed.
  double RampFrom = 0, RampTo = 0;
  int32_t RampFrames = 0, RampDone = 0;

  // One tick of the track for this channel: on the line's first tick the cell is latched
  // and its note and instrument taken; then the volume column, the effect and (format
  // playback) the envelopes, fade-out and auto-vibrato, and the voice's rate, gain and
  // pan for the tick. Classic and format playback differ where the song's rules say.
  void ApplyCommand(Cantor_Track& track, Cantor_Mixer& song);
  // The end of a classic tick: envelope level and fade-out of a sounding voice.
  void ClassicTickEnd();

  void PreCalc();
  void CalcKeyOff();
  void ApplyKeyOff();
  void SetFreq();
  void ApplyVolume(int32_t tick, int32_t note, int32_t value);
  void EFFECT_VolumeSlide(int32_t tick, int32_t up, int32_t down);
  void DoNotePortamento();
  void DoVibrato();
  void DoTremolo();
  // Left and right gains from Pan and EnvelopePan.
  void CalcPanGains();
  // XM lines: what a cell's note, instrument number, tone portamento and key off do on
  // the line's first tick, and what a delayed note does on its tick.
  void XmLineStart(Cantor_Mixer& song, int32_t note, bool porta);
  void XmDelayedNote(Cantor_Mixer& song, int32_t note);
  // Starts `note` (0: the last note) with the instrument number last given; a pitch
  // (note plus the sample's relative note) out of range leaves the channel as it was.
  void XmStartTone(Cantor_Mixer& song, int32_t note, int32_t effect, int32_t param);
  void XmResetVolumes();
  void XmTriggerInstrument();
  void XmKeyOff();
  // Latches the cell of `track` at `atLine` (line, linenote ... fxvr).
  void LatchCell(const Cantor_Track& track, int32_t atLine);

  // The rate (sample frames per output frame) of pitch `x` in the song's note scale.
  double PitchToAdd(double x, const Cantor_Mixer& song) const;
  // Moves the pitch up by `units` slide units (a 1xx unit: 1/16 semitone with the
  // linear table, one period step with the Amiga table).
  void SlidePitch(double units, const Cantor_Mixer& song);
  // Semitones that a period displacement of `units` slide units means at the pitch.
  double UnitsToSemitones(double units, const Cantor_Mixer& song) const;
};
