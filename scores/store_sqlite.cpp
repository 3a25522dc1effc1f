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

class TStatement {
public:
  TStatement(sqlite3* db, const char* sql) : _db(db) {
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &_stmt, nullptr) != SQLITE_OK)
      throw TStoreError(std::string("SQLite: ") + sqlite3_errmsg(db));
  }
  ~TStatement() { sqlite3_finalize(_stmt); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  // Ends the statement's current run (and the read it holds) when the scope ends.
  struct Done {
    TStatement& s;
    ~Done() { sqlite3_reset(s._stmt); }
  };
  Done Use() { return Done{*this}; }

  TStatement& Reset() {
    sqlite3_reset(_stmt);
    sqlite3_clear_bindings(_stmt);
    return *this;
  }
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
    throw TStoreError(std::string("SQLite: ") + sqlite3_errmsg(_db));
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
      sqlite3_busy_timeout(_db, 5000);
      Exec(syncNormal ? "PRAGMA synchronous = NORMAL" : "PRAGMA synchronous = FULL");
      // After a checkpoint the log file is cut back to this size instead of keeping its
      // largest size.
      Exec("PRAGMA journal_size_limit = 4194304");
      if (Text("PRAGMA journal_mode = WAL") != "wal")
        throw TStoreError("cannot open sqlite:" + path + ": WAL journal mode is not available");
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
      _games = std::make_unique<TStatement>(_db, "SELECT DISTINCT game FROM scores WHERE game > ?1 ORDER BY game LIMIT ?2");
    } catch (const TStoreError& e) {
      Close();
      std::string what = e.what();
      if (what.rfind("cannot open", 0) == 0) throw;
      throw TStoreError("cannot open sqlite:" + path + ": " + what);
    }
  }
  ~TSqliteStore() override { Close(); }

  // Every statement is reset when its use ends, so the connection never keeps a read open
  // between exchanges: another process's writes are seen at once, BEGIN IMMEDIATE is not
  // refused for an old snapshot, and automatic checkpoints can empty the write-ahead log.
  void Submit(const std::vector<TScoreRecord>& records) override {
    // A writer elsewhere holds the lock longer than the busy time-out: try a few times.
    for (int attempt = 1;; ++attempt) {
      try {
        SubmitOnce(records);
        return;
      } catch (const TStoreError&) {
        const int rc = sqlite3_extended_errcode(_db);
        if (attempt >= 3 || (rc & 0xFF) != SQLITE_BUSY) throw;
      }
    }
  }

  std::vector<TScoreRow> Table(int64_t game, int limit) override {
    std::vector<TScoreRow> rows;
    auto done = _table->Use();
    _table->Reset().Bind(1, game).Bind(2, static_cast<int64_t>(limit));
    while (_table->Step()) rows.push_back({_table->String(0), _table->Int(1)});
    return rows;
  }

  std::vector<int64_t> Games(int64_t after, int limit) override {
    std::vector<int64_t> games;
    auto done = _games->Use();
    _games->Reset().Bind(1, after).Bind(2, static_cast<int64_t>(limit));
    while (_games->Step()) games.push_back(_games->Int(0));
    return games;
  }

private:
  sqlite3* _db = nullptr;
  std::unique_ptr<TStatement> _upsert, _nextOrder, _setOrder, _table, _games;

  void SubmitOnce(const std::vector<TScoreRecord>& records) {
    try {
      Exec("BEGIN IMMEDIATE");
      int64_t order = 1;
      {
        auto done = _nextOrder->Use();
        _nextOrder->Reset();
        if (_nextOrder->Step()) order = _nextOrder->Int(0);
      }
      for (const TScoreRecord& r : records) {
        auto done = _upsert->Use();
        _upsert->Reset().Bind(1, r.game).Bind(2, r.player).Bind(3, r.name).Bind(4, r.score)
            .Bind(5, order++);
        _upsert->Step();
      }
      {
        auto done = _setOrder->Use();
        _setOrder->Reset().Bind(1, order).Step();
      }
      Exec("COMMIT");
    } catch (...) {
      if (!sqlite3_get_autocommit(_db)) sqlite3_exec(_db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

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
    if (sqlite3_exec(_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::string why = error ? error : sqlite3_errmsg(_db);
      sqlite3_free(error);
      throw TStoreError("SQLite: " + why);
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
