#include "service.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

#include <ormix/runtime/scramble.h>

namespace {

// Exchanges stored in one transaction at most (the rest wait for the next).
constexpr size_t MAX_BATCH = 512;
// Client addresses remembered by the rate limit before old minutes are forgotten.
constexpr size_t RATE_TABLE_PRUNE = 10000;
// Games kept in the cache of known games before it is started afresh.
constexpr size_t KNOWN_GAMES_CACHE = 100000;
// Games shown on one page of /.
constexpr int GAMES_PER_PAGE = 20;

THttpResponse Text400(const std::string& reason) {
  return {400, "text/plain; charset=utf-8", reason + "\n", reason};
}

// Decimal digits only, value within [low, high]; false otherwise.
bool ParseNumber(const Text& text, int64_t low, int64_t high, int64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  int64_t v = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    const int digit = c - u'0';
    // Checked before multiplying: 19 digits can pass the largest int64_t.
    if (v > (INT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  if (v < low || v > high) return false;
  value = v;
  return true;
}

bool ParseNumber(const std::string* text, int64_t low, int64_t high, int64_t& value) {
  return text && ParseNumber(ToText(*text), low, high, value);
}

bool IsControl(char16_t c) { return c < 32 || (c >= 127 && c < 160); }

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* const kPageStyle = R"(
body { font-family: "DejaVu Sans", Verdana, sans-serif; background: #10142a; color: #e8ecff;
       margin: 0; padding: 2em 1em; }
main { max-width: 34em; margin: 0 auto; }
h1 { color: #ffb400; text-align: center; letter-spacing: 0.05em; }
h2 { color: #00b4ff; font-size: 1.2em; margin-top: 2em; }
table { width: 100%; border-collapse: collapse; background: #1a2040; border-radius: 6px; }
th, td { padding: 0.35em 0.8em; text-align: left; }
th { color: #9aa6d8; font-weight: normal; border-bottom: 1px solid #2e3870; }
td.rank { color: #9aa6d8; width: 2.5em; }
td.score { text-align: right; font-variant-numeric: tabular-nums; color: #ffff64; }
th.score { text-align: right; }
tr:nth-child(even) td { background: #1f2650; }
p.empty { color: #9aa6d8; text-align: center; }
nav { text-align: center; margin-top: 2em; }
nav a { color: #00b4ff; }
)";

}  // namespace

bool CheckRecord(const Text& plain, int64_t game, TScoreRecord& record, std::string& why) {
  auto refuse = [&why](const char* reason) {
    why = reason;
    return false;
  };
  const size_t last = plain.rfind(u'|');
  const size_t middle = last == Text::npos || last == 0 ? Text::npos : plain.rfind(u'|', last - 1);
  if (middle == Text::npos) return refuse("record does not have the three fields name|id|score");
  int64_t player = 0, score = 0;
  if (!ParseNumber(plain.substr(middle + 1, last - middle - 1), 1, INT64_MAX, player))
    return refuse("player id is not a positive number");
  if (!ParseNumber(plain.substr(last + 1), 0, MAX_SCORE, score))
    return refuse("score is not a number from 0 to 4294967295");
  Text name;
  for (char16_t c : DecodeRecordName(plain.substr(0, middle)))
    if (c != u'|' && !IsControl(c)) name += c;
  if (name.find_first_not_of(u' ') == Text::npos) return refuse("name is empty");  // only spaces too
  if (name.size() > MAX_NAME_LENGTH) return refuse("name is longer than 10 characters");
  record = {game, player, ToUtf8(name), score};
  return true;
}

Text TableText(const std::vector<TScoreRow>& rows) {
  Text text;
  for (const TScoreRow& row : rows) {
    if (!text.empty()) text += u'|';
    text += EncodeRecordName(ToText(row.name)) + u'|' + IntToText(row.score);
  }
  return text;
}

TScoreService::TScoreService(std::unique_ptr<TScoreStore> store, TServiceOptions options)
    : _store(std::move(store)), _options(options) {
  _thread = std::thread([this] { StoreLoop(); });
}

TScoreService::~TScoreService() {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _stopping = true;
  }
  _wake.notify_all();
  _thread.join();
}

void TScoreService::StoreLoop() {
  while (true) {
    std::vector<std::shared_ptr<TExchange>> batch;
    std::deque<std::function<void(TScoreStore&)>> reads;
    {
      std::unique_lock<std::mutex> lock(_mutex);
      _wake.wait(lock, [&] { return _stopping || !_exchanges.empty() || !_reads.empty(); });
      if (_exchanges.empty() && _reads.empty()) return;
      while (!_exchanges.empty() && batch.size() < MAX_BATCH) {
        batch.push_back(std::move(_exchanges.front()));
        _exchanges.pop_front();
      }
      reads.swap(_reads);
    }
    if (!batch.empty()) {
      try {
        std::vector<TScoreRecord> records;
        for (const auto& e : batch) records.push_back(e->record);
        _store->Submit(records);
        // One table per game of the batch, read after the commit.
        std::unordered_map<int64_t, std::vector<TScoreRow>> tables;
        for (const auto& e : batch)
          if (!tables.count(e->record.game)) tables[e->record.game] = _store->Table(e->record.game, SCORE_TABLE_ROWS);
        for (const auto& e : batch) e->table.set_value(tables[e->record.game]);
      } catch (...) {
        for (const auto& e : batch) e->table.set_exception(std::current_exception());
      }
    }
    for (auto& read : reads) read(*_store);
  }
}

template <typename Result>
Result TScoreService::Read(std::function<Result(TScoreStore&)> work) {
  auto task = std::make_shared<std::packaged_task<Result(TScoreStore&)>>(std::move(work));
  std::future<Result> done = task->get_future();
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _reads.emplace_back([task](TScoreStore& store) { (*task)(store); });
  }
  _wake.notify_one();
  return done.get();
}

bool TScoreService::Allow(const std::string& peer) {
  if (_options.maxPerMinute <= 0) return true;
  const auto now = std::chrono::steady_clock::now();
  const auto since = now - std::chrono::minutes(1);
  std::lock_guard<std::mutex> lock(_rateMutex);
  if (_windows.size() > RATE_TABLE_PRUNE)
    std::erase_if(_windows, [&](const auto& w) { return w.second.empty() || w.second.back() <= since; });
  auto& times = _windows[peer];
  while (!times.empty() && times.front() <= since) times.pop_front();
  if (times.size() >= static_cast<size_t>(_options.maxPerMinute)) return false;
  times.push_back(now);
  return true;
}

THttpResponse TScoreService::Handle(const THttpRequest& request) {
  if (!_options.webDir.empty() && (request.path == "/play" || request.path.rfind("/play/", 0) == 0)) {
    if (request.method != "GET" && request.method != "HEAD")
      return {405, "text/plain; charset=utf-8", "only GET and HEAD are served\n", "", "GET, HEAD"};
    // The page's own files are named relative to /play/.
    if (request.path == "/play") return {301, "text/plain; charset=utf-8", "see /play/\n", "", "", "/play/"};
    return WebFile(_options.webDir, request.path.substr(6));
  }
  const bool exchange = request.path == "/kwscoreme.php";
  const bool known = exchange || request.path == "/" || request.path == "/api/scores" ||
                     request.path == "/healthz";
  if (!known) return {404, "text/plain; charset=utf-8", "not found\n", ""};
  // Pages may be asked for their head alone; an exchange stores a score, so only GET.
  const bool allowed = request.method == "GET" || (!exchange && request.method == "HEAD");
  if (!allowed)
    return {405, "text/plain; charset=utf-8", exchange ? "only GET is served\n" : "only GET and HEAD are served\n",
            "", exchange ? "GET" : "GET, HEAD"};
  try {
    if (exchange) return Exchange(request);
    if (request.path == "/api/scores") return Json(request);
    if (request.path == "/healthz") {
      Read<int>([](TScoreStore& s) { return static_cast<int>(s.Table(1, 1).size()); });
      return {200, "text/plain; charset=utf-8", "ok\n", ""};
    }
    return Page(request);
  } catch (const TStoreError& e) {
    return {503, "text/plain; charset=utf-8", "score store unavailable\n", e.what()};
  }
}

bool TScoreService::AllowGame(int64_t game, const std::string& peer) {
  if (_options.maxNewGamesPerHour <= 0) return true;
  {
    std::lock_guard<std::mutex> lock(_rateMutex);
    if (_knownGames.count(game)) return true;
  }
  const bool stored = !Read<std::vector<TScoreRow>>([game](TScoreStore& s) { return s.Table(game, 1); }).empty();
  const auto now = std::chrono::steady_clock::now();
  const auto since = now - std::chrono::hours(1);
  std::lock_guard<std::mutex> lock(_rateMutex);
  if (_knownGames.size() >= KNOWN_GAMES_CACHE) _knownGames.clear();
  if (!stored) {
    if (_newGames.size() > RATE_TABLE_PRUNE)
      std::erase_if(_newGames, [&](const auto& w) { return w.second.empty() || w.second.back() <= since; });
    auto& times = _newGames[peer];
    while (!times.empty() && times.front() <= since) times.pop_front();
    if (times.size() >= static_cast<size_t>(_options.maxNewGamesPerHour)) return false;
    times.push_back(now);
  }
  _knownGames.insert(game);
  return true;
}

THttpResponse TScoreService::Exchange(const THttpRequest& request) {
  if (!Allow(request.peer))
    return {429, "text/plain; charset=utf-8", "too many exchanges from this address; try again in a minute\n",
            "rate limit"};
  int64_t game = 0;
  if (!ParseNumber(request.Param("gameid"), 1, INT64_MAX, game)) return Text400("gameid is not a positive number");
  const std::string* info = request.Param("info");
  if (!info || info->empty()) return Text400("info is missing");
  // Only what the game writes: pairs of uppercase hexadecimal digits.
  if (info->size() % 2 != 0 || info->find_first_not_of("0123456789ABCDEF") != std::string::npos)
    return Text400("record does not unscramble");
  const Text plain = Unscramble(ToText(*info), ExchangeKey, EXCHANGE_PASSES);
  if (plain.empty()) return Text400("record does not unscramble");
  auto exchange = std::make_shared<TExchange>();
  if (std::string why; !CheckRecord(plain, game, exchange->record, why)) return Text400(why);
  if (!AllowGame(game, request.peer))
    return {429, "text/plain; charset=utf-8", "too many new games from this address; try again later\n",
            "new game limit"};
  std::future<std::vector<TScoreRow>> table = exchange->table.get_future();
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _exchanges.push_back(exchange);
  }
  _wake.notify_one();
  const Text reply = Scramble(TableText(table.get()), ExchangeKey, EXCHANGE_PASSES);
  return {200, "text/plain; charset=utf-8", ToUtf8(reply) + "\n-+-\n", ""};
}

THttpResponse TScoreService::Json(const THttpRequest& request) {
  int64_t game = 0;
  if (!ParseNumber(request.Param("gameid"), 1, INT64_MAX, game)) return Text400("gameid is not a positive number");
  auto rows = Read<std::vector<TScoreRow>>([game](TScoreStore& s) { return s.Table(game, SCORE_TABLE_ROWS); });
  std::string json = "{\"gameid\":" + std::to_string(game) + ",\"scores\":[";
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i) json += ",";
    json += "{\"rank\":" + std::to_string(i + 1) + ",\"name\":" + JsonString(rows[i].name) +
            ",\"score\":" + std::to_string(rows[i].score) + "}";
  }
  json += "]}\n";
  return {200, "application/json", json, ""};
}

THttpResponse TScoreService::Page(const THttpRequest& request) {
  // One page of games: those above ?after=N (from the first without it), with a link to
  // the next page when there are more.
  int64_t after = 0;
  if (request.Param("after") && !ParseNumber(request.Param("after"), 0, INT64_MAX, after))
    return Text400("after is not a game number");
  using TTables = std::vector<std::pair<int64_t, std::vector<TScoreRow>>>;
  bool more = false;
  TTables tables = Read<TTables>([after, &more](TScoreStore& s) {
    TTables all;
    std::vector<int64_t> games = s.Games(after, GAMES_PER_PAGE + 1);
    more = games.size() > static_cast<size_t>(GAMES_PER_PAGE);
    if (more) games.pop_back();
    for (int64_t game : games) all.emplace_back(game, s.Table(game, SCORE_TABLE_ROWS));
    return all;
  });
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Zingle! high scores</title>\n<style>" + std::string(kPageStyle) +
      "</style>\n</head>\n<body>\n<main>\n<h1>Zingle! high scores</h1>\n";
  if (tables.empty()) html += after ? "<p class=\"empty\">No more games.</p>\n" : "<p class=\"empty\">No scores yet.</p>\n";
  for (const auto& [game, rows] : tables) {
    html += "<section id=\"game-" + std::to_string(game) + "\">\n<h2>Game " + std::to_string(game) +
            "</h2>\n<table>\n<thead><tr><th>#</th><th>Name</th><th class=\"score\">Score</th></tr></thead>\n<tbody>\n";
    for (size_t i = 0; i < rows.size(); ++i)
      html += "<tr><td class=\"rank\">" + std::to_string(i + 1) + "</td><td class=\"name\">" +
              HtmlEscape(rows[i].name) + "</td><td class=\"score\">" + std::to_string(rows[i].score) +
              "</td></tr>\n";
    html += "</tbody>\n</table>\n</section>\n";
  }
  if (after || more) {
    html += "<nav>";
    if (after) html += "<a href=\"/\">First games</a>";
    if (after && more) html += " &middot; ";
    if (more) html += "<a class=\"next\" href=\"/?after=" + std::to_string(tables.back().first) + "\">More games</a>";
    html += "</nav>\n";
  }
  html += "</main>\n</body>\n</html>\n";
  return {200, "text/html; charset=utf-8", html, ""};
}
