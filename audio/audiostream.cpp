// The driver-independent parts of audio streams: the timer that drives them, the event
// hook, and the ring stream's refill arithmetic.
#include <ormix/audio/audiostream.h>

#include <algorithm>
#include <cmath>

#include "ringstream.h"
#include <ormix/runtime/runtime.h>

namespace {
TTimerPtr gTimer;
}  // namespace

void StartAudioStreamTimer() {
  static bool done = false;
  if (done) return;
  done = true;
  InitEventModule();
  InitAudioModule();
  gTimer = TTimer::Create(120);
  // The timer's platform thread must be ended before the process's statics go.
  OnEndProgram([] {
    if (gTimer) gTimer->Stop();
    gTimer.reset();
  });
}

TTimerPtr AudioStreamTimer() { return gTimer; }

// ---- the stream base ----
TObjectPtr TAudioStream::eventhook(int, const TObjectPtr& data, const TObjectPtr& context) {
  if (!context || !data) return data;
  TEvent* ev = AsEvent(data);
  if (ev->id == EVENT_TIMERTICK && gTimer && ev->source.get() == static_cast<void*>(gTimer.get())) {
    static_cast<TAudioStream*>(context.get())->Update();
  }
  return data;
}

void TAudioStream::Attach() {
  if (_attached) return;
  _attached = true;
  InsertHook(EventHookId(), eventhook, std::static_pointer_cast<void>(shared_from_this()), 0);
}

void TAudioStream::Detach() {
  if (!_attached) return;
  _attached = false;
  // The chain's reference may be the last one: keep the stream alive until we return.
  TAudioStreamPtr self = shared_from_this();
  DeleteHook(EventHookId(), eventhook, std::static_pointer_cast<void>(self));
}

void TAudioStream::ReleaseMusic() {
  if (Music) Music->Release(!KeepMusic);
  Music.reset();
}

int32_t StreamVolumeToDecibels(float v) {
  if (v >= 1) return 0;
  if (v <= 0) return -10000;
  return std::max(-10000, static_cast<int32_t>(std::log10(static_cast<double>(v)) * 3321.928));
}

// ---- ring streams ----
void TRingAudioStream::StartRing(const TAudioStreamSourcePtr& source) {
  Attach();
  Music = source;
  source->Start();
  WriteRing(0, RING_BYTES, false);
}

void TRingAudioStream::Update() {
  if (!HasRing() || !Music) return;
  const int32_t play = static_cast<int32_t>(PlayCursor());
  if (finpos >= 0) {
    // The cursor has wrapped since the end was seen when it stands behind where it was on
    // the previous tick (comparing with the cursor at the end alone misses the wrap when
    // the end came while the ring was first filled and the cursor was still at 0).
    if (finloop == 1 && (play < finstart || play < _lastplay)) finloop = 0;
    if (play >= finpos && finloop == 0) {
      NoteStreamPlayedOut();
      Stop();
      return;
    }
  }
  int32_t amount = play - writepos;
  bool wrapped = false;
  if (play < writepos) {
    amount = RING_BYTES - writepos + play;
    wrapped = true;
  }
  amount &= ~(FRAME_BYTES - 1);
  if (amount > 0) {
    if (Music->Playing()) {
      if (WriteRing(static_cast<uint32_t>(writepos), static_cast<uint32_t>(amount), false))
        writepos += amount;
    } else {
      WriteRing(static_cast<uint32_t>(writepos), static_cast<uint32_t>(amount), true);
    }
  }
  if (wrapped) writepos = play;
  if (writepos >= RING_BYTES) writepos -= RING_BYTES;
  if (!Music->Playing() && finpos == -1) {
    if (writepos <= play) finloop = 1;
    finpos = writepos;
    finstart = play;
  }
  _lastplay = play;
}
