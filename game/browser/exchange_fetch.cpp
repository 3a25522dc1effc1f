// In the browser the exchange is an HTTP GET through the page (a page cannot open
// sockets) to the page's own origin, which serves the score service too; the frames go
// on while it runs.
#include "../exchange.h"
#include <ormix/runtime/scramble.h>

#include <emscripten/fetch.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

void Done(emscripten_fetch_t* fetch) {
  auto* state = static_cast<std::shared_ptr<TScoreExchange::TState>*>(fetch->userData);
  Text reply;
  if (fetch->status == 200 && fetch->data)
    reply = ToText(std::string(fetch->data, static_cast<size_t>(fetch->numBytes)));
  const Text payload = ReplyPayload(reply);
  (*state)->table = payload.empty() ? Text() : Unscramble(payload, ExchangeKey, EXCHANGE_PASSES);
  (*state)->done = true;
  delete state;
  emscripten_fetch_close(fetch);
}

}  // namespace

void TScoreExchange::Begin(const Text& record, const TScoreServer& server) {
  _state = std::make_shared<TState>();
  emscripten_fetch_attr_t attr;
  emscripten_fetch_attr_init(&attr);
  std::strcpy(attr.requestMethod, "GET");
  attr.attributes = EMSCRIPTEN_FETCH_LOAD_TO_MEMORY;
  attr.timeoutMSecs = static_cast<unsigned>(server.totalTimeoutMillis);
  attr.onsuccess = Done;
  attr.onerror = Done;
  attr.userData = new std::shared_ptr<TState>(_state);
  // A path without a host: the page's own origin.
  const std::string url = "/" + ToUtf8(ExchangeRequestPath(record));
  emscripten_fetch(&attr, url.c_str());
}
