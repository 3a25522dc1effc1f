// The stores beside other users of their database: another process's writes are seen and
// never jam SQLite, its write-ahead log stays small, and PostgreSQL gives up behind a lock.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <pqxx/pqxx>

#include "testsupport/skip_or_fail.h"

#include "scores/store.h"
#include "scores/tests/scores_harness.h"

namespace {

using scores_test::TTempDir;

std::vector<TScoreRecord> One(int64_t player, const std::string& name, int64_t score) {
  return {TScoreRecord{20, player, name, score}};
}

// Runs SQL on the file through a connection of its own, as the sqlite3 tool would.
void OtherWriter(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 2000);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

}  // namespace

TEST(SqliteStore, AnotherWriterIsSeenAndDoesNotJamIt) {
  TTempDir dir;
  const std::string path = dir.path + "/scores.db";
  auto store = OpenStore("sqlite:" + path);
  store->Submit(One(1, "Ann", 50));
  ASSERT_EQ(store->Table(20, 21).size(), 1u);
  OtherWriter(path, "UPDATE scores SET name = 'X'");
  // The table shows the other writer's change, and the next exchanges still commit.
  ASSERT_EQ(store->Table(20, 21).at(0).name, "X");
  for (int i = 2; i < 5; ++i) EXPECT_NO_THROW(store->Submit(One(i, "Bo", 10 * i)));
  EXPECT_EQ(store->Table(20, 21).size(), 4u);
  EXPECT_EQ(store->Games(0, 100), std::vector<int64_t>{20});
  OtherWriter(path, "INSERT INTO scores VALUES (21, 9, 'Cy', 7, 999)");
  EXPECT_EQ(store->Games(0, 100), (std::vector<int64_t>{20, 21}));
  EXPECT_NO_THROW(store->Submit(One(1, "Ann", 60)));
}

TEST(SqliteStore, WriteAheadLogStaysBounded) {
  TTempDir dir;
  const std::string path = dir.path + "/scores.db";
  auto store = OpenStore("sqlite:" + path + "?sync=normal");
  // Each exchange changes a few pages; without checkpoints the log would pass 40 MB.
  for (int i = 0; i < 3000; ++i) {
    store->Submit(One(1 + i % 500, "P" + std::to_string(i % 500), i));
    if (i % 100 == 0) store->Table(20, 21);
  }
  const auto wal = std::filesystem::file_size(path + "-wal");
  EXPECT_LT(wal, 8u << 20) << "the write-ahead log is " << wal << " bytes";
  // A copy taken while the store is open (the sqlite3 tool's .backup uses the same
  // online backup) holds every player.
  sqlite3 *from = nullptr, *to = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &from), SQLITE_OK);
  ASSERT_EQ(sqlite3_open((dir.path + "/copy.db").c_str(), &to), SQLITE_OK);
  sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(sqlite3_backup_step(b, -1), SQLITE_DONE);
  sqlite3_backup_finish(b);
  sqlite3_close(from);
  sqlite3_close(to);
  auto copy = OpenStore("sqlite:" + dir.path + "/copy.db");
  EXPECT_EQ(copy->Table(20, 1000).size(), 500u);
}

// PostgreSQL: a request waiting behind another connection's lock gives up after the
// statement time-out (a few seconds) instead of waiting for ever.
TEST(PostgresStore, GivesUpBehindALockAfterTheStatementTimeout) {
  std::string reason;
  const std::string url = scores_test::TestStoreUrl("postgresql", "", reason);
  if (url.empty()) ORMIX_SKIP_OR_FAIL() << reason;
  auto store = OpenStore(url);
  store->Submit(One(1, "Ann", 5));
  pqxx::connection other(url);
  pqxx::work lock(other);
  lock.exec("LOCK TABLE scores IN ACCESS EXCLUSIVE MODE");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(store->Table(20, 21), TStoreError);
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(waited, 10.0);
  lock.abort();
  EXPECT_EQ(store->Table(20, 21).size(), 1u);
}
