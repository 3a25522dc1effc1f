// Text read from outside: the settings file's lines, scrambled records, the score reply,
// the HTTP reply reader, URLs handed to the stream factories and text streams.
#include <climits>
#include <exception>
#include <string>

#include "fuzz_entries.h"
#include "fuzz_streams.h"
#include "game/exchange.h"
#include <ormix/runtime/scramble.h>
#include "game/settings.h"
#include "game/title.h"
#include <ormix/runtime/incbin.h>
#include <ormix/stream/bankstream.h>
#include <ormix/stream/stream.h>
#include <ormix/stream/textstream.h>
#include <ormix/web/http.h>

namespace {

// One character per byte, as the socket and file readers build their text.
Text BytesText(const uint8_t* data, size_t size) { return Text(data, data + size); }


}  // namespace

// The settings file as LoadSettings reads it: two lines, each unscrambled with its key,
// then the record's fields and the table's rows as the title screen shows them.
int FuzzSettings(const uint8_t* data, size_t size) {
  try {
    TStreamPtr in = fuzzio::InputStream(data, size);
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
    http.stream = std::make_shared<fuzzio::TSocketLikeStream>(data, size);
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

// The first byte chooses the encoding, a sized stream or one like a socket, and how many
// characters a string read asks for; the rest is read as lines, strings and bytes in
// turn. Then the input is read whole once more, and that text, written and read again in
// the encoding the stream ended up in (a byte-order mark may change it), must come back
// the same.
int FuzzTextStream(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int encoding = TEXT_LATIN1 + (data[0] & 3);
  const bool socketLike = data[0] & 4;
  const int piece = 1 + (data[0] >> 3);
  const uint8_t* body = data + 1;
  const size_t length = size - 1;
  auto open = [&]() -> TStreamPtr {
    if (socketLike) return std::make_shared<fuzzio::TSocketLikeStream>(body, length);
    return fuzzio::InputStream(body, length);
  };
  try {
    auto text = CreateTextStream(open(), encoding);
    for (size_t turn = 0; !text->Eof() && turn <= length; ++turn) {
      switch (turn % 3) {
        case 0: text->ReadLine(); break;
        case 1: text->ReadString(piece); break;
        default: text->ReadByte(); break;
      }
    }
  } catch (const std::exception&) {
  }
  try {
    auto reader = CreateTextStream(open(), encoding);
    // A leading character keeps a U+FEFF of the text from reading as a byte-order mark.
    const Text whole = u"x" + reader->ReadString(INT_MAX);
    TBankPtr bank = NewBank();
    CreateTextStream(OpenUrlStream(bank, 0, 1), reader->_encoding)->WriteString(whole);
    const Text back = CreateTextStream(OpenUrlStream(bank, 1, 0), reader->_encoding)->ReadString(INT_MAX);
    if (back != whole) __builtin_trap();
  } catch (const std::exception&) {
  }
  return 0;
}
