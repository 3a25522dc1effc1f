#include <ormix/stream/textstream.h>

#include <cstring>
#include <string_view>

#include <ormix/runtime/text.h>

namespace {

constexpr int32_t REPLACEMENT = 0xFFFD;

bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

int TextEncodingByName(const Text& name) {
  const Text n = ToLower(name);
  if (n == u"latin1") return TEXT_LATIN1;
  if (n == u"utf8") return TEXT_UTF8;
  if (n == u"utf16be") return TEXT_UTF16BE;
  if (n == u"utf16le") return TEXT_UTF16LE;
  return 0;
}

TTextStream::TTextStream(TStreamPtr stream, int encoding)
    : TStreamWrapper(std::move(stream)), _encoding(encoding) {}

std::shared_ptr<TTextStream> CreateTextStream(TStreamPtr stream, int encoding) {
  if (!stream || encoding < TEXT_LATIN1 || encoding > TEXT_UTF16LE) return nullptr;
  return std::make_shared<TTextStream>(std::move(stream), encoding);
}

// ---- bytes: the given-back bytes come first, everything else passes through ----

int TTextStream::NextByte() {
  _started = true;
  if (_backCount > 0) {
    const int b = _back[0];
    --_backCount;
    std::memmove(_back, _back + 1, static_cast<size_t>(_backCount));
    return b;
  }
  if (!_stream || _stream->Eof()) return -1;
  uint8_t c = 0;
  if (_stream->Read(&c, 1) <= 0) return -1;
  return c;
}

void TTextStream::Unread(const uint8_t* bytes, int count) {
  // Lookahead never exceeds three bytes, all of them just taken from here.
  if (count <= 0 || _backCount + count > static_cast<int>(sizeof _back)) return;
  std::memmove(_back + count, _back, static_cast<size_t>(_backCount));
  std::memcpy(_back, bytes, static_cast<size_t>(count));
  _backCount += count;
}

// After a text operation, a stream that can seek takes its extra bytes back itself, so
// its position, and every later byte operation, is exactly where the text ended.
void TTextStream::GiveBack() {
  if (_backCount == 0 || !_stream) return;
  const int64_t p = _stream->Pos();
  if (p >= _backCount && _stream->Seek(p - _backCount) == p - _backCount) _backCount = 0;
}

int TTextStream::Eof() { return _backCount == 0 ? TStreamWrapper::Eof() : 0; }

int64_t TTextStream::Pos() {
  const int64_t p = TStreamWrapper::Pos();
  return p < 0 ? p : p - _backCount;
}

int64_t TTextStream::Seek(int64_t pos) {
  _backCount = 0;
  return TStreamWrapper::Seek(pos);
}

int TTextStream::Read(void* buf, int count) {
  if (count <= 0) return 0;
  _started = true;
  auto* p = static_cast<uint8_t*>(buf);
  int n = 0;
  while (_backCount > 0 && n < count) p[n++] = static_cast<uint8_t>(NextByte());
  if (n > 0) return n;  // never wait on the inner stream while holding bytes
  return TStreamWrapper::Read(buf, count);
}

// Typed reads go straight to the wrapped stream (keeping its byte order) unless bytes
// are held back; then they are assembled here, little-endian.
int TTextStream::ReadBytes(void* b, int n) {
  _started = true;
  return _backCount ? TStream::ReadBytes(b, n) : TStreamWrapper::ReadBytes(b, n);
}
int TTextStream::SkipBytes(int n) {
  _started = true;
  return _backCount ? TStream::SkipBytes(n) : TStreamWrapper::SkipBytes(n);
}
int TTextStream::ReadByte() {
  _started = true;
  return _backCount ? TStream::ReadByte() : TStreamWrapper::ReadByte();
}
int TTextStream::ReadShort() {
  _started = true;
  return _backCount ? TStream::ReadShort() : TStreamWrapper::ReadShort();
}
int32_t TTextStream::ReadInt() {
  _started = true;
  return _backCount ? TStream::ReadInt() : TStreamWrapper::ReadInt();
}
int64_t TTextStream::ReadLong() {
  _started = true;
  return _backCount ? TStream::ReadLong() : TStreamWrapper::ReadLong();
}
float TTextStream::ReadFloat() {
  _started = true;
  return _backCount ? TStream::ReadFloat() : TStreamWrapper::ReadFloat();
}
double TTextStream::ReadDouble() {
  _started = true;
  return _backCount ? TStream::ReadDouble() : TStreamWrapper::ReadDouble();
}

// ---- decoding ----

void TTextStream::TakeByteOrderMark() {
  if (_encoding == TEXT_LATIN1) return;
  const int64_t p = Pos();
  if (p > 0 || (p < 0 && _started)) return;
  uint8_t b[3];
  int n = 0;
  if (_encoding == TEXT_UTF8) {
    static const uint8_t mark[3] = {0xEF, 0xBB, 0xBF};
    while (n < 3) {
      const int c = NextByte();
      if (c < 0) break;
      b[n++] = static_cast<uint8_t>(c);
      if (c != mark[n - 1]) break;
    }
    if (n == 3 && b[2] == mark[2]) return;
    Unread(b, n);
    return;
  }
  while (n < 2) {
    const int c = NextByte();
    if (c < 0) break;
    b[n++] = static_cast<uint8_t>(c);
  }
  if (n == 2 && b[0] == 0xFE && b[1] == 0xFF) _encoding = TEXT_UTF16BE;
  else if (n == 2 && b[0] == 0xFF && b[1] == 0xFE) _encoding = TEXT_UTF16LE;
  else Unread(b, n);
}

int32_t TTextStream::NextUtf16Unit() {
  const int b0 = NextByte();
  if (b0 < 0) return -1;
  const int b1 = NextByte();
  if (b1 < 0) return REPLACEMENT;  // an odd byte at the end
  return _encoding == TEXT_UTF16BE ? (b0 << 8) | b1 : (b1 << 8) | b0;
}

// The next character's code (a pair combined, a lone surrogate as it is), -1 at the end.
int32_t TTextStream::NextCharacter() {
  switch (_encoding) {
    case TEXT_UTF8: {
      const int b0 = NextByte();
      if (b0 < 0x80) return b0;  // also -1 at the end
      // Bytes are taken one at a time, only while they can still continue the character,
      // so a malformed sequence ends before the byte that broke it.
      uint8_t seq[4] = {static_cast<uint8_t>(b0)};
      const size_t length = static_cast<size_t>(Utf8SequenceLength(seq[0]));
      for (size_t have = 1;; ++have) {
        size_t used = 0;
        const int32_t c = DecodeUtf8(std::string_view(reinterpret_cast<const char*>(seq), have), used);
        if (c >= 0) return c;
        if (used < have) {
          Unread(seq + used, static_cast<int>(have - used));
          return REPLACEMENT;
        }
        if (have == length) return REPLACEMENT;
        const int b = NextByte();
        if (b < 0) return REPLACEMENT;
        seq[have] = static_cast<uint8_t>(b);
      }
    }
    case TEXT_UTF16BE:
    case TEXT_UTF16LE: {
      const int32_t u = NextUtf16Unit();
      if (!IsHighSurrogate(static_cast<uint32_t>(u))) return u;
      uint8_t b[2];
      const int c0 = NextByte();
      if (c0 < 0) return u;
      const int c1 = NextByte();
      b[0] = static_cast<uint8_t>(c0);
      if (c1 < 0) {
        Unread(b, 1);
        return u;
      }
      b[1] = static_cast<uint8_t>(c1);
      const int32_t v = _encoding == TEXT_UTF16BE ? (c0 << 8) | c1 : (c1 << 8) | c0;
      if (IsLowSurrogate(static_cast<uint32_t>(v))) return 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
      Unread(b, 2);
      return u;
    }
    default:
      return NextByte();
  }
}

Text TTextStream::ReadLine() {
  TakeByteOrderMark();
  Text line;
  for (;;) {
    const int32_t c = NextCharacter();
    if (c < 0 || c == 0 || c == 10) break;
    if (c == 13) continue;
    AppendUtf16(line, c);
  }
  GiveBack();
  return line;
}

Text TTextStream::ReadString(int length) {
  Text text;
  if (length <= 0) return text;
  TakeByteOrderMark();
  for (int i = 0; i < length; ++i) {
    const int32_t c = NextCharacter();
    if (c < 0) break;
    AppendUtf16(text, c);
  }
  GiveBack();
  return text;
}

// ---- encoding ----

std::string TTextStream::Encode(const Text& text) const {
  std::string out;
  if (_encoding == TEXT_UTF16BE || _encoding == TEXT_UTF16LE) {
    out.reserve(text.size() * 2);
    const bool big = _encoding == TEXT_UTF16BE;
    for (char16_t u : text) {
      out.push_back(static_cast<char>(big ? u >> 8 : u & 0xFF));
      out.push_back(static_cast<char>(big ? u & 0xFF : u >> 8));
    }
    return out;
  }
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    }
    if (_encoding == TEXT_LATIN1) {
      out.push_back(static_cast<char>(c <= 0xFF ? c : '?'));
    } else {
      if (c >= 0xD800 && c <= 0xDFFF) c = REPLACEMENT;
      AppendUtf8(out, c);
    }
  }
  return out;
}

int TTextStream::WriteLine(const Text& text) {
  const std::string bytes = Encode(text + u"\r\n");
  int done = 0;
  const int total = static_cast<int>(bytes.size());
  while (done < total) {
    const int n = Write(bytes.data() + done, total - done);
    if (n <= 0) return 0;
    done += n;
  }
  return 1;
}

void TTextStream::WriteString(const Text& text) {
  const std::string bytes = Encode(text);
  if (!bytes.empty()) WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
}

TStreamPtr TTextStreamFactory::CreateStream(const Text&, const Text& protocol, const Text& path,
                                            int readable, int writeable) {
  const int encoding = TextEncodingByName(protocol);
  if (!encoding) return nullptr;
  TStreamPtr inner = OpenUrlStream(path, readable, writeable);
  if (!inner) return nullptr;
  return CreateTextStream(inner, encoding);
}
