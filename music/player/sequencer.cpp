// Cantor_Mixer: the song's clock and position (ticks, lines, patterns, order list), its
// parameter interface and the song-length computation.
#include <algorithm>
#include <array>
#include <limits>
#include <set>

#include "song_player.h"
#include <ormix/runtime/errors.h>
#include <ormix/system/event.h>

namespace {
int32_t g_classicDefault = 0;
}  // namespace

void SetClassicPlaybackDefault(int32_t classic) { g_classicDefault = classic ? 1 : 0; }
int32_t ClassicPlaybackDefault() { return g_classicDefault; }

Cantor_Mixer::Cantor_Mixer() {
  SAMPLE_RATE = AUDIO_OUTPUT_RATE;
  Classic = g_classicDefault;
  InitTrackerTables();
  // The song is the event's source; the reference does not own the song (no cycle).
  TickEvent = TEvent::Create(SONG_LINE_EVENT, TObjectPtr(TObjectPtr(), static_cast<void*>(this)));
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
  for (int32_t i = 0; i < channels; ++i) MMC_Channel.emplace_back();
  ActiveChannels = channels;
}

void Cantor_Mixer::Free() {
  for (auto& ch : MMC_Channel) {
    ch.Instrument = nullptr;
    ch.Sample = nullptr;
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
  // Format playback moves to the next line at the start of the tick after a line's last
  // one, so that the last tick of a song sounds in full.
  if (AdvancePending) {
    AdvanceLine();
    if (PlayStatus == 0) return;
  }
  if (CurrentPattern < 0 || CurrentPattern >= static_cast<int32_t>(Pattern.size()) ||
      !Pattern[static_cast<size_t>(CurrentPattern)])
    throw TRuntimeException("no pattern!!!");
  Cantor_Pattern& pattern = *Pattern[static_cast<size_t>(CurrentPattern)];
  // While the song is measured only a line's first tick has work (its timing commands).
  const int32_t channels = _calculating && MMTick != 0
                               ? 0
                               : std::min<int32_t>(ActiveChannels, static_cast<int32_t>(MMC_Channel.size()));
  // Songs made in code or stored natively from the start play as the engine was first
  // described; those read from MOD and XM files follow their format unless the classic
  // switch is on.
  const TPlayMode mode = PlayMode();
  const bool classic = mode == TPlayMode::Classic;
  // Format playback: a pattern delay repeats the line at the speed the whole line sets.
  int32_t delayLines = -1;
  // MOD: the line's jump, break and loop commands, gathered first and settled together
  // after the last channel.
  const bool mod = mode == TPlayMode::Mod;
  const bool xmFlow = mode == TPlayMode::Xm;
  const bool lineStart = MMTick == 0 && patterndelay == 0;
  int32_t jumpOrder = -1, breakLine = -1, loopLine = -1;
  bool xmLoopBack = false;
  bool breakAfterJump = false;
  // MOD: the channels that end a pattern loop on this line, and their counts.
  std::array<std::pair<int32_t, int32_t>, 32> looping;
  int32_t loopers = 0;
  if ((mod || xmFlow) && lineStart) MarkLinePlayed();
  for (int32_t i = 0; i < channels; ++i) {
    if (i >= static_cast<int32_t>(pattern.Track.size())) break;
    Cantor_Track* track = pattern.Track[static_cast<size_t>(i)].get();
    if (!track) continue;
    if (MMTick == 0 && CurrentLine >= 0 && CurrentLine < track->LineCount) {
      int32_t fx = track->FX[static_cast<size_t>(CurrentLine)];
      int32_t fxv = track->FXV[static_cast<size_t>(CurrentLine)];
      if (mod && ModFlow == MOD_FLOW_SOUNDTRACKER) {
        // Soundtracker: no extended commands; a break goes to line 0; Fxx sets the speed
        // from its low digit.
        if (fx == FX_EXTENDED) fx = -1;
        if (fx == FX_BREAK) fxv = 0;
        if (fx == FX_TIMING) fxv &= 15;
      } else if (mod && ModFlow == MOD_FLOW_STARTREKKER) {
        // Startrekker: no pattern loop or delay; Fxx is the speed (at most 31).
        if (fx == FX_EXTENDED && ((fxv >> 4) == EX_PATTERN_LOOP || (fxv >> 4) == EX_PATTERN_DELAY)) fx = -1;
        if (fx == FX_TIMING) fxv = std::min(fxv, 31);
      }
      switch (fx) {
        case FX_JUMP:
          if (mod) jumpOrder = fxv;
          else if (xmFlow) {
            // A jump starts its order at line 0, also after a break earlier on the line.
            if (lineStart) {
              XmJumpOrder = fxv;
              XmBreakPos = 0;
              XmPosJump = true;
            }
          } else MMJump = fxv;
          break;
        case FX_BREAK:
          // XM stores the break line as two decimal digits (MOD files are converted
          // by their loader).
          if (mod) {
            breakLine = ModFlow == MOD_FLOW_NOISE ? 0 : fxv;
            breakAfterJump = jumpOrder >= 0;
          } else if (xmFlow) {
            if (lineStart) {
              XmBreakPos = (fxv >> 4) * 10 + (fxv & 15);
              XmPosJump = true;
            }
          } else PatternBreak(fxv);
          break;
        case FX_EXTENDED:
          if (((fxv >> 4) & 15) == EX_PATTERN_LOOP) {
            if (xmFlow) {
              // Each channel keeps its own loop; going back sets the line the next
              // pattern starts at as well.
              if (lineStart && i < static_cast<int32_t>(MMC_Channel.size())) {
                Cantor_Channel& c = MMC_Channel[static_cast<size_t>(i)];
                bool back = true;
                if ((fxv & 15) == 0) {
                  c.LoopLine = CurrentLine;
                  back = false;
                } else if (c.LoopLeft == 0) {
                  c.LoopLeft = fxv & 15;
                } else if (--c.LoopLeft == 0) {
                  back = false;
                }
                if (back) {
                  XmBreakPos = c.LoopLine;
                  XmBreakFlag = true;
                  xmLoopBack = true;
                }
              }
            } else if (!mod) {
              PatternLineRepeat(fxv & 15);
            } else if (lineStart && i < static_cast<int32_t>(MMC_Channel.size())) {
              // Each channel keeps its own loop; of several channels looping on one
              // line, the last one's line is where play goes back to.
              Cantor_Channel& c = MMC_Channel[static_cast<size_t>(i)];
              if ((fxv & 15) == 0) c.LoopLine = CurrentLine;
              else {
                ModLoopStep(c, fxv & 15, loopLine);
                if (loopers < static_cast<int32_t>(looping.size())) looping[static_cast<size_t>(loopers++)] = {i, fxv & 15};
              }
            }
          } else if (((fxv >> 4) & 15) == EX_PATTERN_DELAY) {
            if (classic) patterndelay = static_cast<int32_t>(std::min<int64_t>(int64_t{fxv & 15} * Speed, 1 << 24));
            else delayLines = fxv & 15;
          }
          break;
        case FX_TIMING: SetTiming(fxv); break;
        default: break;  // the rest belong to the channel
      }
    }
    // Measuring the song needs only the timing commands above: the channels' own work
    // (notes, effects, envelopes) changes no timing and is skipped, so a song of many
    // channels at a fast tempo costs little to measure.
    if (_calculating) continue;
    Cantor_Channel& channel = MMC_Channel[static_cast<size_t>(i)];
    channel.RateScale = SAMPLE_RATE > 0 ? double(AUDIO_OUTPUT_RATE) / SAMPLE_RATE : 1.0;
    channel.ApplyCommand(*track, *this);
  }
  if (delayLines >= 0) patterndelay = delayLines * std::clamp(Speed, 0, 1 << 16);
  if (mod && lineStart) {
    // A line repeated by a pattern delay counts its loop ends again on each repeat; a
    // repeat that goes back decides that play goes back, even when a later repeat runs
    // the loop out.
    const bool perRepeat = ModFlow == MOD_FLOW_PROTRACKER || ModFlow == MOD_FLOW_PROTRACKER_MANY;
    for (int32_t r = 0; perRepeat && r < delayLines; ++r)
      for (int32_t k = 0; k < loopers; ++k)
        ModLoopStep(MMC_Channel[static_cast<size_t>(looping[static_cast<size_t>(k)].first)],
                    looping[static_cast<size_t>(k)].second, loopLine);
    // Other trackers: a break after a jump (in channel order) gives the jump its line.
    if (ModFlow != MOD_FLOW_PROTRACKER && !breakAfterJump) breakLine = jumpOrder >= 0 ? -1 : breakLine;
    SettleModFlow(jumpOrder, breakLine, loopLine, delayLines > 0);
  }
  // XM: a loop going back from a line with a pattern delay lands one line further.
  if (xmLoopBack && delayLines > 0) XmBreakPos += 1;
  BytesUntilTick = TickFrames();
  MMTick += 1;
  if (MMTick < Speed) return;
  if (patterndelay >= 1) {
    patterndelay -= 1;
    return;
  }
  if (!classic) {
    AdvancePending = true;
    return;
  }
  AdvanceLine();
}

void Cantor_Mixer::AdvanceLine() {
  AdvancePending = false;
  // Line events report the line just finished; none while CalcSize runs the song.
  if (EmitTick && !_calculating) TEvent::Create(SONG_LINE_EVENT, nullptr, CurrentLine)->Emit();
  NEXT_LINE();
  LineJump = -1;
  MMTick = 0;
}

// MOD: where play goes after this line. A pattern loop going back wins over a jump or a
// break on its line (they take effect once the loop has run out). A jump goes to the
// first line of its order, whatever a break on the line says (other trackers: the line
// of a break after it); a break alone to its line
// of the next order (line 0 when past the pattern's end). A pattern delay on the line
// moves the target (of a loop too) one line further.
void Cantor_Mixer::SettleModFlow(int32_t jumpOrder, int32_t breakLine, int32_t loopLine, bool delayed) {
  if (loopLine >= 0) {
    int32_t lines = 64;
    if (CurrentPattern >= 0 && CurrentPattern < static_cast<int32_t>(Pattern.size()) &&
        Pattern[static_cast<size_t>(CurrentPattern)])
      lines = Pattern[static_cast<size_t>(CurrentPattern)]->LineCount;
    LoopJumpLine = delayed && loopLine + 1 < lines ? loopLine + 1 : loopLine;
    return;
  }
  if (jumpOrder < 0 && breakLine < 0) return;
  const int32_t order = jumpOrder >= 0 ? jumpOrder : CurrentSongPattern + 1;
  int32_t lines = 0;
  const int32_t next = PatternAt(order);
  if (next >= 0 && next < static_cast<int32_t>(Pattern.size()) && Pattern[static_cast<size_t>(next)])
    lines = Pattern[static_cast<size_t>(next)]->LineCount;
  int32_t line = jumpOrder >= 0 && ModFlow == MOD_FLOW_PROTRACKER ? 0 : std::max(breakLine, 0);
  if (delayed) line += 1;
  // Past the order list: the end of the song (NEXT_LINE wraps or stops).
  MMJump = order <= ActiveSongPatterns ? order : ActiveSongPatterns + 1;
  MMJumpLine = line < lines ? line : 0;
}

void Cantor_Mixer::ModLoopStep(Cantor_Channel& c, int32_t count, int32_t& loopLine) {
  if (c.LoopLeft == 0) {
    c.LoopLeft = count;
    loopLine = c.LoopLine;
  } else if (--c.LoopLeft != 0) {
    loopLine = c.LoopLine;
  }
}

void Cantor_Mixer::MarkLinePlayed() {
  if (CurrentLine < 0 || CurrentLine > 255 || CurrentSongPattern < 0) return;
  const size_t word = static_cast<size_t>(CurrentSongPattern) * 4 + static_cast<size_t>(CurrentLine >> 6);
  if (word < PlayedLines.size()) PlayedLines[word] |= uint64_t{1} << (CurrentLine & 63);
}

bool Cantor_Mixer::LinePlayed(int32_t position, int32_t line) const {
  if (line < 0 || line > 255 || position < 0) return false;
  const size_t word = static_cast<size_t>(position) * 4 + static_cast<size_t>(line >> 6);
  return word < PlayedLines.size() && (PlayedLines[word] >> (line & 63) & 1) != 0;
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

int32_t Cantor_Mixer::LinesOf(int32_t index) const {
  if (index < 0 || index >= static_cast<int32_t>(Pattern.size())) return 0;
  const Cantor_Pattern* pattern = Pattern[static_cast<size_t>(index)].get();
  if (!pattern) return 0;
  if (!pattern->Track.empty() && pattern->Track[0]) return pattern->Track[0]->LineCount;
  return pattern->LineCount;
}

// XM: a loop going back moves within the pattern; the pattern's end, a jump or a break
// go to the next order (or the jump's) at the break line, line 0 when that pattern is
// shorter. The break line is used up there, so a loop's line carries over only once.
void Cantor_Mixer::XmNextLine() {
  int32_t line = CurrentLine + 1;
  if (XmBreakFlag) {
    XmBreakFlag = false;
    line = XmBreakPos;
  }
  if (line < LinesOf(CurrentPattern) && !XmPosJump) {
    CurrentLine = line;
    StopWhereRepeating();
    return;
  }
  line = XmBreakPos;
  XmBreakPos = 0;
  XmPosJump = false;
  int32_t order = XmJumpOrder >= 0 ? XmJumpOrder : CurrentSongPattern + 1;
  XmJumpOrder = -1;
  // Order entries naming a pattern the file does not store are passed over.
  while (order <= ActiveSongPatterns && ActiveSequences > 0 && PatternAt(order) >= ActiveSequences) ++order;
  if (order > ActiveSongPatterns || order >= static_cast<int32_t>(SongPattern.size())) {
    CurrentLine = 0;
    EndOfSong();
    return;
  }
  SetCurrentSequence(order);
  CurrentLine = line < LinesOf(CurrentPattern) ? line : 0;
  StopWhereRepeating();
}

void Cantor_Mixer::NEXT_LINE() {
  if (PlayMode() == TPlayMode::Xm) {
    XmNextLine();
    return;
  }
  if (LoopJumpLine >= 0) {
    CurrentLine = LoopJumpLine;
    LoopJumpLine = -1;
    StopWhereRepeating();  // a loop run out (by a delayed line) does not repeat its lines
    return;
  }
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
        return;
      }
    }
    StopWhereRepeating();
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
  // MOD songs end on a line already played (a jump back to an order not played yet
  // goes on); the other formats end on any jump back.
  if (PlayMode() != TPlayMode::Mod && MMJump < CurrentSongPattern && STREAM_LOOP == 0) {
    PlayStatus = 0;
    Reset();
  }
  SetCurrentSequence(MMJump);
  CurrentPattern = PatternAt(CurrentSongPattern);
  MMJump = -1;
  PatternLoopStart = 0;
  PatternLoopEnd = 0;
  PatternLoopCount = -1;
  StopWhereRepeating();
}

// MOD and XM, played once: arriving on a line already played ends the song, as it would
// only repeat from there.
void Cantor_Mixer::StopWhereRepeating() {
  if (PlayMode() == TPlayMode::Classic || STREAM_LOOP != 0 || PlayStatus == 0) return;
  if (!LinePlayed(CurrentSongPattern, CurrentLine)) return;
  // Inside a running pattern loop the lines come round again by design.
  for (const auto& ch : MMC_Channel)
    if (ch.LoopLeft != 0) return;
  STREAM_SIZE = STREAM_POS;
  PlayStatus = 0;
  Reset();
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
  AdvancePending = false;
  LoopJumpLine = -1;
  XmBreakPos = 0;
  XmBreakFlag = XmPosJump = false;
  XmJumpOrder = -1;
  PlayedLines.assign(SongPattern.size() * 4, 0);
  for (auto& ch : MMC_Channel) ch.LoopLine = ch.LoopLeft = ch.PanByEffect = 0;
  CurrentLine = 0;
  CurrentSongPattern = 0;
  CurrentPattern = SongPattern.empty() ? 0 : SongPattern[0];
  Tempo = DefaultTempo;
  Speed = DefaultSpeed;
  GlobalVolume = 64;
}

void Cantor_Mixer::SetCurrentSequence(int32_t position) {
  if (PatternLock != 0) return;
  CurrentSongPattern = position;
  CurrentPattern = PatternAt(position);
}

void Cantor_Mixer::Stop() {
  PlayStatus = 0;
  for (auto& ch : MMC_Channel) {
    ch.Instrument = nullptr;
    ch.Sample = nullptr;
    ch.Add = 0;
    ch.Pos = 0;
  }
}

// The song's length at its output rate and playback mode: a copy of the song's play state
// is run once from the start, without looping and without sound, counting its frames. A
// song that never reaches its end (a jump that leads back to a line already played in
// the same state) ends where it would start repeating. The song itself is not touched.
void Cantor_Mixer::CalcSize() {
  // The copy shares the patterns and the order list (it only reads them) and owns its
  // play state; it leaves the instruments alone, which measuring never reads.
  Cantor_Mixer scan;
  static_cast<TSongModel&>(scan) = *this;
  static_cast<TPlayState&>(scan) = *this;
  scan.Instrument.clear();
  scan.SAMPLE_RATE = SAMPLE_RATE;
  scan.Classic = Classic;
  scan.PatternLock = PatternLock;
  STREAM_SIZE = static_cast<int32_t>(std::min<int64_t>(scan.MeasureFrames(), std::numeric_limits<int32_t>::max()));
  _measuredSize = STREAM_SIZE;
  _measuredKey = LengthKey();
  _measured = true;
}

int64_t Cantor_Mixer::MeasureFrames() {
  Reset();
  LineJump = -1;
  MMJump = -1;
  MMJumpLine = 0;
  PatternLoopStart = 0;
  PatternLoopEnd = 0;
  PatternLoopCount = -1;
  patterndelay = 0;
  BytesUntilTick = 0;
  PlayStatus = 1;
  STREAM_LOOP = 0;
  int64_t sum = 0;
  _calculating = true;
  std::set<std::array<int32_t, 10>> seen;
  for (;;) {
    if (AdvancePending) {
      AdvanceLine();
      if (PlayStatus == 0) break;
    }
    // The channels' own loops (MOD) are part of the state.
    uint32_t loops = 0x811c9dc5u;
    if (MMTick == 0)
      for (const auto& ch : MMC_Channel) loops = (loops ^ static_cast<uint32_t>(ch.LoopLine << 4 | ch.LoopLeft)) * 16777619u;
    loops = (loops ^ static_cast<uint32_t>(XmBreakPos)) * 16777619u;
    if (MMTick == 0 &&
        !seen.insert({CurrentSongPattern, CurrentLine, PatternLoopCount, PatternLoopStart, PatternLoopEnd, Speed,
                      Tempo, GlobalVolume, static_cast<int32_t>(loops), LoopJumpLine})
             .second)
      break;  // the song repeats from here
    Do_Player();
    if (PlayStatus == 0) break;
    sum += BytesUntilTick;
    if (MMTick > 0) {
      // The line's other ticks and its pattern delay have no work while measuring: count
      // them at once (the tempo cannot change before the next line), so that a song of
      // thousands of ticks a line costs no more to measure than one of six.
      const int64_t idle = std::max<int64_t>(0, int64_t{Speed} - 1 - MMTick) + std::max(0, patterndelay);
      sum += idle * TickFrames();
      MMTick = std::max(MMTick, Speed - 1);
      patterndelay = 0;
    }
    if (sum >= std::numeric_limits<int32_t>::max()) break;  // longer than a length can say
  }
  return sum;
}

// Everything the measurement reads: output rate, playback mode, start timing, the used
// order list and, of each pattern it plays, the lines and the effect columns of the
// played tracks (notes and instruments change no timing).
uint64_t Cantor_Mixer::LengthKey() const {
  uint64_t h = 0xcbf29ce484222325ull;
  const auto mix = [&h](int64_t v) {
    h ^= static_cast<uint64_t>(v);
    h *= 0x100000001b3ull;
    h ^= h >> 29;
  };
  for (int64_t v : {int64_t{SAMPLE_RATE}, int64_t{Classic}, int64_t{SourceFormat}, int64_t{DefaultTempo},
                    int64_t{DefaultSpeed}, int64_t{ActiveSongPatterns}, int64_t{ActiveChannels},
                    int64_t{PatternLock}, static_cast<int64_t>(SongPattern.size()),
                    static_cast<int64_t>(Pattern.size()), static_cast<int64_t>(MMC_Channel.size())})
    mix(v);
  std::vector<bool> seen(Pattern.size(), false);
  const int32_t last = std::min<int32_t>(std::max(ActiveSongPatterns, 0), static_cast<int32_t>(SongPattern.size()) - 1);
  for (int32_t k = 0; k <= last; ++k) {
    const int32_t p = SongPattern[static_cast<size_t>(k)];
    mix(p);
    if (p < 0 || p >= static_cast<int32_t>(Pattern.size()) || seen[static_cast<size_t>(p)]) continue;
    seen[static_cast<size_t>(p)] = true;
    const Cantor_Pattern* pattern = Pattern[static_cast<size_t>(p)].get();
    mix(reinterpret_cast<intptr_t>(pattern));
    if (!pattern) continue;
    mix(pattern->LineCount);
    mix(static_cast<int64_t>(pattern->Track.size()));
    const size_t tracks = std::min<size_t>(pattern->Track.size(), static_cast<size_t>(std::max(ActiveChannels, 0)));
    for (size_t t = 0; t < tracks; ++t) {
      const Cantor_Track* track = pattern->Track[t].get();
      mix(reinterpret_cast<intptr_t>(track));
      if (!track) continue;
      mix(track->LineCount);
      mix(static_cast<int64_t>(track->FX.size()));
      mix(static_cast<int64_t>(track->FXV.size()));
      for (int32_t v : track->FX) mix(v);
      for (int32_t v : track->FXV) mix(v);
    }
  }
  return h;
}

int32_t Cantor_Mixer::MeasuredLength() {
  if (!_measured || LengthKey() != _measuredKey) CalcSize();
  // The end of a played song overwrites STREAM_SIZE with the position it reached.
  STREAM_SIZE = _measuredSize;
  return STREAM_SIZE;
}

int32_t Cantor_Mixer::Seti(int32_t id, int32_t value) {
  switch (id) {
    case MUSIC_ID_RATE:
      TMusic::Seti(MUSIC_ID_RATE, value);
      MeasuredLength();
      return 1;
    case SONG_ID_TEMPO:
      // A tempo below 1 has no tick length; it is refused.
      if (value < 1) return 0;
      Tempo = value;
      return 1;
    case SONG_ID_SPEED: Speed = value; return 1;
    case SONG_ID_INTERPOLATE: Interpolate = value; return 1;
    case SONG_ID_ORDER:
      if (value < 0 || value > ActiveSongPatterns || value >= static_cast<int32_t>(SongPattern.size()))
        return 0;
      CurrentSongPattern = value;
      CurrentPattern = SongPattern[static_cast<size_t>(value)];
      CurrentLine = 0;
      MMTick = 0;
      AdvancePending = false;
      LoopJumpLine = -1;
      for (auto& ch : MMC_Channel) {
        ch.Sample = nullptr;
        ch.Add = 0;
      }
      return 1;
    case SONG_ID_EMIT_TICK: EmitTick = value; return 1;
    case SONG_ID_SCOPES: EnableScopes(value); return 1;
    case SONG_ID_CLASSIC:
      Classic = value ? 1 : 0;
      return 1;
    default:
      TMusic::Seti(id, value);
      return 0;
  }
}

int32_t Cantor_Mixer::Geti(int32_t id) {
  switch (id) {
    case MUSIC_ID_SIZE: return MeasuredLength();
    case MUSIC_ID_RATE: return SAMPLE_RATE;
    case SONG_ID_TEMPO: return Tempo;
    case SONG_ID_SPEED: return Speed;
    case SONG_ID_INTERPOLATE: return Interpolate;
    case SONG_ID_LINE: return CurrentLine;
    case SONG_ID_ORDER: return CurrentSongPattern;
    case SONG_ID_PATTERN: return CurrentPattern;
    case SONG_ID_TICK: return MMTick;
    case SONG_ID_EMIT_TICK: return EmitTick;
    case SONG_ID_CLASSIC: return Classic;
    default: return TMusic::Geti(id);
  }
}

int32_t Cantor_Mixer::Setf(int32_t id, double value) {
  switch (id) {
    case SONG_ID_SEPARATION: StereoSeperation = static_cast<float>(value); return 1;
    case SONG_ID_MIX_LEVEL: MixLevel = static_cast<float>(value); return 1;
    default: return TMusic::Setf(id, value);
  }
}

double Cantor_Mixer::Getf(int32_t id) {
  switch (id) {
    case SONG_ID_SEPARATION: return StereoSeperation;
    case SONG_ID_MIX_LEVEL: return MixLevel;
    default: return TMusic::Getf(id);
  }
}

Text Cantor_Mixer::GetS(int32_t id) {
  if (id == SONG_ID_NAME) return SongName;
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
