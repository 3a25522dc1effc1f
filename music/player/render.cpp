// Rendering a song: FillBuffer interleaves the sequencer's ticks with chunks of mixing,
// every channel's voice into the player's own accumulators, and writes the requested
// output layout; and the channels' oscilloscope captures.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "song_player.h"

// Mixes n frames (n <= MIX_BUFFER_FRAMES) of every channel into the accumulators.
void Cantor_Mixer::MixChunk(int32_t n) {
  const bool fast = FastMixing();
  if (fast) {
    std::memset(_mix.fastLeft.get(), 0, sizeof(float) * static_cast<size_t>(n));
    std::memset(_mix.fastRight.get(), 0, sizeof(float) * static_cast<size_t>(n));
  } else {
    std::memset(_mix.left.get(), 0, sizeof(int32_t) * static_cast<size_t>(n));
    std::memset(_mix.right.get(), 0, sizeof(int32_t) * static_cast<size_t>(n));
  }
  const int32_t channels = std::min<int32_t>(ActiveChannels, static_cast<int32_t>(MMC_Channel.size()));
  const bool ramps = fast && PlayMode() == TPlayMode::Xm;
  for (int32_t c = 0; c < channels; ++c) {
    Cantor_Channel& ch = MMC_Channel[static_cast<size_t>(c)];
    if (ramps && std::fabs(ch.RampTo - ch.RampFrom) > 1.0 / 512.0 && ch.RampDone < ch.RampFrames && !ch.Stopped()) {
      MixRamped(ch, n);
    } else if (fast) {
      ch.MixFast(_mix.fastLeft.get(), _mix.fastRight.get(), n);
      ch.RampDone += n;
    } else {
      ch.Mix(_mix.left.get(), _mix.right.get(), n);
    }
    ch.LevelL *= MixLevel;
    ch.LevelR *= MixLevel;
    TLAV += ch.LevelL;
    TRAV += ch.LevelR;
  }
  if (channels > 0) {
    TLAV /= channels;
    TRAV /= channels;
  }
}

// XM: a channel whose level moves during the tick is mixed in short stretches, each at
// the level the ramp has reached at its middle. The stretches are counted from the
// tick's start, so the sound does not depend on how the output is cut into chunks.
void Cantor_Mixer::MixRamped(Cantor_Channel& ch, int32_t n) {
  constexpr int32_t kStretch = 256;
  const double volume = ch.Volume, tremolo = ch.TremoloValue, env = ch.Env, keyOff = ch.KeyOffValue;
  ch.TremoloValue = 0;
  ch.Env = 1;
  ch.KeyOffValue = 1;
  double levelL = 0, levelR = 0;
  for (int32_t done = 0; done < n;) {
    const int32_t m = std::min(n - done, kStretch - ch.RampDone % kStretch);
    const double middle = ch.RampDone / kStretch * kStretch + kStretch * 0.5;
    const double f = std::min(1.0, middle / std::max(ch.RampFrames, 1));
    ch.Volume = ch.RampFrom + (ch.RampTo - ch.RampFrom) * f;
    ch.MixFast(_mix.fastLeft.get() + done, _mix.fastRight.get() + done, m);
    levelL += ch.LevelL * m;
    levelR += ch.LevelR * m;
    done += m;
    ch.RampDone += m;
  }
  ch.Volume = volume;
  ch.TremoloValue = tremolo;
  ch.Env = env;
  ch.KeyOffValue = keyOff;
  ch.LevelL = levelL / n;
  ch.LevelR = levelR / n;
}

int32_t Cantor_Mixer::FillBuffer(void* buffer, int32_t size) {
  const int32_t frameSize = FormatFrameSize(STREAM_FORMAT);
  if (frameSize <= 0 || size < 0) return 0;
  const int32_t frames = size / frameSize;
  if (PlayStatus == 0) return 0;
  _mix.Ensure();
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const bool direct = STREAM_FORMAT == MUSIC_STEREO16;
  int32_t done = 0;
  do {
    if (BytesUntilTick < 1) {
      Do_Player();
      if (PlayStatus == 0) {
        // The song ended on this tick: the rest of the request is silence.
        if (frames > done) std::memset(out + static_cast<size_t>(done) * frameSize, direct || STREAM_FORMAT == MUSIC_MONO16 ? 0 : 128,
                                       static_cast<size_t>(frames - done) * frameSize);
        break;
      }
    }
    // A tick longer than the work arrays (a high output rate or a very low tempo) is
    // mixed in several chunks.
    const int32_t n = std::min({frames - done, BytesUntilTick, MIX_BUFFER_FRAMES});
    if (n > 0) {
      MixChunk(n);
      if (direct) {
        WriteChunk(reinterpret_cast<int16_t*>(out + static_cast<size_t>(done) * 4), n);
      } else {
        WriteChunk(_mix.pcm.get(), n);
        ConvertPCM(_mix.pcm.get(), out + static_cast<size_t>(done) * frameSize, n, STREAM_FORMAT);
      }
    }
    BytesUntilTick -= n;
    done += n;
  } while (done < frames);
  STREAM_POS += frames;
  return 0;
}

void Cantor_Mixer::WriteChunk(int16_t* out, int32_t n) {
  if (FastMixing()) WriteFloatMixToPCM16(_mix.fastLeft.get(), _mix.fastRight.get(), out, n, MixLevel);
  else WriteMixToPCM16(_mix.left.get(), _mix.right.get(), out, n, MixLevel);
}

void Cantor_Mixer::EnableScopes(int32_t size) {
  if (size < 0) size = 0;
  for (auto& ch : MMC_Channel) {
    ch.Scope.assign(static_cast<size_t>(size), 0.0f);
    ch.ScopeFillPos = 0;
  }
}

void Cantor_Mixer::UpdateScopes() {
  for (auto& ch : MMC_Channel) ch.ScopeFillPos = 0;
}
