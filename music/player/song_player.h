#pragma once
// The tracker song and its player (Cantor_Mixer): the song model it owns, the sequencer
// that walks the order list tick by tick, its channels, and the rendering of ticks into
// 16-bit PCM through the voice room (voices/).
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/music/music.h>
#include "../voices/voice.h"
#include "../model/song_model.h"
#include "channel.h"
#include "effects.h"
#include "play_state.h"

class TEvent;


class Cantor_Mixer : public TMusic, public TSongModel, public TPlayState {
public:
  int32_t Interpolate = 1;
  float MixLevel = 0.5f;
  float StereoSeperation = 1.0f;
  int32_t EmitTick = 0;
  std::shared_ptr<TEvent> TickEvent;
  int32_t PatternLock = 0;
  // Playback switch (SONG_ID_CLASSIC).
  int32_t Classic = 0;
  // The rules the song plays by: classic for songs made in code or stored natively and
  // for any song with the classic switch on; else those of the format it came from.
  TPlayMode PlayMode() const {
    if (Classic || SourceFormat == SONG_FROM_NATIVE) return TPlayMode::Classic;
    return SourceFormat == SONG_FROM_XM ? TPlayMode::Xm : TPlayMode::Mod;
  }
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
  virtual void Do_Player();  // processes one tick
  virtual void NEXT_LINE();  // moves to the next line (row) of the song
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
  // Output frames of one tick at the current tempo.
  int32_t TickFrames() const;

private:
  bool _calculating = false;  // this is the copy CalcSize runs silently
  // The last measured length and a fingerprint of everything it depends on (output rate,
  // playback mode, order list, timing of the patterns it plays): the length is measured
  // again only when the fingerprint changes.
  bool _measured = false;
  int32_t _measuredSize = 0;
  uint64_t _measuredKey = 0;
  uint64_t LengthKey() const;
  // STREAM_SIZE as measured for the song as it is now (measuring it when needed).
  int32_t MeasuredLength();
  TMixBuffers _mix;           // what a chunk is mixed into
  void EndOfSong();
  // Moves to the next line (NEXT_LINE) and starts its first tick.
  void AdvanceLine();
  void SettleModFlow(int32_t jumpOrder, int32_t breakLine, int32_t loopLine, bool delayed);
  void MarkLinePlayed();
  // XM: the next line after the line's jump, break and loop commands, as FT2 settles
  // them (see XmBreakPos).
  void XmNextLine();
  int32_t LinesOf(int32_t pattern) const;
  void MixRamped(Cantor_Channel& ch, int32_t n);
  // MOD: one count of a channel's pattern loop ending on this line (`count` repeats);
  // sets `loopLine` when play goes back.
  static void ModLoopStep(Cantor_Channel& c, int32_t count, int32_t& loopLine);
  bool LinePlayed(int32_t position, int32_t line) const;
  void StopWhereRepeating();
  // Runs this copy of a song from its start to its end (CalcSize): the frames it lasts.
  int64_t MeasureFrames();
  void MixChunk(int32_t n);
  // Format playback mixes in single precision (classic playback keeps its arithmetic).
  bool FastMixing() const { return !Classic && SourceFormat != SONG_FROM_NATIVE; }
  void WriteChunk(int16_t* out, int32_t n);
  // Pattern number at an order position, or -1 when the position is outside the list.
  int32_t PatternAt(int32_t position) const;
};

// A new song: 4 channels, 31 instruments, one 64-line pattern at order position 0.
Cantor_MixerPtr CreateEmptySong();

