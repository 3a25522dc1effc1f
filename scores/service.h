#pragma once
// The score service: the exchange the game makes on a right click on its title screen
// (GET /kwscoreme.php?gameid=N&info=HEX, the record scrambled with the game's exchange
// key), the tables of all games as an HTML page (GET /) and as JSON
// (GET /api/scores?gameid=N).
//
// Threads: Handle() is called by many HTTP workers at once. Every store access runs on one
// store thread; exchanges that arrive while a transaction commits are stored together in
// the next one (one durable commit for many exchanges), and each is answered only after
// its commit.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <ormix/runtime/text.h>

#include "http_server.h"
#include "store.h"

constexpr int MAX_NAME_LENGTH = 10;
constexpr int64_t MAX_SCORE = 4294967295;  // the largest non-negative 32-bit number

// Checks an unscrambled record "name|id|score" of a game: true and the record filled in
// when it may be stored, else false and the reason it may not in `why`. "|" and control
// characters are removed from the name first.
bool CheckRecord(const Text& plain, int64_t game, TScoreRecord& record, std::string& why);
// The table as the game reads it: name|score|name|score...
Text TableText(const std::vector<TScoreRow>& rows);

struct TServiceOptions {
  int maxPerMinute = 0;  // exchanges per client address and minute; 0: no limit
  int maxNewGamesPerHour = 20;  // games one client address may start per hour; 0: no limit
  std::string webDir;  // files served under /play/ (the game built for the browser); "": none
};

// A file of `root` for the request path below /play/ (`relative`, without its leading
// "/play/"; "" means index.html): 404 for what is not a plain file there (no "..", no
// hidden names), with the content type browsers need (application/wasm for .wasm).
THttpResponse WebFile(const std::string& root, const std::string& relative);

class TScoreService {
public:
  TScoreService(std::unique_ptr<TScoreStore> store, TServiceOptions options);
  ~TScoreService();
  THttpResponse Handle(const THttpRequest& request);

private:
  struct TExchange {
    TScoreRecord record;
    std::promise<std::vector<TScoreRow>> table;
  };

  std::unique_ptr<TScoreStore> _store;
  TServiceOptions _options;
  std::mutex _mutex;
  std::condition_variable _wake;
  std::deque<std::shared_ptr<TExchange>> _exchanges;
  std::deque<std::function<void(TScoreStore&)>> _reads;
  bool _stopping = false;
  std::thread _thread;
  std::mutex _rateMutex;
  // Per client address, the times of its exchanges within the last minute (at most
  // maxPerMinute of them).
  std::unordered_map<std::string, std::deque<std::chrono::steady_clock::time_point>> _windows;

  // Games known to have rows (a cache, so that an exchange of a known game asks the store
  // nothing more), and per client address the times it started new games within the hour.
  std::unordered_set<int64_t> _knownGames;
  std::unordered_map<std::string, std::deque<std::chrono::steady_clock::time_point>> _newGames;

  void StoreLoop();
  // False when the game is new and the address has started its share of games this hour.
  bool AllowGame(int64_t game, const std::string& peer);
  // Runs work on the store thread and waits for it (exceptions travel back).
  template <typename Result>
  Result Read(std::function<Result(TScoreStore&)> work);
  bool Allow(const std::string& peer);
  THttpResponse Exchange(const THttpRequest& request);
  THttpResponse Page(const THttpRequest& request);
  THttpResponse Json(const THttpRequest& request);
};
