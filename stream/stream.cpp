#include <ormix/stream/stream.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include <ormix/runtime/incbin.h>
#include <ormix/runtime/registry.h>
#include <ormix/stream/textstream.h>

// ---- TIO ----
int TIO::Eof() { return Pos() == Size() ? 1 : 0; }
int64_t TIO::Pos() { return -1; }
int64_t TIO::Size() { return 0; }
int64_t TIO::Seek(int64_t) { return -1; }
int TIO::Flush() { return 0; }
int TIO::Close() { return 0; }
int64_t TIO::Remaining() {
  const int64_t pos = Pos(), size = Size();
  if (pos < 0 || size <= 0 || size < pos) return -1;
  return size - pos;
}

// ---- TStream ----
int TStream::ReadBytes(void* buf, int count) {
  auto* p = static_cast<uint8_t*>(buf);
  int left = count;
  while (left > 0 && !Eof()) {
    int n = Read(p, left);
    if (n <= 0) throw TStreamReadException();
    p += n;
    left -= n;
  }
  return count;
}

int TStream::WriteBytes(const void* buf, int count) {
  auto* p = static_cast<const uint8_t*>(buf);
  int left = count;
  while (left > 0) {
    int n = Write(p, left);
    if (n <= 0) throw TStreamWriteException();
    p += n;
    left -= n;
  }
  return count;
}

int TStream::SkipBytes(int count) {
  uint8_t tmp[1024];
  int left = count;
  while (left > 0 && !Eof()) {
    int n = Read(tmp, std::min(left, 1024));
    if (n <= 0) throw TStreamReadException();
    left -= n;
  }
  return count;
}

// Typed reads go through a zeroed buffer, so bytes missing at the end read as 0.
template <typename T> static T ReadRaw(TStream& s) {
  uint8_t b[sizeof(T)] = {};
  s.ReadBytes(b, sizeof(T));
  T v;
  std::memcpy(&v, b, sizeof(T));
  return v;
}
template <typename T> static void WriteRaw(TStream& s, T v) {
  uint8_t b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  s.WriteBytes(b, sizeof(T));
}

int TStream::ReadByte() { return ReadRaw<uint8_t>(*this); }
void TStream::WriteByte(int v) { WriteRaw<uint8_t>(*this, static_cast<uint8_t>(v)); }
int TStream::ReadShort() { return ReadRaw<uint16_t>(*this); }
void TStream::WriteShort(int v) { WriteRaw<uint16_t>(*this, static_cast<uint16_t>(v)); }
int32_t TStream::ReadInt() { return ReadRaw<int32_t>(*this); }
void TStream::WriteInt(int32_t v) { WriteRaw<int32_t>(*this, v); }
int64_t TStream::ReadLong() { return ReadRaw<int64_t>(*this); }
void TStream::WriteLong(int64_t v) { WriteRaw<int64_t>(*this, v); }
float TStream::ReadFloat() { return ReadRaw<float>(*this); }
void TStream::WriteFloat(float v) { WriteRaw<float>(*this, v); }
double TStream::ReadDouble() { return ReadRaw<double>(*this); }
void TStream::WriteDouble(double v) { WriteRaw<double>(*this, v); }

Text TStream::ReadLine() {
  Text line;
  while (!Eof()) {
    uint8_t c = 0;
    int n = Read(&c, 1);
    if (n <= 0) break;
    if (c == 0 || c == 10) break;
    if (c == 13) continue;
    line.push_back(c);
  }
  return line;
}

int TStream::WriteLine(const Text& text) {
  std::string bytes = TextToLatin1(text);
  bytes += "\r\n";
  int done = 0;
  int total = static_cast<int>(bytes.size());
  while (done < total) {
    int n = Write(bytes.data() + done, total - done);
    if (n <= 0) return 0;
    done += n;
  }
  return 1;
}

Text TStream::ReadString(int length) {
  if (length <= 0) return Text();
  std::string bytes(static_cast<size_t>(length), '\0');
  ReadBytes(bytes.data(), length);
  return Latin1ToText(bytes);
}

void TStream::WriteString(const Text& text) {
  std::string bytes = TextToLatin1(text);
  if (!bytes.empty()) WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
}

void TStream::ReadObject() { throw TRuntimeException("Unable to read object"); }
void TStream::WriteObject() { throw TRuntimeException("Unable to write object"); }

// ---- TStreamWrapper ----
TStreamWrapper::~TStreamWrapper() {
  if (_stream) _stream->Close();
}
int TStreamWrapper::Eof() { return _stream ? _stream->Eof() : 1; }
int64_t TStreamWrapper::Pos() { return _stream ? _stream->Pos() : -1; }
int64_t TStreamWrapper::Size() { return _stream ? _stream->Size() : 0; }
int64_t TStreamWrapper::Seek(int64_t p) { return _stream ? _stream->Seek(p) : -1; }
int TStreamWrapper::Flush() { return _stream ? _stream->Flush() : 0; }
int TStreamWrapper::Close() { return _stream ? _stream->Close() : 0; }
int TStreamWrapper::Read(void* b, int n) { return _stream ? _stream->Read(b, n) : 0; }
int TStreamWrapper::Write(const void* b, int n) { return _stream ? _stream->Write(b, n) : 0; }
int TStreamWrapper::ReadBytes(void* b, int n) { return _stream->ReadBytes(b, n); }
int TStreamWrapper::WriteBytes(const void* b, int n) { return _stream->WriteBytes(b, n); }
int TStreamWrapper::SkipBytes(int n) { return _stream->SkipBytes(n); }
int TStreamWrapper::ReadByte() { return _stream->ReadByte(); }
void TStreamWrapper::WriteByte(int v) { _stream->WriteByte(v); }
int TStreamWrapper::ReadShort() { return _stream->ReadShort(); }
void TStreamWrapper::WriteShort(int v) { _stream->WriteShort(v); }
int32_t TStreamWrapper::ReadInt() { return _stream->ReadInt(); }
void TStreamWrapper::WriteInt(int32_t v) { _stream->WriteInt(v); }
int64_t TStreamWrapper::ReadLong() { return _stream->ReadLong(); }
void TStreamWrapper::WriteLong(int64_t v) { _stream->WriteLong(v); }
float TStreamWrapper::ReadFloat() { return _stream->ReadFloat(); }
void TStreamWrapper::WriteFloat(float v) { _stream->WriteFloat(v); }
double TStreamWrapper::ReadDouble() { return _stream->ReadDouble(); }
void TStreamWrapper::WriteDouble(double v) { _stream->WriteDouble(v); }
Text TStreamWrapper::ReadLine() { return _stream->ReadLine(); }
int TStreamWrapper::WriteLine(const Text& t) { return _stream->WriteLine(t); }
Text TStreamWrapper::ReadString(int n) { return _stream->ReadString(n); }
void TStreamWrapper::WriteString(const Text& t) { _stream->WriteString(t); }

TStreamStream::~TStreamStream() { _stream.reset(); }
int TStreamStream::Close() { return 0; }

// ---- big-endian wrapper ----
static uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
static uint32_t Swap32(uint32_t v) { return __builtin_bswap32(v); }
static uint64_t Swap64(uint64_t v) { return __builtin_bswap64(v); }

int TBigEndianStream::ReadShort() { return Swap16(static_cast<uint16_t>(_stream->ReadShort())); }
void TBigEndianStream::WriteShort(int v) { _stream->WriteShort(Swap16(static_cast<uint16_t>(v))); }
int32_t TBigEndianStream::ReadInt() {
  return static_cast<int32_t>(Swap32(static_cast<uint32_t>(_stream->ReadInt())));
}
void TBigEndianStream::WriteInt(int32_t v) {
  _stream->WriteInt(static_cast<int32_t>(Swap32(static_cast<uint32_t>(v))));
}
int64_t TBigEndianStream::ReadLong() {
  return static_cast<int64_t>(Swap64(static_cast<uint64_t>(_stream->ReadLong())));
}
void TBigEndianStream::WriteLong(int64_t v) {
  _stream->WriteLong(static_cast<int64_t>(Swap64(static_cast<uint64_t>(v))));
}
float TBigEndianStream::ReadFloat() {
  uint32_t u = Swap32(static_cast<uint32_t>(_stream->ReadInt()));
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
void TBigEndianStream::WriteFloat(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  _stream->WriteInt(static_cast<int32_t>(Swap32(u)));
}
double TBigEndianStream::ReadDouble() {
  uint64_t u = Swap64(static_cast<uint64_t>(_stream->ReadLong()));
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}
void TBigEndianStream::WriteDouble(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  _stream->WriteLong(static_cast<int64_t>(Swap64(u)));
}

// ---- TCStream ----
TCStream::~TCStream() { Close(); }

std::shared_ptr<TCStream> TCStream::OpenFile(const Text& path, int readable, int writeable) {
  std::string p = ToUtf8(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  const char* mode = (readable && writeable) ? "r+b" : (writeable ? "wb" : "rb");
  FILE* f = std::fopen(p.c_str(), mode);
  if (!f) return nullptr;
  auto s = std::make_shared<TCStream>();
  s->_cstream = f;
  s->_mode = (readable ? MODE_READ : 0) | (writeable ? MODE_WRITE : 0);
  if (s->_mode == 0) s->_mode = MODE_READ;
  s->_pos = std::ftell(f);
  std::fseek(f, 0, SEEK_END);
  s->_size = std::ftell(f);
  std::fseek(f, s->_pos, SEEK_SET);
  return s;
}

int64_t TCStream::Seek(int64_t pos) {
  if (!_cstream) return -1;
  std::fseek(_cstream, static_cast<long>(pos), SEEK_SET);
  _pos = std::ftell(_cstream);
  return _pos;
}

int TCStream::Flush() {
  // A write the system refused (a full disk) shows here at the latest: report it.
  if (_cstream && (std::fflush(_cstream) != 0 || std::ferror(_cstream))) return -1;
  return 0;
}

int TCStream::Close() {
  if (!_cstream) return 0;
  std::fflush(_cstream);
  std::fclose(_cstream);
  _cstream = nullptr;
  _pos = 0;
  _size = 0;
  return 0;
}

int TCStream::Read(void* buf, int count) {
  if (!_cstream || count <= 0 || !(_mode & MODE_READ)) return 0;
  size_t n = std::fread(buf, 1, static_cast<size_t>(count), _cstream);
  _pos += static_cast<int64_t>(n);
  return static_cast<int>(n);
}

int TCStream::Write(const void* buf, int count) {
  if (!_cstream || count <= 0 || !(_mode & MODE_WRITE)) return 0;
  size_t n = std::fwrite(buf, 1, static_cast<size_t>(count), _cstream);
  _pos += static_cast<int64_t>(n);
  if (_pos > _size) _size = _pos;
  return static_cast<int>(n);
}

// ---- TRamStream ----
std::shared_ptr<TRamStream> TRamStream::Create(void* buf, int64_t size, int readable, int writeable,
                                               std::shared_ptr<void> keep) {
  auto s = std::make_shared<TRamStream>();
  s->_buf = static_cast<uint8_t*>(buf);
  s->_size = size < 0 ? 0 : size;
  s->_read = readable;
  s->_write = writeable;
  s->_keep = std::move(keep);
  return s;
}

std::shared_ptr<TRamStream> TRamStream::FromBytes(const std::vector<uint8_t>& bytes, int readable,
                                                  int writeable) {
  auto copy = std::make_shared<std::vector<uint8_t>>(bytes);
  return Create(copy->data(), static_cast<int64_t>(copy->size()), readable, writeable, copy);
}

int64_t TRamStream::Seek(int64_t pos) {
  _pos = std::clamp<int64_t>(pos, 0, _size);
  return _pos;
}

int TRamStream::Read(void* buf, int count) {
  if (count <= 0 || !_read) return 0;
  int64_t n = std::min<int64_t>(count, _size - _pos);
  if (n <= 0) return 0;
  std::memcpy(buf, _buf + _pos, static_cast<size_t>(n));
  _pos += n;
  return static_cast<int>(n);
}

int TRamStream::Write(const void* buf, int count) {
  if (count <= 0 || !_write) return 0;
  int64_t n = std::min<int64_t>(count, _size - _pos);
  if (n <= 0) return 0;
  std::memcpy(_buf + _pos, buf, static_cast<size_t>(n));
  _pos += n;
  return static_cast<int>(n);
}

// ---- factories ----
namespace {
// Newest first: a factory added later may take over a protocol.
TRegistry<TStreamFactory*, TRegistryOrder::NewestFirst>& Factories() {
  static auto* factories = new TRegistry<TStreamFactory*, TRegistryOrder::NewestFirst>;  // outlives every factory
  return *factories;
}
std::recursive_mutex& FactoryLock() {
  static std::recursive_mutex m;
  return m;
}

class IncbinFactory : public TStreamFactory {
public:
  TStreamPtr CreateStream(const Text&, const Text& protocol, const Text& path, int,
                          int writeable) override {
    if (protocol != u"incbin" || writeable) return nullptr;
    const unsigned char* data = nullptr;
    size_t size = 0;
    if (!FindIncbin(ToUtf8(path), &data, &size)) return nullptr;
    return TRamStream::Create(const_cast<unsigned char*>(data), static_cast<int64_t>(size), 1, 0);
  }
};

class EndianFactory : public TStreamFactory {
public:
  TStreamPtr CreateStream(const Text&, const Text& protocol, const Text& path, int readable,
                          int writeable) override {
    bool big = protocol == u"bigendian";
    if (!big && protocol != u"littleendian") return nullptr;
    TStreamPtr inner = OpenUrlStream(path, readable, writeable);
    if (!inner) return nullptr;
    if (big) return std::make_shared<TBigEndianStream>(inner);
    return std::make_shared<TStreamWrapper>(inner);
  }
};
}  // namespace

TStreamFactory::TStreamFactory() {
  std::lock_guard<std::recursive_mutex> g(FactoryLock());
  Factories().Add(this);
}

TStreamFactory::~TStreamFactory() {
  std::lock_guard<std::recursive_mutex> g(FactoryLock());
  Factories().Remove(this);
}

TStreamFactory* StreamFactories() {
  std::lock_guard<std::recursive_mutex> g(FactoryLock());
  return Factories().Front();
}

void InitStreamModule() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Deliberately never destroyed: factories live as long as the process.
    new IncbinFactory();
    new EndianFactory();
    new TTextStreamFactory();
  });
}

TStreamPtr OpenUrlStream(const TStreamPtr& stream, int, int) {
  if (!stream) return nullptr;
  return std::make_shared<TStreamStream>(stream);
}

TStreamPtr OpenUrlStream(const Text& url, int readable, int writeable) {
  InitStreamModule();
  size_t sep = url.find(u"::");
  if (sep == Text::npos) return TCStream::OpenFile(url, readable, writeable);
  Text protocol = ToLower(url.substr(0, sep));
  Text path = url.substr(sep + 2);
  std::lock_guard<std::recursive_mutex> g(FactoryLock());
  return Factories().FirstAnswer([&](TStreamFactory* f) {
    return f->CreateStream(url, protocol, path, readable, writeable);
  });
}

// ---- whole-stream functions ----
static std::vector<uint8_t> LoadAllFrom(const TStreamPtr& s) {
  if (!s) throw TStreamReadException();
  std::vector<uint8_t> buf(1024);
  size_t used = 0;
  while (!s->Eof()) {
    if (used == buf.size()) buf.resize(buf.size() * 3 / 2);
    int n = s->Read(buf.data() + used, static_cast<int>(buf.size() - used));
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  s->Close();
  buf.resize(used);
  return buf;
}

std::vector<uint8_t> LoadAllBytes(const Text& url) { return LoadAllFrom(OpenForReading(url)); }
std::vector<uint8_t> LoadAllBytes(const TStreamPtr& stream) {
  return LoadAllFrom(OpenUrlStream(stream, 1, 0));
}

Text LoadAllText(const Text& url) {
  auto b = LoadAllBytes(url);
  return Latin1ToText(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

Text LoadAllText(const TStreamPtr& stream) {
  auto b = LoadAllBytes(stream);
  return Latin1ToText(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

void SaveAllText(const Text& text, const Text& url) {
  TStreamPtr s = OpenForWriting(url);
  if (!s) throw TStreamWriteException();
  s->WriteString(text);
  s->Close();
}

void SaveAllBytes(const std::vector<uint8_t>& bytes, const Text& url) {
  TStreamPtr s = OpenForWriting(url);
  if (!s) throw TStreamWriteException();
  if (!bytes.empty()) s->WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
  s->Close();
}

void CopyAll(TStream& from, TStream& to, int bufferSize) {
  if (bufferSize <= 0) bufferSize = 4096;
  std::vector<uint8_t> buf(static_cast<size_t>(bufferSize));
  while (!from.Eof()) {
    int n = from.Read(buf.data(), bufferSize);
    if (n <= 0) break;
    to.WriteBytes(buf.data(), n);
  }
}

void CopyCount(TStream& from, TStream& to, int64_t count, int bufferSize) {
  if (bufferSize <= 0) bufferSize = 4096;
  std::vector<uint8_t> buf(static_cast<size_t>(bufferSize));
  while (count > 0) {
    int chunk = static_cast<int>(std::min<int64_t>(count, bufferSize));
    from.ReadBytes(buf.data(), chunk);
    to.WriteBytes(buf.data(), chunk);
    count -= chunk;
  }
}
