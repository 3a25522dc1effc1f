// The effect engine: one tick of one pattern track (notes, instruments, the volume
// column, the effects, and in format playback the envelopes, fade-out and auto-vibrato).
// Classic playback and format playback of MOD and XM songs are one procedure; where a
// mode differs, the line says so. Format playback gives effects the meaning the MOD and
// XM formats give them (slides in periods or in linear steps, envelopes with sustain
// release and fade-out, pan envelope, instrument auto-vibrato, global volume, retrigger,
// tremor ...).
#include <algorithm>
#include <cmath>
#include <iterator>

#include "effects.h"
#include "song_player.h"
#include <ormix/runtime/random.h>

namespace {

double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Vibrato and tremolo waveforms over 64 positions, -1..1.
double Wave(int32_t form, int32_t pos) {
  pos &= 63;
  switch (form & 3) {
    case 0: return std::sin(2.0 * M_PI * pos / 64.0);
    case 1: return pos < 32 ? -pos / 32.0 : (64 - pos) / 32.0;  // ramp
    case 2: return pos < 32 ? 1.0 : -1.0;
    default: return RandomFraction() * 2.0 - 1.0;
  }
}

// Instrument auto-vibrato waveforms over 256 positions, -1..1.
double AutoWave(int32_t type, int32_t pos) {
  pos &= 255;
  switch (type) {
    case 1: return pos < 128 ? 1.0 : -1.0;
    case 2: return 1.0 - pos / 128.0;   // ramp down
    case 3: return pos / 128.0 - 1.0;   // ramp up
    default: return std::sin(2.0 * M_PI * pos / 256.0);
  }
}

// Period (in MOD period steps) of pitch x in the song's note scale.
double PeriodOf(double x, int32_t sourceFormat) {
  const double ref = sourceFormat == SONG_FROM_XM ? 49.0 : 48.0;
  return 428.0 * std::exp2(-(x - ref) / 12.0);
}

constexpr double kAmigaClock = 3546895.0;  // PAL, Hz
constexpr int32_t kXmKeyOff = 97;
// XM: the level of a channel, which leaves headroom for its many channels (three
// quarters of a four-channel MOD's at the same pan).
constexpr double kXmLevel = 0.7615;
// The level of one channel among `channels`, in 192ths, for the songs mixed by their
// channel count (the same for each pair of counts; at most 128 below six channels).
double XmChannelShare(int32_t channels) {
  static constexpr int32_t kShare[] = {128, 128, 128, 109, 96, 90, 85, 80, 76, 74, 73, 71, 69, 68, 66, 65};
  const int32_t i = std::clamp(channels / 2, 0, static_cast<int32_t>(std::size(kShare)) - 1);
  return kShare[i] / 192.0;
}
// Vibrato depth: one step of depth moves the period by 255/128 MOD period steps at the
// waveform's peak.
constexpr double kVibScale = 255.0 / 128.0;

// The note of a stored cell in the song's note scale: 0 none, kXmKeyOff key off.
int32_t DecodeNote(int32_t stored, int32_t sourceFormat) {
  if (sourceFormat == SONG_FROM_XM) {
    if (stored == XmLowestNote) return 1;
    if (stored == KeyOffNote) return kXmKeyOff;
    if (stored >= 1 && stored < KeyOffNote) return stored + 1;
    return 0;
  }
  if (stored == KeyOffNote) return kXmKeyOff;
  return stored > 0 ? stored : 0;
}

}  // namespace

namespace {
// One tick of an envelope position: holds at the sustain point until key off, jumps
// back at the loop end.
void AdvanceEnvelope(const TEnvelopeTable& t, int32_t& pos, bool keyOff) {
  if (!t.on) return;
  if (t.sustain >= 0 && !keyOff && pos == t.tick[t.sustain]) return;
  ++pos;
  // A loop ending on the sustain point loops until key off, then plays on past its end.
  if (t.loopEnd >= 0 && t.loopStart >= 0 && pos >= t.tick[t.loopEnd] &&
      !(t.sustain >= 0 && keyOff && t.sustain == t.loopEnd))
    pos = t.tick[t.loopStart];
  if (pos > 0xFFFF) pos = 0xFFFF;
}
}  // namespace

double Cantor_Channel::PitchToAdd(double x, const Cantor_Mixer& song) const {
  const double rate = song.SAMPLE_RATE > 0 ? song.SAMPLE_RATE : AUDIO_OUTPUT_RATE;
  const double e = Clamp(x, -200.0, 300.0);
  if (song.SourceFormat == SONG_FROM_XM) return 8363.0 * std::exp2((e - 49.0) / 12.0) / rate;
  // MOD: the Amiga's PAL clock over the period of the pitch.
  return kAmigaClock / PeriodOf(e, song.SourceFormat) / rate;
}

double Cantor_Channel::UnitsToSemitones(double units, const Cantor_Mixer& song) const {
  if (!song.AmigaPeriods()) return units / 16.0;
  const double x = Note + FineTune + (Sample ? Sample->RelativeNote : 0);
  const double p = PeriodOf(x, song.SourceFormat);
  const double q = std::max(p - units, 1.0);
  return 12.0 * std::log2(p / q);
}

void Cantor_Channel::SlidePitch(double units, const Cantor_Mixer& song) {
  if (song.SourceFormat == SONG_FROM_XM && song.AmigaPeriods() && units > 0) {
    // XM with Amiga periods: a slide up past the shortest period silences the note.
    const double x = Note + FineTune + (Sample ? Sample->RelativeNote : 0);
    if (PeriodOf(x, song.SourceFormat) - units < 1.0) {
      Add = 0;
      ClickDelay = 127;
      return;
    }
  }
  Note = Clamp(Note + UnitsToSemitones(units, song), -100.0, 200.0);
  if (song.SourceFormat == SONG_FROM_MOD) {
    // MOD: slides stop at the periods 113 (B-3) and 856 (C-1).
    const double p = Clamp(PeriodOf(Note + FineTune, SONG_FROM_MOD), 113.0, 856.0);
    Note = 48.0 - 12.0 * std::log2(p / 428.0) - FineTune;
  }
}

void Cantor_Channel::ApplyCommand(Cantor_Track& track, Cantor_Mixer& song) {
  const TPlayMode mode = song.PlayMode();
  const bool classic = mode == TPlayMode::Classic;
  const bool xm = mode == TPlayMode::Xm;
  const int32_t t = song.MMTick;
  const bool first = t == 0;
  Tick += 1;
  if (first) {
    LatchCell(track, song.CurrentLine);
    // Classic: the XM loader's C-0 is no note, as it always was.
    if (classic && linenote == XmLowestNote) linenote = 0;
    // XM: instrument number 255 is no instrument number; the others without an
    // instrument (also those above 128) silence the notes that use them.
    if (xm && inst == 255) inst = 0;
    if (xm && inst > 0) XmInstNum = inst;
  }
  const int32_t h = fxvl, l = fxvr;
  const bool noteDelay = fx == FX_EXTENDED && h == EX_NOTE_DELAY && l > 0;
  const bool trigger = (first && !noteDelay) || (noteDelay && t == l);
  const bool porta = fx == FX_TONE_PORTA || fx == FX_TONE_PORTA_VOLSLIDE || (xm && vol >= 0xF0);
  // Format playback: this tick's pitch and volume displacements (vibrato, arpeggio,
  // tremolo, tremor), which leave the note and volume themselves alone.
  double pitchOffset = 0;
  double volumeOffset = 0;

  const double volumeBefore = Volume;
  if (trigger && classic) {
    if (linenote != 0) {
      if (linenote == KeyOffNote) {
        KeyOff = 1;
        CalcKeyOff();
        linenote = 0;
        ClickDelay = 127;
      } else if (fx != FX_TONE_PORTA && fx != FX_TONE_PORTA_VOLSLIDE) {
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
  } else if (xm) {
    if (first || (noteDelay && t == l)) {
      const int32_t note = DecodeNote(linenote, song.SourceFormat);
      if (!noteDelay) XmLineStart(song, note, porta);
      else if (t == l) XmDelayedNote(song, note);
    }
  } else if (trigger) {
    const int32_t note = DecodeNote(linenote, song.SourceFormat);
    if (inst != 0) {
      Instrument = (inst > 0 && inst < static_cast<int32_t>(song.Instrument.size()))
                       ? song.Instrument[static_cast<size_t>(inst)]
                       : nullptr;
      if (Instrument && !Instrument->TablesBuilt) Instrument->BuildTables(song.SourceFormat);
    }
    if (note == kXmKeyOff) {
      KeyOff = 1;
      if (!Instrument || !Instrument->VolTable.on) {
        Volume = 0;
        ClickDelay = 127;
      }
    } else if (note > 0 && porta && Sample && Add != 0) {
      TonePortamentoNote = note;
    } else if (note > 0) {
      Cantor_SamplePtr s = Instrument ? Instrument->MappedSample(std::clamp(note, 0, 99)) : nullptr;
      if (!s) {
        Sample = nullptr;
        Add = 0;
        ClickDelay = 127;
      } else {
        const bool newSample = s != Sample;
        Sample = s;
        Note = note;
        FineTune = Sample->FineTune;
        Pos = 0;
        Add = 0;
        SetFrequency = 1;
        ClickDelay = 127;
        Arped = 0;
        Tick = 0;
        if (VibratoWaveForm < 4) VibratoCount = 0;
        if (TremoloWaveForm < 4) TremoloCount = 0;
        if (inst != 0 || newSample) {
          Volume = Sample->Volume;
          // (MOD samples carry no pan: the channel keeps its own.)
          if (xm) Pan255 = Sample->FilePan >= 0 ? Sample->FilePan : 128;
          SetPan = 1;
        }
      }
    }
    // An instrument number restarts the envelopes and the fade-out and resets the
    // volume (also with a tone portamento or without a note).
    // (A key off in the same cell stays a key off.)
    if (note != kXmKeyOff && (inst != 0 || (note > 0 && !(porta && Add != 0))) && Sample) {
      if (inst != 0) {
        Volume = Sample->Volume;
        if (xm) Pan255 = Sample->FilePan >= 0 ? Sample->FilePan : 128;
        SetPan = 1;
      }
      KeyOff = 0;
      KeyOffValue = 1;
      VolEnvPos = PanEnvPos = 0;
      AutoVibPos = 0;
      AutoVibAmp = 0;
      FadeStep = Instrument ? Instrument->VolFadeout / 32768.0 : 0.0;
    }
  }

  if (classic && (!Sample || Note == 0)) {
    ClassicTickEnd();
    return;
  }
  if (!Sample) {
    Env = 0;
    return;
  }

  // The vibrato waveform at its phase (XM's ramp runs the other way: the pitch falls).
  const auto vibWave = [&]() {
    const double w = Wave(VibratoWaveForm, VibratoCount);
    return xm && (VibratoWaveForm & 3) == 1 ? -w : w;
  };

  // Volume column.
  if (xm && vol >= 0x10) {
    const int32_t x = vol & 15;
    // A delayed note takes the column's volume or pan on its tick; the column's other
    // first-tick work is not done on such a line.
    const bool lineStart = first && !noteDelay;
    switch (vol >> 4) {
      case 1: case 2: case 3: case 4: case 5:
        // 0x10..0x50 set the volume; 0x51..0x5F do nothing.
        if (trigger && vol <= 0x50) Volume = (vol - 0x10) / 64.0;
        break;
      case 6: if (t != 0) Volume = Clamp(Volume - x / 64.0, 0, 1); break;
      case 7: if (t != 0) Volume = Clamp(Volume + x / 64.0, 0, 1); break;
      case 8: if (lineStart) Volume = Clamp(Volume - x / 64.0, 0, 1); break;
      case 9: if (lineStart) Volume = Clamp(Volume + x / 64.0, 0, 1); break;
      case 10: if (lineStart && x) VibratoSpeed = x; break;
      case 11:
        if (lineStart && x) VibratoDepth = x;
        pitchOffset -= UnitsToSemitones(vibWave() * VibratoDepth * kVibScale, song);
        if (t != 0) VibratoCount += VibratoSpeed;
        break;
      case 12: if (trigger) { Pan255 = x * 17; SetPan = 1; } break;
      case 13: if (t != 0) { Pan255 = Clamp(Pan255 - x, 0, 255); SetPan = 1; } break;
      case 14: if (t != 0) { Pan255 = Clamp(Pan255 + x, 0, 255); SetPan = 1; } break;
      case 15:
        if (lineStart && x) MemTonePorta = x * 16;
        break;
      default: break;
    }
  } else if (vol >= 16) {
    // Classic meaning (MOD files carry their channel pans here: in MOD playback only
    // until an effect pans the channel).
    if (classic || xm || vol < 192 || vol > 207 || !PanByEffect) ApplyVolume(t, linenote, vol);
  }
  // Classic: any effect after an arpeggio tick puts the note's own pitch back.
  if (classic && fx != FX_ARPEGGIO && Arped != 0) {
    SetFrequency = 1;
    Arped = 0;
  }

  // The slides both modes have, each in its mode's arithmetic.
  const auto volSlide = [&](int32_t param) {
    if (classic) {
      EFFECT_VolumeSlide(t, h, l);
      return;
    }
    if (param != 0 || !xm) MemVolSlide = param;
    const int32_t up = (MemVolSlide >> 4) & 15, down = MemVolSlide & 15;
    if (t == 0) return;
    if (up) Volume = Clamp(Volume + up / 64.0, 0, 1);
    else Volume = Clamp(Volume - down / 64.0, 0, 1);
  };
  const auto tonePorta = [&]() {
    if (classic) {
      DoNotePortamento();
      return;
    }
    if (t == 0 || Add == 0) return;
    const double target = TonePortamentoNote;
    if (Note == target) return;
    const double step = std::fabs(UnitsToSemitones(MemTonePorta * (Note < target ? 1.0 : -1.0), song));
    Note = Note < target ? std::min(Note + step, target) : std::max(Note - step, target);
  };
  // Format playback: the offset of the current phase applies on every tick; the later
  // ticks then move the phase on.
  const auto vibrato = [&]() {
    if (classic) {
      DoVibrato();
      return;
    }
    // MOD: the line's first tick plays the pitch itself.
    if (t == 0 && !xm) return;
    pitchOffset -= UnitsToSemitones(vibWave() * VibratoDepth * kVibScale, song);
    if (t != 0) VibratoCount += VibratoSpeed;
  };

  // (A tone portamento in both the volume column and the effect slides once.)
  if (xm && vol >= 0xF0 && fx != FX_TONE_PORTA && fx != FX_TONE_PORTA_VOLSLIDE) tonePorta();

  switch (fx) {
    case FX_ARPEGGIO:
      if (classic) {
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
      } else if (fxv != 0) {
        // MOD counts the phase from the line's first tick; XM from the line's end
        // (ticks left), so a speed that is no multiple of 3 starts elsewhere. XM's
        // count holds for up to 15 ticks left: with 16 left the note plays, with more
        // the second offset.
        const int32_t left = song.Speed - t;
        const int32_t phase = !xm ? t % 3 : (t == 0 ? 0 : left > 16 ? 2 : left == 16 ? 0 : ((left % 3) + 3) % 3);
        if (phase == 1) pitchOffset += h;
        else if (phase == 2) pitchOffset += l;
      }
      break;
    case FX_PORTA_UP:
      if (classic) {
        if (first && fxv != 0) PortamentoUp = fxv;
        Note += slidestep * PortamentoUp;
        SetFrequency = 1;
      } else {
        if (first && (fxv != 0 || !xm)) MemPortaUp = fxv;
        if (!first) SlidePitch(MemPortaUp, song);
      }
      break;
    case FX_PORTA_DOWN:
      if (classic) {
        if (first && fxv != 0) PortamentoDown = fxv;
        Note -= slidestep * PortamentoDown;
        SetFrequency = 1;
      } else {
        if (first && (fxv != 0 || !xm)) MemPortaDown = fxv;
        if (!first) SlidePitch(-MemPortaDown, song);
      }
      break;
    case FX_TONE_PORTA:
      if (first && classic) {
        if (linenote > 0) TonePortamentoNote = linenote;
        if (fxv > 0) TonePortamentoValue = slidestep * fxv;
        KeyOff = 0;
        KeyOffStep = 0;
        KeyOffValue = 1;
      } else if (first && fxv != 0) {
        MemTonePorta = fxv;
      }
      tonePorta();
      break;
    case FX_VIBRATO:
      if (first) {
        if (h) VibratoSpeed = h;
        if (l) VibratoDepth = l;
      }
      vibrato();
      break;
    case FX_TONE_PORTA_VOLSLIDE:
      // Classic: the line's note becomes the target and a fading note is taken back.
      if (first && classic) {
        if (linenote != 0) TonePortamentoNote = linenote;
        KeyOff = 0;
        KeyOffStep = 0;
        KeyOffValue = 1;
      }
      tonePorta();
      volSlide(fxv);
      break;
    case FX_VIBRATO_VOLSLIDE:
      vibrato();
      volSlide(fxv);
      break;
    case FX_TREMOLO:
      if (first) {
        if (h) TremoloSpeed = h;
        if (l) TremoloDepth = l;
      }
      if (classic) {
        DoTremolo();
      } else if (!xm) {
        // MOD: the line's first tick plays the volume itself; each later tick the current
        // phase, then moves it on.
        if (t != 0) {
          volumeOffset = Wave(TremoloWaveForm, TremoloCount) * TremoloDepth * 255.0 / 64.0 / 64.0;
          TremoloCount += TremoloSpeed;
        }
      } else {
        // XM: the offset of the current phase, then the later ticks move the phase on
        // (as vibrato).
        double w = Wave(TremoloWaveForm, TremoloCount);
        if ((TremoloWaveForm & 3) == 1) {
          // XM's ramp rises through each half of the cycle, up then down, and runs
          // backwards while the vibrato's phase is in its second half.
          const int32_t pos = TremoloCount & 63;
          const double rise = ((VibratoCount & 63) >= 32 ? 31 - (pos & 31) : pos & 31) / 32.0;
          w = pos < 32 ? rise : -rise;
        }
        volumeOffset = w * TremoloDepth * 255.0 / 64.0 / 64.0;
        if (t != 0) TremoloCount += TremoloSpeed;
      }
      break;
    case FX_PAN:
      if (first) {
        if (xm) Pan255 = fxv;
        else if (classic || song.ModPanning != MOD_PAN_NONE) {
          const int32_t v = !classic && song.ModPanning == MOD_PAN_HALF ? std::min(fxv * 2, 255) : fxv;
          Pan = (v - 128) / 128.0;
          PanFromSample = 0;
          PanByEffect = 1;
        }
        SetPan = 1;
      }
      break;
    case FX_OFFSET:
      // XM: the offset applies when a note starts, but a line without a note keeps its
      // parameter for the next.
      if (first && xm && fxv != 0) MemOffset = fxv;
      if (first && classic) {
        MemOffset = fxv;
        // Classic: the offset applies on the line's first tick, with or without a note.
        if (static_cast<int64_t>(MemOffset) * 256 < Sample->Length) {
          Pos = MemOffset * 256.0;
          ClickDelay = 127;
        }
      } else if (first && !xm) {
        // MOD: 900 takes the last offset again; the offset applies with a note only. Past
        // the sample's end a looped sample plays its loop, another one nothing.
        if (fxv != 0) MemOffset = fxv;
        if (trigger && linenote != 0) {
          if (static_cast<int64_t>(MemOffset) * 256 < Sample->Length) {
            Pos = MemOffset * 256.0;
          } else if (Sample->Loop) {
            Pos = Sample->LoopStart;
          } else {
            Sample = nullptr;
            Add = 0;
            ClickDelay = 127;
            Env = 0;
            return;
          }
          ClickDelay = 127;
        }
      }
      break;
    case FX_VOLSLIDE: volSlide(fxv); break;
    case FX_VOLUME:
      if (first) {
        Volume = Clamp(fxv / 64.0, 0, 1);
        ClickDelay = 127;
      }
      break;
    case FX_EXTENDED:
      switch (h) {
        case EX_FINE_PORTA_UP:
          if (classic) {
            if (first && l != 0) {
              PortamentoUp = l;
              VibratoCount = 0;
              VibratoValue = 0;
              Note += slidestep * l;
              SetFrequency = 1;
            }
          } else if (first) {
            if (l || !xm) MemFinePortaUp = l;
            SlidePitch(MemFinePortaUp, song);
          }
          break;
        case EX_FINE_PORTA_DOWN:
          if (classic) {
            if (first && l != 0) {
              PortamentoDown = l;
              VibratoCount = 0;
              VibratoValue = 0;
              Note -= slidestep * l;
              SetFrequency = 1;
            }
          } else if (first) {
            if (l || !xm) MemFinePortaDown = l;
            SlidePitch(-MemFinePortaDown, song);
          }
          break;
        case EX_VIBRATO_WAVE: if (first) VibratoWaveForm = l; break;
        case EX_FINETUNE:
          // XM: only a note started on the line takes it (see XmStartTone). MOD: the fine
          // tune of the line's note; without a note it changes nothing.
          if (first && !xm && (classic || linenote != 0)) {
            // MOD: a signed digit (classic: no lower than -7).
            const int32_t signedDigit = l > 7 ? l - 16 : l;
            FineTune = (classic ? std::max(signedDigit, -7) : signedDigit) / 8.0;
            SetFrequency = 1;
          }
          break;
        case EX_TREMOLO_WAVE: if (first) TremoloWaveForm = l; break;
        case EX_PAN:
          if (classic) {
            // Classic: on the line's later ticks, 8 steps a side.
            if (!first) {
              Pan = (l - 8) / 8.0;
              PanFromSample = 0;
              SetPan = 1;
            }
          } else if (first) {
            if (xm) Pan255 = l * 17;
            else if (song.ModPanning != MOD_PAN_NONE) {
              // 0..15 over the whole range: 15 is hard right.
              Pan = (std::round(l * 256 / 15.0) - 128) / 128.0;
              PanFromSample = 0;
              PanByEffect = 1;
            }
            SetPan = 1;
          }
          break;
        case EX_RETRIG:
          if (classic) {
            // Classic: counts the note's ticks, and restarts the pitch too.
            if ((l != 0 && Tick % l == 0) || (l == 0 && first)) {
              Tick = 0;
              Pos = 0;
              SetFrequency = 1;
            }
          } else if (l != 0 && t != 0 && t % l == 0) {
            Pos = 0;
            ClickDelay = 127;
            VolEnvPos = PanEnvPos = 0;
          }
          break;
        case EX_FINE_VOLSLIDE_UP:
          if (first) {
            if (l || !xm) MemFineVolUp = l;
            Volume = Clamp(Volume + MemFineVolUp / 64.0, 0, 1);
          }
          break;
        case EX_FINE_VOLSLIDE_DOWN:
          if (first) {
            if (l || !xm) MemFineVolDown = l;
            Volume = Clamp(Volume - MemFineVolDown / 64.0, 0, 1);
          }
          break;
        case EX_NOTE_CUT:
          if (t == l) {
            Volume = 0;
            ClickDelay = 127;
          }
          break;
        default: break;  // 0, 3, 15 nothing; 6, 13, 14 belong to the sequencer or the trigger
      }
      break;
    case FX_KEY_OFF:
      if (classic) {
        // Every tick of the line. The first time it fires it also computes the fade
        // step, as a key-off note does, so that it is audible on a fresh note.
        if (!KeyOff) {
          KeyOff = 1;
          CalcKeyOff();
        }
      } else if (xm) {
        if (t == fxv && t != 0) XmKeyOff();  // K00: at the line's start
      } else if (t == fxv) {
        KeyOff = 1;
        if (!Instrument || !Instrument->VolTable.on) Volume = 0;
      }
      break;
    case FX_EXTRA_FINE_PORTA:
      if (classic) {
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
      } else if (first) {
        if (h == 1) {
          if (l) MemXFineUp = l;
          SlidePitch(MemXFineUp / 4.0, song);
        } else if (h == 2) {
          if (l) MemXFineDown = l;
          SlidePitch(-MemXFineDown / 4.0, song);
        }
      }
      break;
    case FX_GLOBAL_VOLUME:
      if (classic) break;  // format playback only
      if (t == 0) song.GlobalVolume = std::min(fxv, 64);
      break;
    case FX_GLOBAL_VOLSLIDE:
      if (classic) break;  // format playback only
      if (t == 0 && fxv != 0) MemGlobalSlide = fxv;
      if (t != 0) {
        const int32_t up = (MemGlobalSlide >> 4) & 15, down = MemGlobalSlide & 15;
        song.GlobalVolume = std::clamp(song.GlobalVolume + (up ? up : -down), 0, 64);
      }
      break;
    case FX_ENVELOPE_POS:
      if (classic) break;  // format playback only
      if (t == 0) {
        VolEnvPos = fxv;
        if (Instrument && Instrument->VolTable.sustain >= 0) PanEnvPos = fxv;
      }
      break;
    case FX_PAN_SLIDE:
      if (classic) break;  // format playback only
      if (t == 0 && fxv != 0) MemPanSlide = fxv;
      if (t != 0) {
        const int32_t right = (MemPanSlide >> 4) & 15, left = MemPanSlide & 15;
        Pan255 = Clamp(Pan255 + (right ? right : -left), 0, 255);
        SetPan = 1;
      }
      break;
    case FX_RETRIG: {
      if (classic) break;  // format playback only
      if (t == 0 && fxv != 0) {
        if (h) MemRetrig = (MemRetrig & 0x0F) | (h << 4);
        if (l) MemRetrig = (MemRetrig & 0xF0) | l;
      }
      const int32_t interval = MemRetrig & 15, change = (MemRetrig >> 4) & 15;
      // The ticks are counted from the one after a note's start, across lines.
      if (trigger && linenote != 0) {
        RetrigCount = 0;
        break;
      }
      if (interval == 0) break;
      if (++RetrigCount >= interval) {
        RetrigCount = 0;
        if (t != 0 || linenote == 0) {
          Pos = 0;
          ClickDelay = 127;
          double v = Volume * 64;
          switch (change) {
            case 1: v -= 1; break; case 2: v -= 2; break; case 3: v -= 4; break; case 4: v -= 8; break;
            case 5: v -= 16; break; case 6: v = v * 2 / 3; break; case 7: v /= 2; break;
            case 9: v += 1; break; case 10: v += 2; break; case 11: v += 4; break; case 12: v += 8; break;
            case 13: v += 16; break; case 14: v = v * 3 / 2; break; case 15: v *= 2; break;
            default: break;
          }
          Volume = Clamp(v, 0, 64) / 64.0;
        }
      }
      break;
    }
    case FX_TREMOR: {
      if (classic) break;  // format playback only
      // On the line's later ticks a counter runs down through x + 1 ticks on and y + 1
      // ticks off; the state it leaves (silent or not) lasts until the volume is set.
      if (t == 0 && fxv != 0) MemTremor = fxv;
      if (t != 0) {
        bool on = (TremorCount & 0x80) != 0;
        int32_t left = (TremorCount & 0x7F) - 1;
        if (left < 0) {
          on = !on;
          left = on ? (MemTremor >> 4) & 15 : MemTremor & 15;
        }
        TremorCount = (on ? 0x80 : 0) | left;
        if (xm && TremorMuted != (on ? 0 : 1)) ClickDelay = 127;  // switched at once
        TremorMuted = on ? 0 : 1;
      }
      break;
    }
    default: break;  // FX_JUMP, FX_BREAK and FX_TIMING belong to the sequencer
  }

  if (classic) {
    if (SetFrequency) {
      SetFreq();
      SetFrequency = 0;
    }
    if (SetPan) {
      CalcPanGains();
      SetPan = 0;
    }
    ClassicTickEnd();
    return;
  }

  // A volume set or moved by this line ends a tremor's silence.
  if (Volume != volumeBefore || (trigger && inst != 0)) TremorMuted = 0;
  if (TremorMuted) volumeOffset = -Volume;

  // Envelopes, fade-out and instrument auto-vibrato.
  double envVol = 1.0, envPan = 0.5;
  if (Instrument) {
    Cantor_Instrument& in = *Instrument;
    if (!in.TablesBuilt) in.BuildTables(song.SourceFormat);
    if (in.VolTable.on) {
      envVol = in.VolTable.At(VolEnvPos);
      AdvanceEnvelope(in.VolTable, VolEnvPos, KeyOff != 0);
    }
    if (in.PanTable.on) {
      envPan = in.PanTable.At(PanEnvPos);
      AdvanceEnvelope(in.PanTable, PanEnvPos, KeyOff != 0);
      SetPan = 1;
    }
    if (KeyOff && in.VolTable.on && Add != 0) {
      KeyOffValue = std::max(0.0, KeyOffValue - FadeStep);
      if (KeyOffValue <= 0) Add = 0;  // faded out: the voice ends
    }
    if (in.VibDepth > 0 && in.VibRate > 0) {
      const int32_t full = in.VibDepth << 8;
      if (in.VibSweep > 0) AutoVibAmp = std::min(full, AutoVibAmp + full / in.VibSweep);
      else AutoVibAmp = full;
      AutoVibPos = (AutoVibPos + in.VibRate) & 255;
      // The waveform's first half raises the pitch (unlike effect 4, which lowers it).
      const double fine = AutoWave(in.VibType, AutoVibPos) * AutoVibAmp / 256.0;
      pitchOffset += UnitsToSemitones(fine / 4.0, song);
    }
  }

  // Rate, gain and pan of this tick.
  if ((Note != 0 && Add != 0) || SetFrequency) {
    const double x = Note + FineTune + Sample->RelativeNote + pitchOffset;
    const double rate = PitchToAdd(x, song);
    Add = Add < 0 ? -rate : rate;
  }
  SetFrequency = 0;
  VibratoValue = 0;
  TremoloValue = Clamp(Volume + volumeOffset, 0, 1) - Volume;
  Env = envVol * song.GlobalVolume / 64.0;
  if (xm) {
    // The level the mixer applies moves there over the whole tick; a volume set on the
    // line's first tick or a note start is taken at once (behind the crossfade).
    const double level = (Volume + TremoloValue) * Env * KeyOffValue;
    const bool quick = trigger || (first && Volume != volumeBefore) || ClickDelay >= 127;
    if (quick && std::fabs(level - RampTo) > 1.0 / 256.0) ClickDelay = std::max(ClickDelay, 127);
    RampFrom = quick ? level : RampTo;
    RampTo = level;
    RampFrames = song.TickFrames();
    RampDone = 0;
    double p = Pan255;
    p += (envPan - 0.5) * 2.0 * (128.0 - std::fabs(p - 128.0));
    p = Clamp((p - 128.0) / 128.0, -1.0, 1.0);
    if (song.XmMixing == XM_MIX_EQUAL_POWER) {
      LPanCalc = 2.0 * kXmLevel * std::sqrt((1.0 - p) * 0.5);
      RPanCalc = 2.0 * kXmLevel * std::sqrt((1.0 + p) * 0.5);
    } else {
      const double share = song.XmMixing == XM_MIX_BY_CHANNELS ? XmChannelShare(song.ActiveChannels) : 1.0;
      LPanCalc = (1.0 - p) * kXmLevel * share;
      RPanCalc = (1.0 + p) * kXmLevel * share;
    }
    SetPan = 0;
  } else if (SetPan) {
    // MOD: a linear pan law, and a level that shares the headroom of four channels
    // among all of them (in steps of 1/32). Until an effect pans it, a channel sits
    // half way to its Amiga side (3:1 on the two sides); an effect's pan covers the
    // whole range.
    double p = Pan;
    if (PanFromSample || p > 1.0 || p < -1.0) p /= 128.0;
    p = PanByEffect ? Clamp(p, -1.0, 1.0) : (p < 0 ? -0.5 : 0.5);
    const int32_t channels = std::max<int32_t>(song.ActiveChannels, 1);
    const double share = std::floor(128.0 / channels) / 32.0;
    LPanCalc = (1.0 - p) * 0.5 * share;
    RPanCalc = (1.0 + p) * 0.5 * share;
    SetPan = 0;
  }
}

void Cantor_Channel::XmLineStart(Cantor_Mixer& song, int32_t note, bool porta) {
  if (porta) {
    // A tone portamento never starts its note: the note becomes the target. An
    // instrument number still resets the volume and restarts the envelopes.
    if (note == kXmKeyOff) XmKeyOff();
    else if (note > 0) TonePortamentoNote = note;
    if (inst != 0) {
      XmResetVolumes();
      if (note != kXmKeyOff) XmTriggerInstrument();
    }
    return;
  }
  if (fx == FX_KEY_OFF && fxv == 0) {
    // K00 is a key off at once; the line's note is not played.
    XmKeyOff();
    if (inst != 0) XmResetVolumes();
    return;
  }
  if (note == kXmKeyOff) XmKeyOff();
  else if (note > 0) XmStartTone(song, note, fx, fxv);
  // An instrument number (with or without a note) resets the volume and pan to the
  // sample's and restarts the envelopes and fade-out, without restarting the sample.
  if (inst != 0) {
    XmResetVolumes();
    if (note != kXmKeyOff) XmTriggerInstrument();
  }
}

void Cantor_Channel::XmDelayedNote(Cantor_Mixer& song, int32_t note) {
  // The delayed note (the last note when the line has none) starts without the line's
  // effect; its envelopes restart even after a key off.
  if (note == kXmKeyOff) XmKeyOff();
  else XmStartTone(song, note, 0, 0);
  if (inst != 0) XmResetVolumes();
  XmTriggerInstrument();
}

void Cantor_Channel::XmStartTone(Cantor_Mixer& song, int32_t note, int32_t effect, int32_t param) {
  if (note == 0) note = LastNote;
  if (note <= 0) return;
  LastNote = note;
  Instrument = XmInstNum > 0 && XmInstNum < static_cast<int32_t>(song.Instrument.size())
                   ? song.Instrument[static_cast<size_t>(XmInstNum)]
                   : nullptr;
  Cantor_SamplePtr s;
  if (Instrument) {
    if (!Instrument->TablesBuilt) Instrument->BuildTables(song.SourceFormat);
    s = Instrument->MappedSample(std::clamp(note, 1, 96));
  }
  if (!s) {
    // No instrument, or no sample for the note: the channel falls silent.
    Sample = nullptr;
    Add = 0;
    ClickDelay = 127;
    OldVolume = 0;
    return;
  }
  const int32_t pitch = note + s->RelativeNote;
  if (pitch < 0 || pitch >= 120) return;  // out of range: not played
  OldVolume = s->Volume;
  OldPan255 = s->FilePan >= 0 ? s->FilePan : 128;
  FineTune = effect == FX_EXTENDED && (param >> 4) == EX_FINETUNE ? ((param & 15) - 8) / 8.0 : s->FineTune;
  Sample = s;
  Note = note;
  Pos = 0;
  Add = 0;
  SetFrequency = 1;
  ClickDelay = 127;
  Arped = 0;
  Tick = 0;
  // A new note restarts the vibrato and tremolo phase (an instrument number alone does not).
  if (VibratoWaveForm < 4) VibratoCount = 0;
  if (TremoloWaveForm < 4) TremoloCount = 0;
  if (effect == FX_OFFSET) {
    if (param != 0) MemOffset = param;
    Pos = MemOffset * 256.0;
    if (Pos >= s->Length) {
      // An offset past the sample's end: the note does not sound.
      Sample = nullptr;
      Pos = 0;
    }
  }
}

void Cantor_Channel::XmResetVolumes() {
  Volume = OldVolume;
  Pan255 = OldPan255;
  SetPan = 1;
}

void Cantor_Channel::XmTriggerInstrument() {
  RetrigCount = 0;
  TremorCount = 0;
  KeyOff = 0;
  KeyOffValue = 1;
  VolEnvPos = PanEnvPos = 0;
  AutoVibPos = 0;
  AutoVibAmp = 0;
  FadeStep = Instrument ? Instrument->VolFadeout / 32768.0 : 0.0;
}

void Cantor_Channel::XmKeyOff() {
  KeyOff = 1;
  if (!Instrument || !Instrument->VolTable.on) {
    Volume = 0;
    ClickDelay = 127;
  }
}
