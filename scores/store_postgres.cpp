// The PostgreSQL back end: several service instances may share one database. Each batch of
// exchanges is one transaction; a lost connection is opened again for the next attempt.
#include <pqxx/pqxx>

#include "store.h"

namespace {

// Schema steps; the table schema_version holds how many were applied. New steps are
// appended. An advisory lock keeps instances starting together from racing.
const char* const kSchemaSteps[] = {
    "CREATE SEQUENCE score_order;"
    "CREATE TABLE scores ("
    " game bigint NOT NULL, player bigint NOT NULL, name text NOT NULL, score bigint NOT NULL,"
    " achieved bigint NOT NULL DEFAULT nextval('score_order'), PRIMARY KEY (game, player));"
    "CREATE INDEX scores_rank ON scores (game, score DESC, achieved);",
};
constexpr int64_t SCHEMA_LOCK = 0x5A696E676C65;  // any number the instances agree on
constexpr int ATTEMPTS = 3;
// How long one statement may run (or wait for a lock) before it is cancelled.
constexpr int STATEMENT_TIMEOUT_MILLIS = 3000;

// Database messages span lines; the log and the terminal get one.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  size_t p;
  while ((p = text.find("  ")) != std::string::npos) text.erase(p, 1);
  return text;
}

class TPostgresStore : public TScoreStore {
public:
  explicit TPostgresStore(const std::string& url) : _url(url) {
    try {
      Connect();
      Upgrade();
    } catch (const pqxx::failure& e) {
      throw TStoreError("cannot open " + Redacted() + ": " + OneLine(e.what()));
    }
  }

  void Submit(const std::vector<TScoreRecord>& records) override {
    Retry([&] {
      pqxx::work w(*_conn);
      for (const TScoreRecord& r : records)
        w.exec_prepared("upsert", r.game, r.player, r.name, r.score);
      w.commit();
    });
  }

  std::vector<TScoreRow> Table(int64_t game, int limit) override {
    std::vector<TScoreRow> rows;
    Retry([&] {
      rows.clear();
      pqxx::read_transaction t(*_conn);
      for (const auto& row : t.exec_prepared("table", game, limit))
        rows.push_back({row[0].as<std::string>(), row[1].as<int64_t>()});
    });
    return rows;
  }

  std::vector<int64_t> Games(int64_t after, int limit) override {
    std::vector<int64_t> games;
    Retry([&] {
      games.clear();
      pqxx::read_transaction t(*_conn);
      for (const auto& row : t.exec_prepared("games", after, limit)) games.push_back(row[0].as<int64_t>());
    });
    return games;
  }

private:
  std::string _url;
  std::unique_ptr<pqxx::connection> _conn;

  std::string Redacted() const { return RedactedUrl(_url); }

  void Connect() {
    _conn.reset();
    _conn = std::make_unique<pqxx::connection>(_url);
    {
      // A statement waiting behind another connection's lock gives up after this time and
      // the request is answered 503, instead of waiting for ever.
      pqxx::nontransaction n(*_conn);
      n.exec("SET statement_timeout = " + std::to_string(STATEMENT_TIMEOUT_MILLIS));
    }
    _conn->prepare("upsert",
        "INSERT INTO scores (game, player, name, score) VALUES ($1, $2, $3, $4) "
        "ON CONFLICT (game, player) DO UPDATE SET name = excluded.name,"
        " achieved = CASE WHEN excluded.score > scores.score THEN excluded.achieved"
        " ELSE scores.achieved END,"
        " score = GREATEST(scores.score, excluded.score)");
    _conn->prepare("table",
        "SELECT name, score FROM scores WHERE game = $1 ORDER BY score DESC, achieved LIMIT $2");
    _conn->prepare("games", "SELECT DISTINCT game FROM scores WHERE game > $1 ORDER BY game LIMIT $2");
  }

  void Upgrade() {
    pqxx::work w(*_conn);
    w.exec("SELECT pg_advisory_xact_lock(" + std::to_string(SCHEMA_LOCK) + ")");
    w.exec("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)");
    pqxx::result r = w.exec("SELECT version FROM schema_version");
    int version = r.empty() ? 0 : r[0][0].as<int>();
    const int steps = static_cast<int>(std::size(kSchemaSteps));
    if (version > steps)
      throw TStoreError("cannot open " + Redacted() + ": the database holds a newer schema (version " +
                        std::to_string(version) + ") than this program knows");
    for (; version < steps; ++version) w.exec(kSchemaSteps[version]);
    w.exec("DELETE FROM schema_version");
    w.exec("INSERT INTO schema_version VALUES (" + std::to_string(steps) + ")");
    w.commit();
  }

  // Runs a unit of work again after a lost connection or a deadlock between instances.
  template <typename Work>
  void Retry(Work work) {
    for (int attempt = 1;; ++attempt) {
      try {
        if (!_conn || !_conn->is_open()) Connect();
        work();
        return;
      } catch (const pqxx::broken_connection& e) {
        _conn.reset();
        if (attempt >= ATTEMPTS) throw TStoreError("PostgreSQL: " + OneLine(e.what()));
      } catch (const pqxx::sql_error& e) {
        const std::string state = e.sqlstate();
        if ((state != "40P01" && state != "40001") || attempt >= ATTEMPTS)
          throw TStoreError("PostgreSQL: " + OneLine(e.what()));
      } catch (const pqxx::failure& e) {
        _conn.reset();
        if (attempt >= ATTEMPTS) throw TStoreError("PostgreSQL: " + OneLine(e.what()));
      }
    }
  }
};

}  // namespace

std::unique_ptr<TScoreStore> OpenPostgresStore(const std::string& url) {
  return std::make_unique<TPostgresStore>(url);
}
