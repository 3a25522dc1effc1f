// The score service's side of the exchange, over a score store in a temporary folder:
// request heads as clients send them, and records as the game scrambles them.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_entries.h"
#include <ormix/runtime/scramble.h>
#include "scores/http_server.h"
#include "scores/service.h"
#include "scores/store.h"

namespace {

std::string& StoreFolder() {
  static std::string folder;
  return folder;
}

TScoreService& Service() {
  // Kept for the whole run: its store thread serves every input. The store's files are
  // removed at exit (unlinking them while open is fine).
  static TScoreService* service = [] {
    char folder[] = "/tmp/ormix-fuzz-scores-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    StoreFolder() = folder;
    std::atexit([] { std::filesystem::remove_all(StoreFolder()); });
    return new TScoreService(OpenStore("sqlite:" + StoreFolder() + "/scores.db?sync=normal"), TServiceOptions{});
  }();
  return *service;
}

}  // namespace

// An even first byte: the rest is a request head, parsed and handled. An odd one: the rest,
// as 16-bit codes, is the plain record of an exchange ("name|id|score"), which is
// scrambled as the game does and sent; what is stored shows on the page and in the JSON.
int FuzzScoreRequest(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  THttpRequest request;
  request.peer = "127.0.0.1";
  std::string why;
  int status = 0;
  if (data[0] % 2 == 0) {
    const std::string head(reinterpret_cast<const char*>(data + 1), std::min<size_t>(size - 1, 8192));
    if (!ParseRequestHead(head, request, why, status)) return 0;
    Service().Handle(request);
    return 0;
  }
  Text record;
  for (size_t i = 1; i + 1 < size; i += 2) record += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  const std::string info = ToUtf8(Scramble(record, ExchangeKey, EXCHANGE_PASSES));
  if (!ParseRequestHead("GET /kwscoreme.php?gameid=20&info=" + info + " HTTP/1.0\r\n\r\n", request, why, status))
    __builtin_trap();  // the game's own request must parse
  Service().Handle(request);
  for (const char* target : {"/ HTTP/1.0\r\n\r\n", "/api/scores?gameid=20 HTTP/1.0\r\n\r\n"}) {
    THttpRequest read;
    if (ParseRequestHead(std::string("GET ") + target, read, why, status)) Service().Handle(read);
  }
  return 0;
}
