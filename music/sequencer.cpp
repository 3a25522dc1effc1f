// Cantor_Mixer: the song's clock and position (ticks, lines, patterns, order list), its
// parameter interface and the song-length computation.
#include <algorithm>
#include <array>
#include <limits>

#include <ormix/music/mixer.h>
#include <ormix/runtime/errors.h>
#include <ormix/system/event.h>

Cantor_Mixer::Cantor_Mixer() {
  SAMPLE_RATE = 44100;
  InitTrackerTables();
  // The song is the event's source; the reference does not own the song (no cycle).
  TickEvent = TEvent::Create(501, TObjectPtr(TObjectPtr(), static_cast<void*>(this)));
}

Cantor_Mixer::~Cantor_Mixer() {
  if (!Instrument.empty()) Free();
}

void Cantor_Mixer::Init(int32_t channels) {
  if (channels < 0) channels = 0;
  Instrument.assign(static_cast<size_t>(std::max(MaxInstruments, 0)), nullptr);
  Pattern.assign(static_cast<size_t>(std::max(MaxPatterns, 0)), nullptr);
  SongPattern.assign(static_cast<size_t>(std::max(MaxSequences, 0)), 0);
  MMC_Channel.clear();
  MMC_Channel.reserve(static_cast<size_t>(channels));
  for (int32_t i = 0; i < channels; ++i) MMC_Channel.push_back(std::make_shared<Cantor_Channel>());
  ActiveChannels = channels;
}

void Cantor_Mixer::Free() {
  for (auto& ch : MMC_Channel) {
    if (!ch) continue;
    ch->Instrument = nullptr;
    ch->Sample = nullptr;
  }
  for (auto& inst : Instrument) {
    if (inst) inst->Sample.clear();
  }
  Instrument.clear();
  Pattern.clear();
  SongPattern.clear();
  MMC_Channel.clear();
  TickEvent = nullptr;
  // An emptied song cannot play: a later FillBuffer produces nothing instead of failing.
  PlayStatus = 0;
  TMusic::Free();
}

int32_t Cantor_Mixer::PatternAt(int32_t position) const {
  if (position < 0 || position >= static_cast<int32_t>(SongPattern.size())) return -1;
  return SongPattern[static_cast<size_t>(position)];
}

// Frames per tick: SAMPLE_RATE / (Tempo * 0.4), computed exactly in integers as
// SAMPLE_RATE * 5 / (Tempo * 2). Never less than one frame, so the player always moves;
// tempos above MaxTempo play as MaxTempo, which bounds the ticks run per second of sound.
int32_t Cantor_Mixer::TickFrames() const {
  const int64_t tempo = std::clamp<int32_t>(Tempo, 1, MaxTempo);
  const int64_t frames = static_cast<int64_t>(SAMPLE_RATE) * 5 / (tempo * 2);
  return static_cast<int32_t>(std::clamp<int64_t>(frames, 1, std::numeric_limits<int32_t>::max()));
}

void Cantor_Mixer::Do_Player() {
  if (CurrentPattern < 0 || CurrentPattern >= static_cast<int32_t>(Pattern.size()) ||
      !Pattern[static_cast<size_t>(CurrentPattern)])
    throw TRuntimeException("no pattern!!!");
  Cantor_Pattern& pattern = *Pattern[static_cast<size_t>(CurrentPattern)];
  // While the song is measured only a line's first tick has work (its timing commands).
  const int32_t channels = _calculating && MMTick != 0
                               ? 0
                               : std::min<int32_t>(ActiveChannels, static_cast<int32_t>(MMC_Channel.size()));
  for (int32_t i = 0; i < channels; ++i) {
    if (i >= static_cast<int32_t>(pattern.Track.size())) break;
    Cantor_Track* track = pattern.Track[static_cast<size_t>(i)].get();
    if (!track) continue;
    if (MMTick == 0 && CurrentLine >= 0 && CurrentLine < track->LineCount) {
      const int32_t fx = track->FX[static_cast<size_t>(CurrentLine)];
      const int32_t fxv = track->FXV[static_cast<size_t>(CurrentLine)];
      switch (fx) {
        case 11: MMJump = fxv; break;
        case 13: PatternBreak(fxv); break;
        case 14:
          if (((fxv >> 4) & 15) == 6) PatternLineRepeat(fxv & 15);
          else if (((fxv >> 4) & 15) == 14)
            patterndelay = static_cast<int32_t>(std::min<int64_t>(int64_t{fxv & 15} * Speed, 1 << 24));
          break;
        case 15: SetTiming(fxv); break;
        default: break;  // 16, 17 and the rest belong to the channel
      }
    }
    // Measuring the song needs only the timing commands above: the channels' own work
    // (notes, effects, envelopes) changes no timing and is skipped, so a song of many
    // channels at a fast tempo costs little to measure.
    if (_calculating) continue;
    Cantor_Channel& channel = *MMC_Channel[static_cast<size_t>(i)];
    channel.ApplyCommand(*track, *this);
    if (channel.Add != 0) {
      channel.PreCalc();
      channel.ApplyKeyOff();
    }
  }
  BytesUntilTick = TickFrames();
  MMTick += 1;
  if (MMTick < Speed) return;
  if (patterndelay >= 1) {
    patterndelay -= 1;
    return;
  }
  // Line events report the line just finished; none while CalcSize runs the song.
  if (EmitTick && !_calculating) TEvent::Create(501, nullptr, CurrentLine)->Emit();
  NEXT_LINE();
  LineJump = -1;
  MMTick = 0;
}

void Cantor_Mixer::PatternBreak(int32_t line) {
  MMJump = CurrentSongPattern < ActiveSongPatterns ? CurrentSongPattern + 1 : 0;
  int32_t lines = 0;
  if (CurrentPattern >= 0 && CurrentPattern < static_cast<int32_t>(Pattern.size()) &&
      Pattern[static_cast<size_t>(CurrentPattern)])
    lines = Pattern[static_cast<size_t>(CurrentPattern)]->LineCount;
  MMJumpLine = (line >= 0 && line < lines) ? line : 0;
}

void Cantor_Mixer::PatternLineRepeat(int32_t count) {
  if (count == 0) {
    PatternLoopStart = CurrentLine;
    return;
  }
  LineJump = 1;
  if (PatternLoopCount == -1 && CurrentLine > PatternLoopEnd) {
    PatternLoopCount = count;
    PatternLoopEnd = CurrentLine;
  } else if (PatternLoopCount == 0) {
    PatternLoopCount = -1;
    LineJump = -1;
  }
}

// The end of the order list: wraps to position 0 with looping on, else stops the song.
void Cantor_Mixer::EndOfSong() {
  STREAM_SIZE = STREAM_POS;
  STREAM_POS = 0;
  if (STREAM_LOOP == 1) {
    SetCurrentSequence(0);
    CurrentPattern = PatternAt(CurrentSongPattern);
  } else {
    PlayStatus = 0;
    Reset();
  }
}

void Cantor_Mixer::NEXT_LINE() {
  if (LineJump > 0) {
    if (PatternLoopCount > 0) {
      CurrentLine = PatternLoopStart - 1;
      PatternLoopCount -= 1;
    }
    LineJump = -1;
  }
  if (MMJump == -1) {
    CurrentLine += 1;
    int32_t lines = 0;
    if (CurrentPattern >= 0 && CurrentPattern < static_cast<int32_t>(Pattern.size())) {
      const Cantor_Pattern* pattern = Pattern[static_cast<size_t>(CurrentPattern)].get();
      if (pattern) {
        lines = pattern->LineCount;
        if (!pattern->Track.empty() && pattern->Track[0]) lines = pattern->Track[0]->LineCount;
      }
    }
    if (CurrentLine >= lines) {
      CurrentLine = 0;
      PatternLoopStart = 0;
      PatternLoopEnd = 0;
      PatternLoopCount = -1;
      if (CurrentSongPattern < ActiveSongPatterns) {
        SetCurrentSequence(CurrentSongPattern + 1);
        CurrentPattern = PatternAt(CurrentSongPattern);
      } else {
        EndOfSong();
      }
    }
    return;
  }
  // A jump target outside the used order list counts as the end of the order list.
  if (MMJump < 0 || MMJump > ActiveSongPatterns || MMJump >= static_cast<int32_t>(SongPattern.size())) {
    MMJump = -1;
    MMJumpLine = 0;
    CurrentLine = 0;
    PatternLoopStart = 0;
    PatternLoopEnd = 0;
    PatternLoopCount = -1;
    EndOfSong();
    return;
  }
  CurrentLine = MMJumpLine;
  MMJumpLine = 0;
  if (MMJump < CurrentSongPattern && STREAM_LOOP == 0) {
    PlayStatus = 0;
    Reset();
  }
  SetCurrentSequence(MMJump);
  CurrentPattern = PatternAt(CurrentSongPattern);
  MMJump = -1;
  PatternLoopStart = 0;
  PatternLoopEnd = 0;
  PatternLoopCount = -1;
}

void Cantor_Mixer::SetTiming(int32_t value) {
  if (value <= 0) return;
  if (value < 32) Speed = value;
  else Tempo = value;
}

void Cantor_Mixer::Reset() {
  Stop();
  STREAM_POS = 0;
  MMTick = 0;
  CurrentLine = 0;
  CurrentSongPattern = 0;
  CurrentPattern = SongPattern.empty() ? 0 : SongPattern[0];
  Tempo = DefaultTempo;
  Speed = DefaultSpeed;
}

void Cantor_Mixer::SetCurrentSequence(int32_t position) {
  if (PatternLock != 0) return;
  CurrentSongPattern = position;
  CurrentPattern = PatternAt(position);
}

void Cantor_Mixer::Stop() {
  PlayStatus = 0;
  for (auto& ch : MMC_Channel) {
    if (!ch) continue;
    ch->Instrument = nullptr;
    ch->Sample = nullptr;
    ch->Add = 0;
    ch->Pos = 0;
  }
}

// Runs the song once without looping and without sound, counting its frames. A song
// that never ends is cut off after MaxCalcSeconds of song time. The song is left at its
// start, stopped, with the next FillBuffer processing tick 0 before its first frame.
//
// A song that never ends comes back to a position it has been at, in the same state, and
// from there on repeats itself: the repeat is found (Brent's method: the state at a line
// start is compared with one kept at power-of-two intervals) and the whole repetitions up
// to the cut-off are counted instead of run, so even a song that jumps to itself at the
// fastest tempo is measured at once.
void Cantor_Mixer::CalcSize() {
  PlayStatus = 1;
  STREAM_LOOP = 0;
  int64_t sum = 0;
  double seconds = 0;
  _calculating = true;
  using TState = std::array<int32_t, 12>;
  auto state = [this] {
    return TState{CurrentSongPattern, CurrentPattern, CurrentLine, Speed, Tempo, patterndelay,
                  PatternLoopStart, PatternLoopEnd, PatternLoopCount, LineJump, MMJump, MMJumpLine};
  };
  TState kept{};
  int64_t keptSum = 0, power = 1, lines = 0;
  double keptSeconds = 0;
  bool haveKept = false, repeatCounted = false;
  try {
    for (;;) {
      Do_Player();
      if (PlayStatus == 0) break;
      sum += BytesUntilTick;
      seconds += 2.5 / std::clamp<int32_t>(Tempo, 1, MaxTempo);
      if (seconds >= MaxCalcSeconds) break;
      if (MMTick != 0 || repeatCounted) continue;
      const TState now = state();
      if (haveKept && now == kept) {
        const double period = seconds - keptSeconds;
        const int64_t skip = static_cast<int64_t>((MaxCalcSeconds - seconds) / period) - 1;
        if (skip > 0) {
          sum += skip * (sum - keptSum);
          seconds += static_cast<double>(skip) * period;
        }
        repeatCounted = true;  // the rest, less than two repetitions, is run
        continue;
      }
      if (++lines == power) {
        kept = now;
        haveKept = true;
        keptSum = sum;
        keptSeconds = seconds;
        power *= 2;
        lines = 0;
      }
    }
  } catch (...) {
    _calculating = false;
    throw;
  }
  _calculating = false;
  STREAM_SIZE = static_cast<int32_t>(std::min<int64_t>(sum, std::numeric_limits<int32_t>::max()));
  Reset();
  BytesUntilTick = 0;
}

int32_t Cantor_Mixer::Seti(int32_t id, int32_t value) {
  switch (id) {
    case 5:
      TMusic::Seti(5, value);
      CalcSize();
      return 1;
    case 100:
      // A tempo below 1 has no tick length; it is refused.
      if (value < 1) return 0;
      Tempo = value;
      return 1;
    case 101: Speed = value; return 1;
    case 102: Interpolate = value; return 1;
    case 111:
      if (value < 0 || value > ActiveSongPatterns || value >= static_cast<int32_t>(SongPattern.size()))
        return 0;
      CurrentSongPattern = value;
      CurrentPattern = SongPattern[static_cast<size_t>(value)];
      CurrentLine = 0;
      MMTick = 0;
      for (auto& ch : MMC_Channel) {
        if (!ch) continue;
        ch->Sample = nullptr;
        ch->Add = 0;
      }
      return 1;
    case 114: EmitTick = value; return 1;
    case 116: EnableScopes(value); return 1;
    default:
      TMusic::Seti(id, value);
      return 0;
  }
}

int32_t Cantor_Mixer::Geti(int32_t id) {
  switch (id) {
    case 1: CalcSize(); return STREAM_SIZE;
    case 5: return SAMPLE_RATE;
    case 100: return Tempo;
    case 101: return Speed;
    case 102: return Interpolate;
    case 110: return CurrentLine;
    case 111: return CurrentSongPattern;
    case 112: return CurrentPattern;
    case 113: return MMTick;
    case 114: return EmitTick;
    default: return TMusic::Geti(id);
  }
}

int32_t Cantor_Mixer::Setf(int32_t id, double value) {
  switch (id) {
    case 103: StereoSeperation = static_cast<float>(value); return 1;
    case 104: MixLevel = static_cast<float>(value); return 1;
    default: return TMusic::Setf(id, value);
  }
}

double Cantor_Mixer::Getf(int32_t id) {
  switch (id) {
    case 103: return StereoSeperation;
    case 104: return MixLevel;
    default: return TMusic::Getf(id);
  }
}

Text Cantor_Mixer::GetS(int32_t id) {
  if (id == 115) return SongName;
  return Text();
}

Cantor_MixerPtr CreateEmptySong() {
  auto song = std::make_shared<Cantor_Mixer>();
  song->ActiveChannels = 4;
  song->ActiveSamples = 31;
  song->ActiveSongPatterns = 1;
  song->Init(4);
  song->Pattern[0] = Cantor_Pattern::Create(song.get(), 4, 64);
  return song;
}
