// Cantor_Channel: the classic routines the effect engine (effects.cpp) calls: the waveform
// tables, envelope level, key off and fade, pitch-to-rate, the pan law, the classic volume
// column, slides, portamento, vibrato and tremolo, and latching a cell.
#include <algorithm>
#include <cmath>

#include "song_player.h"
#include <ormix/runtime/random.h>

double SineTable[65];
double RampTable[65];
double SquareTable[65];

void InitTrackerTables() {
  static bool done = false;
  if (done) return;
  done = true;
  for (int i = 0; i <= 64; ++i) {
    SineTable[i] = std::sin(2.0 * M_PI * i / 65.0);
    if (i <= 32) RampTable[i] = -i / 32.0;
    else if (i <= 63) RampTable[i] = (64 - i) / 32.0;
    else RampTable[i] = 0.0;
    SquareTable[i] = i <= 31 ? -1.0 : 1.0;
  }
}


namespace {
double Clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

// The offset of waveform `form` at phase `count`; false for an unknown waveform.
bool WaveValue(int32_t form, int32_t count, double& w) {
  const int32_t i = std::clamp(count, 0, 64);
  switch (form) {
    case 0: case 4: w = SineTable[i]; return true;
    case 1: case 5: w = RampTable[i]; return true;
    case 2: case 6: w = SquareTable[i]; return true;
    case 3: case 7: w = RandomFraction() * 2.0 - 1.0; return true;
    default: return false;
  }
}
}  // namespace

void Cantor_Channel::PreCalc() {
  if (Instrument) Env = Instrument->GetEnvelopeVolume(Tick, VolumeEnvelopeIndex);
  else Env = 1.0;
}

void Cantor_Channel::CalcKeyOff() {
  if (!Instrument) return;
  KeyOffStep = Instrument->VolFadeout > 0 ? Instrument->VolFadeout * 32.0 / 65536.0 : 1.0;
}

void Cantor_Channel::ApplyKeyOff() {
  if (!KeyOff) return;
  KeyOffValue -= KeyOffStep;
  if (KeyOffValue < 0) {
    KeyOffValue = 0;
    Add = 0;
  }
}

// Note 77 plays one sample frame per output frame; 12 semitones double the rate. The
// exponent is bounded so that endless slides cannot drive the rate to infinity.
void Cantor_Channel::SetFreq() {
  if (!Sample) return;
  double e = (Note + FineTune + VibratoValue + Sample->RelativeNote - 77.0) / 12.0;
  e = std::clamp(e, -24.0, 24.0);
  // The formula is tuned to 44100 Hz output; other rates scale the step so that the
  // pitch stays the same.
  const double rate = std::exp2(e) * RateScale;
  Add = Add < 0 ? -rate : rate;
}

// Pan law. Effects and the volume column set Pan on -1 (left) .. +1 (right); a sample's
// stored default arrives unchanged on the loaders' 1/128 scale (so a stored 1 is a hair
// right of centre, not hard right). EnvelopePan (0..64, 32 neutral) shifts it.
// Gains follow a balance law: the far side falls linearly, the near side stays at 1, so
// a centred channel plays at full gain on both sides.
void Cantor_Channel::CalcPanGains() {
  double p = Pan;
  if (PanFromSample || p > 1.0 || p < -1.0) p /= 128.0;
  p += (EnvelopePan - 32) / 32.0;
  p = std::clamp(p, -1.0, 1.0);
  LPanCalc = std::min(1.0, 1.0 - p);
  RPanCalc = std::min(1.0, 1.0 + p);
}

void Cantor_Channel::ApplyVolume(int32_t tick, int32_t note, int32_t v) {
  const bool first = tick == 0;
  if (v >= 16 && v <= 80) {
    if (first) Volume = (v - 16) / 64.0;
  } else if (v >= 81 && v <= 111) {
    Volume -= (v - 96) / 64.0;
    if (Volume < 0) Volume = 0;
  } else if (v >= 112 && v <= 127) {
    Volume = std::min(1.0, Volume + (v - 112) / 64.0);
  } else if (v >= 128 && v <= 143) {
    if (first) Volume = std::max(0.0, Volume - (v - 128) / 64.0);
  } else if (v >= 144 && v <= 159) {
    if (first) Volume = std::min(1.0, Volume + (v - 144) / 64.0);
  } else if (v >= 160 && v <= 175) {
    if (first) VibratoSpeed = v - 160;
  } else if (v >= 176 && v <= 191) {
    // no effect
  } else if (v >= 192 && v <= 207) {
    if (first) {
      Pan = std::clamp((v - 200) * 16, -128, 128) / 128.0;
      PanFromSample = 0;
      SetPan = 1;
    }
  } else if (v >= 208 && v <= 223) {
    if (first) {
      Pan = std::max(Pan * 128.0 - (v - 208), -128.0) / 128.0;
      PanFromSample = 0;
      SetPan = 1;
    }
  } else if (v >= 224 && v <= 239) {
    if (first) {
      Pan = std::min(Pan * 128.0 + (v - 224), 128.0) / 128.0;
      PanFromSample = 0;
      SetPan = 1;
    }
  } else if (v >= 240 && v <= 255) {
    if (first) {
      if (note > 0) TonePortamentoNote = note;
      if (v > 240) {
        TonePortamentoValue = slidestep * (v - 240);
        SetFrequency = 1;
      }
    }
    DoNotePortamento();
  }
}

void Cantor_Channel::EFFECT_VolumeSlide(int32_t tick, int32_t up, int32_t down) {
  if (tick == 0 && !(up != 0 && down != 0)) {
    if (up != 0) VolumeSlide = up / 64.0;
    else if (down != 0) VolumeSlide = -down / 64.0;
    else VolumeSlide = 0;
  }
  if (Tick != 0) Volume = Clamp01(Volume + VolumeSlide);
}

void Cantor_Channel::DoNotePortamento() {
  if (Add == 0 || !Sample) return;
  if (Note < TonePortamentoNote) {
    Note = std::min(Note + TonePortamentoValue, TonePortamentoNote);
    SetFrequency = 1;
  } else if (Note > TonePortamentoNote) {
    Note = std::max(Note - TonePortamentoValue, TonePortamentoNote);
    SetFrequency = 1;
  }
}

void Cantor_Channel::DoVibrato() {
  if (Add == 0) return;
  if (VibratoCount > 64) VibratoCount %= 64;
  double w;
  if (WaveValue(VibratoWaveForm, VibratoCount, w)) VibratoValue = slidestep * w * VibratoDepth;
  SetFrequency = 1;
  VibratoCount += VibratoSpeed;
}

void Cantor_Channel::DoTremolo() {
  if (Add == 0) return;
  if (TremoloCount > 64) TremoloCount %= 64;
  double w;
  if (WaveValue(TremoloWaveForm, TremoloCount, w)) TremoloValue = volumestep * w * TremoloDepth;
  TremoloCount += TremoloSpeed;
}

void Cantor_Channel::LatchCell(const Cantor_Track& track, int32_t atLine) {
  line = atLine;
  if (line >= 0 && line < track.LineCount) {
    const size_t i = static_cast<size_t>(line);
    linenote = track.Note[i];
    inst = track.Inst[i];
    vol = track.Vol[i];
    fx = track.FX[i];
    fxv = track.FXV[i];
  } else {
    linenote = inst = vol = fx = fxv = 0;
  }
  fxvl = (fxv >> 4) & 15;
  fxvr = fxv & 15;
}

// The end of a classic tick of a sounding voice: its envelope level and fade-out.
void Cantor_Channel::ClassicTickEnd() {
  if (Add == 0) return;
  PreCalc();
  ApplyKeyOff();
}
