#pragma once
// Score storage: the best score of every player id in every game. Back ends are picked
// by the scheme of a database URL from a table (sqlite:PATH, postgresql://...). A store is
// used by one thread at a time; every Submit is one durable transaction.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Rows the score table holds and the game's title screen shows (rows 0 to 20).
constexpr int SCORE_TABLE_ROWS = 21;

// One checked record of an exchange. The name is UTF-8.
struct TScoreRecord {
  int64_t game = 0;
  int64_t player = 0;
  std::string name;
  int64_t score = 0;
};

struct TScoreRow {
  std::string name;  // UTF-8
  int64_t score = 0;
};

// A failure of the database: the message is one line, fit for the log or the terminal.
class TStoreError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TScoreStore {
public:
  virtual ~TScoreStore() = default;
  // Keeps the better score of each record per game and player id (a tie keeps the earlier
  // one); the name always follows the record. All records commit together, in order.
  virtual void Submit(const std::vector<TScoreRecord>& records) = 0;
  // The table of a game: highest score first, ties to the earlier score.
  virtual std::vector<TScoreRow> Table(int64_t game, int limit) = 0;
  // Games that have a row, in ascending order: at most limit of them, from the first above
  // `after` (0: from the start).
  virtual std::vector<int64_t> Games(int64_t after, int limit) = 0;
};

// A back end: the URL scheme it serves and how it opens (throws TStoreError).
struct TStoreBackend {
  const char* scheme;  // "sqlite" matches "sqlite:PATH"
  const char* description;
  std::unique_ptr<TScoreStore> (*open)(const std::string& url);
};
const std::vector<TStoreBackend>& StoreBackends();

// Opens the store a URL names, creating or upgrading its schema; throws TStoreError with a
// one-line reason when the URL has no back end or the database cannot be opened.
std::unique_ptr<TScoreStore> OpenStore(const std::string& url);

// The URL with its password (if any) replaced by ***, for messages.
std::string RedactedUrl(const std::string& url);

std::unique_ptr<TScoreStore> OpenSqliteStore(const std::string& url);
std::unique_ptr<TScoreStore> OpenPostgresStore(const std::string& url);
