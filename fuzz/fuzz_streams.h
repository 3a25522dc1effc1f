#pragma once
// The streams the fuzz entries hand their input over in.
#include <algorithm>
#include <cstdint>
#include <memory>

#include <ormix/stream/stream.h>

namespace fuzzio {

// The input as a memory stream: sized and seekable, as a file is.
inline TStreamPtr InputStream(const uint8_t* data, size_t size) {
  return TRamStream::Create(const_cast<uint8_t*>(data), static_cast<int64_t>(size), 1, 0);
}

// The input as a socket gives it: no size and no positions; what is written is swallowed.
class TSocketLikeStream : public TStream {
public:
  TSocketLikeStream(const uint8_t* data, size_t size) : _data(data), _size(size) {}
  int Read(void* buf, int count) override {
    if (count <= 0 || _pos >= _size) return 0;
    const size_t n = std::min(static_cast<size_t>(count), _size - _pos);
    std::copy(_data + _pos, _data + _pos + n, static_cast<uint8_t*>(buf));
    _pos += n;
    return static_cast<int>(n);
  }
  int Write(const void*, int count) override { return count; }
  int Eof() override { return _pos >= _size; }

private:
  const uint8_t* _data;
  size_t _size;
  size_t _pos = 0;
};

}  // namespace fuzzio
