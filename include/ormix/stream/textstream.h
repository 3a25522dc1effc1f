#pragma once
// Text streams: a wrapper whose line and string operations convert between Text (16-bit
// codes) and an encoding, while byte and typed reads and writes pass through unchanged.
//
// Reading: a text read that starts at position 0 (or, on a stream without positions, before
// anything was read) takes a byte-order mark: FE FF or FF FE selects the byte order of a
// UTF-16 stream for the rest of it, EF BB BF is skipped by a UTF-8 stream. Malformed UTF-8
// reads as U+FFFD, one per malformed sequence; an odd byte at the end of a UTF-16 stream
// too. Characters beyond 16 bits become surrogate pairs.
// Writing: no byte-order mark is written. Latin-1 writes "?" for a character above 255
// (a surrogate pair is one character); UTF-8 writes a lone surrogate as U+FFFD; UTF-16
// writes every code as it is, in the stream's byte order.
// ReadString(length) reads length characters (a surrogate pair or a multi-byte sequence
// is one character), fewer at the end of the stream.
#include <cstdint>
#include <memory>

#include <ormix/stream/stream.h>

enum TTextEncoding {
  TEXT_LATIN1 = 1,
  TEXT_UTF8 = 2,
  TEXT_UTF16BE = 3,
  TEXT_UTF16LE = 4,
};

// "latin1", "utf8", "utf16be", "utf16le" (any case); 0 for another name.
int TextEncodingByName(const Text& name);

class TTextStream : public TStreamWrapper {
public:
  int _encoding;
  // Bytes a text read took too many (looking for a byte-order mark or past a malformed
  // sequence) that a stream without positions could not give back; read first.
  uint8_t _back[4] = {};
  int _backCount = 0;
  bool _started = false;  // something was read (for streams without positions)

  TTextStream(TStreamPtr stream, int encoding);

  int Eof() override;
  int64_t Pos() override;
  int64_t Seek(int64_t pos) override;
  int Read(void* buf, int count) override;
  int ReadBytes(void* buf, int count) override;
  int SkipBytes(int count) override;
  int ReadByte() override;
  int ReadShort() override;
  int32_t ReadInt() override;
  int64_t ReadLong() override;
  float ReadFloat() override;
  double ReadDouble() override;

  Text ReadLine() override;
  int WriteLine(const Text& text) override;
  Text ReadString(int length) override;
  void WriteString(const Text& text) override;

private:
  int NextByte();
  void Unread(const uint8_t* bytes, int count);
  void GiveBack();
  void TakeByteOrderMark();
  int32_t NextUtf16Unit();
  int32_t NextCharacter();
  std::string Encode(const Text& text) const;
};

// Null when stream is null or the encoding is unknown. Like every wrapper, the text stream
// closes the wrapped stream when it is closed or released (wrap OpenUrlStream(stream, ...)
// to keep it open).
std::shared_ptr<TTextStream> CreateTextStream(TStreamPtr stream, int encoding);

// "latin1::URL", "utf8::URL", "utf16be::URL", "utf16le::URL": the inner URL opened with the
// same flags, as a text stream of that encoding.
class TTextStreamFactory : public TStreamFactory {
public:
  TStreamPtr CreateStream(const Text& url, const Text& protocol, const Text& path, int readable,
                          int writeable) override;
};
