// Text read from outside: the settings file's lines, scrambled records, the score reply,
// the HTTP reply reader and URLs handed to the stream factories.
#include <exception>
#include <string>

#include "fuzz_entries.h"
#include "game/exchange.h"
#include "game/scramble.h"
#include "game/settings.h"
#include "game/title.h"
#include <ormix/runtime/incbin.h>
#include <ormix/stream/stream.h>
#include <ormix/web/http.h>

namespace {

TStreamPtr InputStream(const uint8_t* data, size_t size) {
  return TRamStream::Create(const_cast<uint8_t*>(data), static_cast<int64_t>(size), 1, 0);
}

// One character per byte, as the socket and file readers build their text.
Text BytesText(const uint8_t* data, size_t size) { return Text(data, data + size); }

// A stream that reads the input and swallows what is written (the request).
class TReplyStream : public TStream {
public:
  TReplyStream(const uint8_t* data, size_t size) : _data(data), _size(size) {}
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

}  // namespace

// The settings file as LoadSettings reads it: two lines, each unscrambled with its key,
// then the record's fields and the table's rows as the title screen shows them.
int FuzzSettings(const uint8_t* data, size_t size) {
  try {
    TStreamPtr in = InputStream(data, size);
    Text line1 = Unscramble(in->ReadLine(), SettingsKey, SETTINGS_PASSES);
    Text line2 = Unscramble(in->ReadLine(), TableKey, SETTINGS_PASSES);
    TGameSettings s;
    ApplySettingsLines(line1, line2, s);
    for (int row = 0; row <= 20; ++row) TitleTableRow(s.ScoreTable, row, s.HighScore);
    // The unscrambling steps on the raw text too, where no checksum stops them early.
    const Text raw = BytesText(data, size);
    Undiffuse(raw);
    HexToInt(raw);
    GetField(raw, u"|", 3, 1);
  } catch (const std::exception&) {
  }
  return 0;
}

int FuzzScoreReply(const uint8_t* data, size_t size) {
  try {
    const Text reply = BytesText(data, size);
    Text payload = ReplyPayload(reply);
    Text table = Unscramble(payload, ExchangeKey, EXCHANGE_PASSES);
    for (int row = 0; row <= 20; ++row) TitleTableRow(table, row, 0);
    ParseScoreServer(reply.substr(0, 300));
  } catch (const std::exception&) {
  }
  return 0;
}

int FuzzHttpReply(const uint8_t* data, size_t size) {
  try {
    Thttp http;
    http.maxResponseBytes = 1 << 16;
    http.stream = std::make_shared<TReplyStream>(data, size);
    Text body = http.Get(u"kwscoreme.php");
    Thttp::UrlDecode(body.substr(0, 4096));
  } catch (const std::exception&) {
  }
  return 0;
}

// URLs through the factory chain: embedded resources and the byte-order wrappers, nested
// as deep as the input says. Network protocols and file paths are left out: a fuzzed
// name must not reach a name server or a device file.
int FuzzUrl(const uint8_t* data, size_t size) {
  InitStreamModule();
  static const unsigned char resource[] = "resource bytes\nsecond line\n";
  static bool registered = false;
  if (!registered) {
    RegisterIncbin("fuzz", resource, sizeof resource - 1);
    registered = true;
  }
  const Text url = BytesText(data, size);
  // Walk the chain as the factories will: the byte-order wrappers pass their path on;
  // whatever else has a protocol ends it. A chain ending in a bare path would open a file.
  Text rest = url;
  for (;;) {
    const size_t sep = rest.find(u"::");
    if (sep == Text::npos) return 0;
    const Text protocol = ToLower(rest.substr(0, sep));
    if (protocol == u"tcp" || protocol == u"http") return 0;
    if (protocol != u"littleendian" && protocol != u"bigendian") break;
    rest = rest.substr(sep + 2);
  }
  try {
    TStreamPtr s = OpenUrlStream(url, 1, 0);
    if (s) {
      s->ReadInt();
      s->ReadLine();
      s->Seek(1);
      s->ReadShort();
    }
  } catch (const std::exception&) {
  }
  return 0;
}
