// Cantor_Channel: per-tick processing of one pattern track (notes, instruments, the
// volume column, effects, envelopes, fade-out) and pitch-to-rate conversion.
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

void Cantor_Channel::ApplyCommand(Cantor_Track& track, Cantor_Mixer& song) {
  const int32_t t = song.MMTick;
  Tick += 1;
  if (t == 0) {
    LatchCell(track, song.CurrentLine);
    // The XM loader's C-0 is no note here, as it always was.
    if (linenote == XmLowestNote) linenote = 0;
  }
  const bool noteDelay = fx == 14 && fxvl == 13;
  const bool trigger = (t == 0 && !noteDelay) || (noteDelay && t == fxvr);

  if (trigger) {
    if (linenote != 0) {
      if (linenote == KeyOffNote) {
        KeyOff = 1;
        CalcKeyOff();
        linenote = 0;
        ClickDelay = 127;
      } else if (fx != 3 && fx != 5) {
        Tick = 0;
        Note = linenote;
        VolumeEnvelopeIndex = 0;
        VibratoCount = 0;
        VibratoValue = 0;
        Pos = 0;
        KeyOff = 0;
        KeyOffStep = 0;
        KeyOffValue = 1;
        ClickDelay = 127;
        Arped = 0;
        SetFrequency = 1;
        SetPan = 1;
      }
    }
    if (inst != 0) {
      Instrument = (inst > 0 && inst < static_cast<int32_t>(song.Instrument.size()))
                       ? song.Instrument[static_cast<size_t>(inst)]
                       : nullptr;
      if (!Instrument) {
        Sample = nullptr;
        Add = 0;
        ClickDelay = 127;
      } else {
        Sample = Instrument->GetSample(static_cast<int32_t>(std::clamp(Note, -1000.0, 1000.0)));
        if (!Sample) {
          Add = 0;
          ClickDelay = 127;
        } else {
          Volume = MixerVolume = Sample->Volume;
          FineTune = Sample->FineTune;
          Pan = Sample->Pan;
          PanFromSample = 1;
          ClickDelay = 127;
          SetPan = 1;
        }
      }
    }
  }

  if (!Sample || Note == 0) return;
  if (vol >= 16) ApplyVolume(t, linenote, vol);
  if (fx != 0 && Arped != 0) {
    SetFrequency = 1;
    Arped = 0;
  }

  const int32_t h = fxvl, l = fxvr;
  const bool first = t == 0;
  switch (fx) {
    case 0:
      if (fxv != 0) {
        switch (Tick % 3) {
          case 0: SetFrequency = 1; Arped = 0; break;
          case 1: Note += h; SetFreq(); Note -= h; Arped = 1; break;
          default: Note += l; SetFreq(); Note -= l; Arped = 1; break;
        }
      } else if (Arped == 1) {
        SetFrequency = 1;
        Arped = 0;
      }
      break;
    case 1:
      if (first && fxv != 0) PortamentoUp = fxv;
      Note += slidestep * PortamentoUp;
      SetFrequency = 1;
      break;
    case 2:
      if (first && fxv != 0) PortamentoDown = fxv;
      Note -= slidestep * PortamentoDown;
      SetFrequency = 1;
      break;
    case 3:
      if (first) {
        if (linenote > 0) TonePortamentoNote = linenote;
        if (fxv > 0) TonePortamentoValue = slidestep * fxv;
        KeyOff = 0;
        KeyOffStep = 0;
        KeyOffValue = 1;
      }
      DoNotePortamento();
      break;
    case 4:
      if (first && fxv != 0) {
        if (h != 0) VibratoSpeed = h;
        if (l != 0) VibratoDepth = l;
      }
      DoVibrato();
      break;
    case 5:
      if (first) {
        if (linenote != 0) TonePortamentoNote = linenote;
        KeyOff = 0;
        KeyOffStep = 0;
        KeyOffValue = 1;
      }
      DoNotePortamento();
      EFFECT_VolumeSlide(t, h, l);
      break;
    case 6:
      DoVibrato();
      EFFECT_VolumeSlide(t, h, l);
      break;
    case 7:
      if (first) {
        if (h != 0) TremoloSpeed = h;
        if (l != 0) TremoloDepth = l;
      }
      DoTremolo();
      break;
    case 8:
      if (first) {
        Pan = (fxv - 128) / 128.0;
        PanFromSample = 0;
        SetPan = 1;
      }
      break;
    case 9:
      if (first && static_cast<int64_t>(fxv) * 256 < Sample->Length) {
        Pos = fxv * 256.0;
        ClickDelay = 127;
      }
      break;
    case 10:
      EFFECT_VolumeSlide(t, h, l);
      break;
    case 12:
      if (first) {
        Volume = Clamp01(fxv / 64.0);
        ClickDelay = 127;
      }
      break;
    case 14:
      switch (h) {
        case 1:
          if (first && l != 0) {
            PortamentoUp = l;
            VibratoCount = 0;
            VibratoValue = 0;
            Note += slidestep * l;
            SetFrequency = 1;
          }
          break;
        case 2:
          if (first && l != 0) {
            PortamentoDown = l;
            VibratoCount = 0;
            VibratoValue = 0;
            Note -= slidestep * l;
            SetFrequency = 1;
          }
          break;
        case 4:
          if (first) VibratoWaveForm = l;
          break;
        case 5:
          if (first) {
            int32_t v = l > 7 ? l - 16 : l;
            if (v < -7) v = -7;
            FineTune = v / 8.0;
            SetFrequency = 1;
          }
          break;
        case 7:
          if (first) TremoloWaveForm = l;
          break;
        case 8:
          if (!first) {
            Pan = (l - 8) / 8.0;
            PanFromSample = 0;
            SetPan = 1;
          }
          break;
        case 9:
          if ((l != 0 && Tick % l == 0) || (l == 0 && first)) {
            Tick = 0;
            Pos = 0;
            SetFrequency = 1;
          }
          break;
        case 10:
          if (first) Volume = Clamp01(Volume + l / 64.0);
          break;
        case 11:
          if (first) Volume = Clamp01(Volume - l / 64.0);
          break;
        case 12:
          if (t == l) {
            Volume = 0;
            ClickDelay = 127;
          }
          break;
        default: break;  // 0, 3, 15 nothing; 6, 13, 14 handled elsewhere
      }
      break;
    case 20:
      // Key off. The first time it fires it also computes the fade step, as a key-off
      // note does, so that the effect is audible on a freshly triggered note.
      if (!KeyOff) {
        KeyOff = 1;
        CalcKeyOff();
      }
      break;
    case 33:
      if (first && l != 0) {
        if (h == 1) {
          PortamentoUp = l;
          VibratoCount = 0;
          VibratoValue = 0;
          Note += slidestep * l / 4.0;
          SetFrequency = 1;
        } else if (h == 2) {
          PortamentoDown = l;
          VibratoCount = 0;
          VibratoValue = 0;
          Note -= slidestep * l / 4.0;
          SetFrequency = 1;
        }
      }
      break;
    default: break;  // 11, 13, 15 belong to the sequencer; 16, 17, 21, 25, 27, ... nothing
  }

  if (SetFrequency) {
    SetFreq();
    SetFrequency = 0;
  }
  if (SetPan) {
    CalcPanGains();
    SetPan = 0;
  }
}
