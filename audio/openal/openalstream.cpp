#include "openalstream.h"

#include <algorithm>
#include <cmath>

#include "openal.h"

std::shared_ptr<TOpenALAudioStream> TOpenALAudioStream::Build(const TAudioStreamSourcePtr& source, int32_t) {
  const TOpenALApi* al = OpenALApi();
  if (!al) return nullptr;
  auto s = std::make_shared<TOpenALAudioStream>();
  s->_buffers.assign(static_cast<size_t>(s->_buffercount), 0);
  s->_bufferbanks.assign(static_cast<size_t>(s->_buffercount), std::vector<uint8_t>(BUFFER_BYTES));
  al->alGenBuffers(s->_buffercount, s->_buffers.data());
  al->alGenSources(1, &s->_source);
  if (s->_source == 0) {
    al->alDeleteBuffers(s->_buffercount, s->_buffers.data());
    return nullptr;
  }
  al->alSource3f(s->_source, OAL_POSITION, 0, 0, 0);
  al->alSource3f(s->_source, OAL_VELOCITY, 0, 0, 0);
  al->alSource3f(s->_source, OAL_DIRECTION, 0, 0, 0);
  al->alSourcef(s->_source, OAL_ROLLOFF_FACTOR, 0);
  al->alSourcei(s->_source, OAL_SOURCE_RELATIVE, OAL_TRUE);
  s->Attach();
  s->Music = source;
  source->Start();
  for (int i = 0; i < s->_buffercount; ++i) s->FillBuffer(i);
  al->alSourceQueueBuffers(s->_source, s->_buffercount, s->_buffers.data());
  al->alSourcePlay(s->_source);
  return s;
}

// What Stop does, for a stream that is no longer on the event chain (Stop itself needs a
// live reference): the source goes, and so does music the stream loaded itself.
TOpenALAudioStream::~TOpenALAudioStream() {
  if (!_source) return;
  if (const TOpenALApi* al = OpenALApi()) {
    al->alSourceStop(_source);
    al->alDeleteSources(1, &_source);
    al->alDeleteBuffers(_buffercount, _buffers.data());
  }
  _source = 0;
  ReleaseMusic();
}

void TOpenALAudioStream::FillBuffer(int index) {
  const TOpenALApi* al = OpenALApi();
  auto& bank = _bufferbanks[static_cast<size_t>(index)];
  Render(bank.data(), BUFFER_BYTES);
  al->alBufferData(_buffers[static_cast<size_t>(index)], OAL_FORMAT_STEREO16, bank.data(), BUFFER_BYTES,
                   samplerate);
}

void TOpenALAudioStream::Update() {
  const TOpenALApi* al = OpenALApi();
  if (!_source || !Music || !al) return;
  if (!Music->Playing() && Playing() == 0) {
    NoteStreamPlayedOut();
    Stop();
    return;
  }
  int processed = 0;
  al->alGetSourcei(_source, OAL_BUFFERS_PROCESSED, &processed);
  for (int k = 0; k < processed; ++k) {
    unsigned id = 0;
    al->alSourceUnqueueBuffers(_source, 1, &id);
    if (Music->Playing()) {
      auto it = std::find(_buffers.begin(), _buffers.end(), id);
      if (it == _buffers.end()) continue;
      FillBuffer(static_cast<int>(it - _buffers.begin()));
      al->alSourceQueueBuffers(_source, 1, &id);
    }
  }
  int state = 0;
  al->alGetSourcei(_source, OAL_SOURCE_STATE, &state);
  if (state != OAL_PLAYING && paused == 0) {
    int queued = 0;
    al->alGetSourcei(_source, OAL_BUFFERS_QUEUED, &queued);
    if (queued > 0) al->alSourcePlay(_source);
  }
}

void TOpenALAudioStream::Stop() {
  if (!_source) return;
  const TOpenALApi* al = OpenALApi();
  TAudioStreamPtr self = shared_from_this();
  al->alSourceStop(_source);
  Detach();
  al->alDeleteSources(1, &_source);
  al->alDeleteBuffers(_buffercount, _buffers.data());
  ReleaseMusic();
  _buffers.clear();
  _bufferbanks.clear();
  _source = 0;
}

void TOpenALAudioStream::SetPaused(int p) {
  if (!_source) return;
  const TOpenALApi* al = OpenALApi();
  if (p && !paused) {
    paused = p;
    al->alSourceStop(_source);
  } else if (!p && paused) {
    paused = 0;
    if (Music) Music->Start();
    al->alSourcePlay(_source);
  }
}

void TOpenALAudioStream::SetVolume(float v) {
  if (_source) OpenALApi()->alSourcef(_source, OAL_GAIN, v);
}
void TOpenALAudioStream::SetRate(float r) {
  if (_source) OpenALApi()->alSourcef(_source, OAL_PITCH, r);
}
void TOpenALAudioStream::SetPan(float p) {
  if (!_source) return;
  double a = std::clamp(p, -1.0f, 1.0f) * 90.0 * M_PI / 180.0;
  OpenALApi()->alSource3f(_source, OAL_POSITION, static_cast<float>(std::sin(a)), 0,
                          static_cast<float>(-std::cos(a)));
}
int TOpenALAudioStream::Playing() {
  if (!_source) return 0;
  int state = 0;
  OpenALApi()->alGetSourcei(_source, OAL_SOURCE_STATE, &state);
  return state == OAL_PLAYING ? 1 : 0;
}
