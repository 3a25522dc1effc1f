#include "exchange.h"

#include <chrono>
#include <cstdlib>
#include <future>
#include <system_error>

#include <ormix/runtime/scramble.h>
#include "settings.h"
#include <ormix/system/system.h>
#include <ormix/web/http.h>

TScoreServer ParseScoreServer(const Text& address) {
  TScoreServer server;
  Text s = address;
  while (!s.empty() && s.front() <= 32) s.erase(s.begin());
  while (!s.empty() && s.back() <= 32) s.pop_back();
  if (s.empty()) return server;
  size_t colon = s.rfind(u':');
  if (colon != Text::npos) {
    int port = TextToInt(s.substr(colon + 1));
    if (port > 0 && port < 65536) server.port = port;
    s = s.substr(0, colon);
  }
  if (!s.empty()) server.host = s;
  return server;
}

TScoreServer ScoreServerFromEnvironment() {
  const char* env = std::getenv("ZINGLE_SCORE_SERVER");
  return ParseScoreServer(env ? ToText(env) : Text());
}

Text ExchangeRequestPath(const Text& record) {
  return u"kwscoreme.php?gameid=" + IntToText(GAME_ID) + u"&info=" +
         Scramble(record, ExchangeKey, EXCHANGE_PASSES);
}

// Walks the lines of the trimmed reply once (taking GetField of index 0, 1, 2 ... in
// turn would rescan the reply for every line, which a long reply makes quadratic).
Text ReplyPayload(const Text& reply) {
  size_t first = 0, last = reply.size();
  while (first < last && reply[first] <= 32) ++first;
  while (last > first && reply[last - 1] <= 32) --last;
  Text payload;
  size_t start = first;
  while (true) {
    size_t end = reply.find(u'\n', start);
    if (end == Text::npos || end > last) end = last;
    Text line = reply.substr(start, end - start);
    if (line == u"-+-") break;
    payload = std::move(line);
    if (end >= last) break;
    start = end + 1;
  }
  return payload;
}

Text ExchangeScores(const Text& record, const TScoreServer& server) {
  Thttp http;
  http.timeoutMillis = server.timeoutMillis;
  http.connectTimeoutMillis = server.connectTimeoutMillis;
  http.totalTimeoutMillis = server.totalTimeoutMillis;
  Text reply;
  if (http.Open(server.host, 0, server.port)) reply = http.Get(ExchangeRequestPath(record));
  http.Close();
  Text payload = ReplyPayload(reply);
  if (payload.empty()) return Text();
  return Unscramble(payload, ExchangeKey, EXCHANGE_PASSES);
}

Text ExchangeScoresResponsively(const Text& record, const TScoreServer& server) {
  std::future<Text> result;
  try {
    result = std::async(std::launch::async, [record, server] { return ExchangeScores(record, server); });
  } catch (const std::system_error&) {
    return ExchangeScores(record, server);  // no thread to be had: wait in place
  }
  while (result.wait_for(std::chrono::milliseconds(15)) != std::future_status::ready) PumpSystem();
  return result.get();
}

bool TScoreExchange::Finished(Text& table) {
  if (!_state || !_state->done) return false;
  table = std::move(_state->table);
  _state.reset();
  return true;
}
