#pragma once
// Byte streams: the base I/O interface, typed little-endian reads and writes, file and
// memory streams, wrappers, and opening by URL through a chain of stream factories.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <ormix/runtime/errors.h>
#include <ormix/runtime/text.h>

class TStreamException : public std::runtime_error {
public:
  explicit TStreamException(const char* text) : std::runtime_error(text) {}
};
class TStreamReadException : public TStreamException {
public:
  TStreamReadException() : TStreamException("Error reading from stream") {}
};
class TStreamWriteException : public TStreamException {
public:
  TStreamWriteException() : TStreamException("Error writing to stream") {}
};

constexpr int MODE_READ = 1;
constexpr int MODE_WRITE = 2;

// The base of all streams. Positions are byte offsets; -1 means "no position" / "cannot
// seek". Read and Write return the number of bytes moved, 0 when none could be.
class TIO {
public:
  virtual ~TIO() = default;
  virtual int Eof();
  virtual int64_t Pos();
  virtual int64_t Size();
  virtual int64_t Seek(int64_t pos);
  // 0, or -1 when bytes written earlier could not be stored (a full disk).
  virtual int Flush();
  virtual int Close();
  virtual int Read(void* buf, int count) = 0;
  virtual int Write(const void* buf, int count) = 0;
  // Bytes left from the position to the end, or -1 when the stream cannot tell: it has
  // no position, or a size of 0 (which a pipe or a special file also reports), or is
  // past its end.
  int64_t Remaining();
};

class TStream : public TIO {
public:
  virtual int ReadBytes(void* buf, int count);
  virtual int WriteBytes(const void* buf, int count);
  virtual int SkipBytes(int count);
  virtual int ReadByte();
  virtual void WriteByte(int value);
  virtual int ReadShort();
  virtual void WriteShort(int value);
  virtual int32_t ReadInt();
  virtual void WriteInt(int32_t value);
  virtual int64_t ReadLong();
  virtual void WriteLong(int64_t value);
  virtual float ReadFloat();
  virtual void WriteFloat(float value);
  virtual double ReadDouble();
  virtual void WriteDouble(double value);
  virtual Text ReadLine();
  virtual int WriteLine(const Text& text);
  virtual Text ReadString(int length);
  virtual void WriteString(const Text& text);
  [[noreturn]] virtual void ReadObject();
  [[noreturn]] virtual void WriteObject();
};

using TStreamPtr = std::shared_ptr<TStream>;

// Forwards every operation to the wrapped stream.
class TStreamWrapper : public TStream {
public:
  TStreamPtr _stream;
  explicit TStreamWrapper(TStreamPtr stream = nullptr) : _stream(std::move(stream)) {}
  ~TStreamWrapper() override;
  void SetStream(TStreamPtr stream) { _stream = std::move(stream); }

  int Eof() override;
  int64_t Pos() override;
  int64_t Size() override;
  int64_t Seek(int64_t pos) override;
  int Flush() override;
  int Close() override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;
  int ReadBytes(void* buf, int count) override;
  int WriteBytes(const void* buf, int count) override;
  int SkipBytes(int count) override;
  int ReadByte() override;
  void WriteByte(int value) override;
  int ReadShort() override;
  void WriteShort(int value) override;
  int32_t ReadInt() override;
  void WriteInt(int32_t value) override;
  int64_t ReadLong() override;
  void WriteLong(int64_t value) override;
  float ReadFloat() override;
  void WriteFloat(float value) override;
  double ReadDouble() override;
  void WriteDouble(double value) override;
  Text ReadLine() override;
  int WriteLine(const Text& text) override;
  Text ReadString(int length) override;
  void WriteString(const Text& text) override;
};

// A wrapper whose Close leaves the wrapped stream open: what opening an existing stream
// returns.
class TStreamStream : public TStreamWrapper {
public:
  using TStreamWrapper::TStreamWrapper;
  ~TStreamStream() override;
  int Close() override;
};

// Swaps the byte order of every typed read and write of 2, 4 and 8 bytes.
class TBigEndianStream : public TStreamWrapper {
public:
  using TStreamWrapper::TStreamWrapper;
  int ReadShort() override;
  void WriteShort(int value) override;
  int32_t ReadInt() override;
  void WriteInt(int32_t value) override;
  int64_t ReadLong() override;
  void WriteLong(int64_t value) override;
  float ReadFloat() override;
  void WriteFloat(float value) override;
  double ReadDouble() override;
  void WriteDouble(double value) override;
};

// A stream over a platform file.
class TCStream : public TStream {
public:
  int64_t _pos = 0;
  int64_t _size = 0;
  FILE* _cstream = nullptr;
  int _mode = 0;

  ~TCStream() override;
  int64_t Pos() override { return _pos; }
  int64_t Size() override { return _size; }
  int64_t Seek(int64_t pos) override;
  int Flush() override;
  int Close() override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;

  // Opens path with the C library mode ("rb", "wb", "r+b"); null when it cannot.
  static std::shared_ptr<TCStream> OpenFile(const Text& path, int readable, int writeable);
};

// A stream over memory. It does not own the bytes unless given a keeper.
class TRamStream : public TStream {
public:
  int64_t _pos = 0;
  int64_t _size = 0;
  uint8_t* _buf = nullptr;
  int _read = 0;
  int _write = 0;
  std::shared_ptr<void> _keep;  // keeps owned bytes alive

  int64_t Pos() override { return _pos; }
  int64_t Size() override { return _size; }
  int64_t Seek(int64_t pos) override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;

  static std::shared_ptr<TRamStream> Create(void* buf, int64_t size, int readable, int writeable,
                                            std::shared_ptr<void> keep = nullptr);
  // A read/write memory stream over a private copy of bytes.
  static std::shared_ptr<TRamStream> FromBytes(const std::vector<uint8_t>& bytes, int readable = 1,
                                               int writeable = 0);
};

// A stream factory resolves "protocol::path" URLs. Creating one puts it at the head of
// the global chain (a TRegistry, newest first), so the newest is asked first.
class TStreamFactory {
public:
  TStreamFactory* _succ = nullptr;
  TStreamFactory();
  virtual ~TStreamFactory();
  virtual TStreamPtr CreateStream(const Text& url, const Text& protocol, const Text& path,
                                  int readable, int writeable) = 0;
};
TStreamFactory* StreamFactories();

// Registers the "incbin", "littleendian", "bigendian" and text-encoding ("latin1", "utf8",
// "utf16be", "utf16le") factories (once).
void InitStreamModule();

// A memory bank: owned bytes shared by reference (bankstream.h streams over it).
using TBank = std::vector<uint8_t>;
using TBankPtr = std::shared_ptr<TBank>;

TStreamPtr OpenUrlStream(const TStreamPtr& stream, int readable, int writeable);
// A stream over the bank (null for a null bank); writing past its end grows it.
TStreamPtr OpenUrlStream(const TBankPtr& bank, int readable, int writeable);
TStreamPtr OpenUrlStream(const Text& url, int readable, int writeable);
inline TStreamPtr OpenUrlStream(const std::string& url, int readable, int writeable) {
  return OpenUrlStream(ToText(url), readable, writeable);
}
inline TStreamPtr OpenUrlStream(const char* url, int readable, int writeable) {
  return OpenUrlStream(ToText(url), readable, writeable);
}
template <typename U> TStreamPtr OpenForReading(const U& url) { return OpenUrlStream(url, 1, 0); }
template <typename U> TStreamPtr OpenForWriting(const U& url) { return OpenUrlStream(url, 0, 1); }

std::vector<uint8_t> LoadAllBytes(const Text& url);
std::vector<uint8_t> LoadAllBytes(const TStreamPtr& stream);
Text LoadAllText(const Text& url);
Text LoadAllText(const TStreamPtr& stream);
void SaveAllText(const Text& text, const Text& url);
void SaveAllBytes(const std::vector<uint8_t>& bytes, const Text& url);
void CopyAll(TStream& from, TStream& to, int bufferSize = 4096);
void CopyCount(TStream& from, TStream& to, int64_t count, int bufferSize = 4096);
