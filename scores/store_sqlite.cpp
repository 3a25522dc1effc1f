// The SQLite back end: one file in WAL mode. By default every commit is synchronised to
// the disk before the exchange is answered, so it survives a crash of the program or of
// the machine; with ?sync=normal a commit survives a crash of the program (the kill test)
// but the last ones may be lost on power loss, in exchange for not waiting for the disk.
#include <sqlite3.h>

#include "store.h"

namespace {

// Schema steps; PRAGMA user_version counts those applied. New steps are appended.
const char* const kSchemaSteps[] = {
    "CREATE TABLE scores ("
    " game INTEGER NOT NULL, player INTEGER NOT NULL, name TEXT NOT NULL,"
    " score INTEGER NOT NULL, achieved INTEGER NOT NULL, PRIMARY KEY (game, player));"
    "CREATE INDEX scores_rank ON scores (game, score DESC, achieved);"
    // The order in which best scores were reached, for ties.
    "CREATE TABLE score_order (next INTEGER NOT NULL);"
    "INSERT INTO score_order VALUES (1);",
};

// Attempts of a unit of work while another process holds the database, each waiting up to
// BUSY_TIMEOUT_MILLIS.
constexpr int BUSY_ATTEMPTS = 3;
constexpr int BUSY_TIMEOUT_MILLIS = 2000;
// Pages of write-ahead log after which a commit copies it back into the database file.
constexpr int CHECKPOINT_PAGES = 1000;

// The database is held by another connection (worth another attempt).
class TBusyError : public TStoreError {
public:
  using TStoreError::TStoreError;
};

[[noreturn]] void ThrowSqlite(int rc, const std::string& why) {
  const int code = rc & 0xff;
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED) throw TBusyError("SQLite: " + why);
  throw TStoreError("SQLite: " + why);
}

class TStatement {
public:
  TStatement(sqlite3* db, const char* sql) : _db(db) {
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &_stmt, nullptr) != SQLITE_OK)
      throw TStoreError(std::string("SQLite: ") + sqlite3_errmsg(db));
  }
  ~TStatement() { sqlite3_finalize(_stmt); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  TStatement& Reset() {
    sqlite3_reset(_stmt);
    sqlite3_clear_bindings(_stmt);
    return *this;
  }
  // Ends the statement's read, so that no transaction stays open between exchanges (an open
  // read would see stale rows, block other writers and keep the log from checkpointing).
  void Done() { sqlite3_reset(_stmt); }
  TStatement& Bind(int index, int64_t value) {
    sqlite3_bind_int64(_stmt, index, value);
    return *this;
  }
  TStatement& Bind(int index, const std::string& value) {
    sqlite3_bind_text(_stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // True while there is a row to read.
  bool Step() {
    int rc = sqlite3_step(_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    ThrowSqlite(rc, sqlite3_errmsg(_db));
  }
  int64_t Int(int column) { return sqlite3_column_int64(_stmt, column); }
  std::string String(int column) {
    const unsigned char* s = sqlite3_column_text(_stmt, column);
    return s ? std::string(reinterpret_cast<const char*>(s),
                           static_cast<size_t>(sqlite3_column_bytes(_stmt, column)))
             : std::string();
  }

private:
  sqlite3* _db;
  sqlite3_stmt* _stmt = nullptr;
};

class TSqliteStore : public TScoreStore {
public:
  TSqliteStore(const std::string& path, bool syncNormal) {
    if (path.empty()) throw TStoreError("sqlite: needs a file name (sqlite:scores.db)");
    int rc = sqlite3_open_v2(path.c_str(), &_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
      std::string why = _db ? sqlite3_errmsg(_db) : sqlite3_errstr(rc);
      sqlite3_close(_db);
      throw TStoreError("cannot open sqlite:" + path + ": " + why);
    }
    try {
      sqlite3_busy_timeout(_db, BUSY_TIMEOUT_MILLIS);
      Exec(syncNormal ? "PRAGMA synchronous = NORMAL" : "PRAGMA synchronous = FULL");
      if (Text("PRAGMA journal_mode = WAL") != "wal")
        throw TStoreError("cannot open sqlite:" + path + ": WAL journal mode is not available");
      sqlite3_wal_autocheckpoint(_db, CHECKPOINT_PAGES);
      // The log file is truncated back to this size after a checkpoint that emptied it.
      Exec("PRAGMA journal_size_limit = 4194304");
      Upgrade();
      _upsert = std::make_unique<TStatement>(_db,
          "INSERT INTO scores (game, player, name, score, achieved) VALUES (?1, ?2, ?3, ?4, ?5) "
          "ON CONFLICT (game, player) DO UPDATE SET name = excluded.name,"
          " achieved = CASE WHEN excluded.score > scores.score THEN excluded.achieved"
          " ELSE scores.achieved END,"
          " score = MAX(scores.score, excluded.score)");
      _nextOrder = std::make_unique<TStatement>(_db, "SELECT next FROM score_order");
      _setOrder = std::make_unique<TStatement>(_db, "UPDATE score_order SET next = ?1");
      _table = std::make_unique<TStatement>(_db,
          "SELECT name, score FROM scores WHERE game = ?1 ORDER BY score DESC, achieved LIMIT ?2");
      _games = std::make_unique<TStatement>(_db, "SELECT DISTINCT game FROM scores ORDER BY game");
    } catch (const TStoreError& e) {
      Close();
      std::string what = e.what();
      if (what.rfind("cannot open", 0) == 0) throw;
      throw TStoreError("cannot open sqlite:" + path + ": " + what);
    }
  }
  ~TSqliteStore() override { Close(); }

  void Submit(const std::vector<TScoreRecord>& records) override {
    Busy([&] {
      try {
        Exec("BEGIN IMMEDIATE");
        _nextOrder->Reset();
        int64_t order = _nextOrder->Step() ? _nextOrder->Int(0) : 1;
        _nextOrder->Done();
        for (const TScoreRecord& r : records) {
          _upsert->Reset().Bind(1, r.game).Bind(2, r.player).Bind(3, r.name).Bind(4, r.score)
              .Bind(5, order++);
          _upsert->Step();
          _upsert->Done();
        }
        _setOrder->Reset().Bind(1, order).Step();
        _setOrder->Done();
        Exec("COMMIT");
      } catch (...) {
        ResetAll();
        if (!sqlite3_get_autocommit(_db)) sqlite3_exec(_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
    });
  }

  std::vector<TScoreRow> Table(int64_t game, int limit) override {
    std::vector<TScoreRow> rows;
    Busy([&] {
      rows.clear();
      try {
        _table->Reset().Bind(1, game).Bind(2, static_cast<int64_t>(limit));
        while (_table->Step()) rows.push_back({_table->String(0), _table->Int(1)});
        _table->Done();
      } catch (...) {
        _table->Done();
        throw;
      }
    });
    return rows;
  }

  std::vector<int64_t> Games() override {
    std::vector<int64_t> games;
    Busy([&] {
      games.clear();
      try {
        _games->Reset();
        while (_games->Step()) games.push_back(_games->Int(0));
        _games->Done();
      } catch (...) {
        _games->Done();
        throw;
      }
    });
    return games;
  }

private:
  sqlite3* _db = nullptr;

  void ResetAll() {
    for (auto* s : {&_upsert, &_nextOrder, &_setOrder, &_table, &_games})
      if (*s) (*s)->Done();
  }

  // Runs work again while another process holds the database (each attempt already waits
  // up to the busy time-out inside SQLite).
  template <typename Work>
  void Busy(Work work) {
    for (int attempt = 1;; ++attempt) {
      try {
        work();
        return;
      } catch (const TBusyError&) {
        if (attempt >= BUSY_ATTEMPTS) throw;
      }
    }
  }
  std::unique_ptr<TStatement> _upsert, _nextOrder, _setOrder, _table, _games;

  void Close() {
    _upsert.reset();
    _nextOrder.reset();
    _setOrder.reset();
    _table.reset();
    _games.reset();
    if (_db) sqlite3_close(_db);
    _db = nullptr;
  }

  void Exec(const char* sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(_db, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
      std::string why = error ? error : sqlite3_errmsg(_db);
      sqlite3_free(error);
      ThrowSqlite(rc, why);
    }
  }

  // The first column of the first row of a statement.
  std::string Text(const char* sql) {
    TStatement s(_db, sql);
    return s.Step() ? s.String(0) : std::string();
  }

  void Upgrade() {
    try {
      Exec("BEGIN IMMEDIATE");
      const int steps = static_cast<int>(std::size(kSchemaSteps));
      int version = std::stoi(Text("PRAGMA user_version"));
      if (version > steps)
        throw TStoreError("the database holds a newer schema (version " + std::to_string(version) +
                          ") than this program knows");
      for (; version < steps; ++version) Exec(kSchemaSteps[version]);
      Exec(("PRAGMA user_version = " + std::to_string(steps)).c_str());
      Exec("COMMIT");
    } catch (...) {
      if (!sqlite3_get_autocommit(_db)) sqlite3_exec(_db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }
};

}  // namespace

std::unique_ptr<TScoreStore> OpenSqliteStore(const std::string& url) {
  std::string path = url.substr(url.find(':') + 1);
  // sqlite://PATH is taken as sqlite:PATH as well.
  if (path.rfind("//", 0) == 0) path = path.substr(2);
  bool syncNormal = false;
  for (const char* option : {"?sync=full", "?sync=normal"}) {
    const std::string o = option;
    if (path.size() >= o.size() && path.compare(path.size() - o.size(), o.size(), o) == 0) {
      syncNormal = o == "?sync=normal";
      path.resize(path.size() - o.size());
    }
  }
  return std::make_unique<TSqliteStore>(path, syncNormal);
}
