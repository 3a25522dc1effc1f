// Load on the real zingle-scores over loopback: 8 clients, 20,000 exchanges of game 20,
// then every stored row is checked against what was sent. Prints exchanges per second and
// the latency percentiles for each store: SQLite synchronised to the disk at every commit
// (the default), SQLite with ?sync=normal, and PostgreSQL when a server can be started.
//   build/benchmarks/scores_bench [--exchanges N] [--clients N] [--players N]
#include <cstdio>
#include <cstring>
#include <map>

#include "scores/store.h"
#include "scores/tests/scores_harness.h"

using namespace scores_test;

namespace {

struct TBenchOptions {
  int exchanges = 20000;
  int clients = 8;
  int players = 2000;
};

// False when a row is missing or differs (the reason printed).
bool RunStore(const std::string& label, const std::string& url, const std::string& folder, const TBenchOptions& o) {
  TScoresProcess server;
  if (!server.Start(folder + "/" + label + ".log", {"--db", url})) {
    std::printf("%s: %s\n", label.c_str(), server.error.c_str());
    return false;
  }
  // Each player sends exchanges/players records with scores in no order; the best counts.
  std::vector<TLoadRecord> records;
  std::map<std::string, int64_t> best;
  for (int i = 0; i < o.exchanges; ++i) {
    const int64_t player = i % o.players + 1;
    TLoadRecord r{"P" + std::to_string(player), player, (static_cast<int64_t>(i) * 7919) % 1000003};
    best[r.name] = std::max(best.count(r.name) ? best[r.name] : 0, r.score);
    records.push_back(r);
  }
  TLoadResult load = RunLoad(server.port, records, o.clients);
  server.Stop();
  std::map<std::string, int64_t> stored;
  for (const TScoreRow& row : OpenStore(url)->Table(20, o.players * 2)) stored[row.name] = row.score;
  int wrong = 0;
  for (const auto& [name, score] : best) wrong += !stored.count(name) || stored[name] != score;
  const int lost = o.exchanges - load.Answered();
  std::printf("%-18s %d exchanges, %d clients: %.0f exchanges/s, latency p50 %.2f ms, p99 %.2f ms; "
              "%zu rows checked, %d wrong, %d exchanges not answered 200\n",
              label.c_str(), o.exchanges, o.clients, load.Answered() / load.seconds, load.Percentile(50),
              load.Percentile(99), best.size(), wrong + static_cast<int>(stored.size() - best.size()), lost);
  std::fflush(stdout);
  return wrong == 0 && lost == 0 && stored.size() == best.size();
}

}  // namespace

int main(int argc, char** argv) {
  TBenchOptions o;
  const char* usage =
      "usage: scores_bench [--exchanges N] [--clients N] [--players N]\n"
      "Starts zingle-scores on SQLite (synchronised and ?sync=normal) and PostgreSQL and sends\n"
      "N exchanges from parallel clients, then prints exchanges per second and checks the rows.\n";
  for (int i = 1; i < argc; i += 2) {
    const bool known = !std::strcmp(argv[i], "--exchanges") || !std::strcmp(argv[i], "--clients") ||
                       !std::strcmp(argv[i], "--players");
    if (!known || i + 1 >= argc) {
      const bool help = !std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h");
      std::fputs(usage, help ? stdout : stderr);
      return help ? 0 : 1;
    }
    int v = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--exchanges")) o.exchanges = v;
    else if (!std::strcmp(argv[i], "--clients")) o.clients = v;
    else o.players = v;
  }
  if (o.exchanges <= 0 || o.clients <= 0 || o.players <= 0) {
    std::fputs(usage, stderr);
    return 1;
  }
  TTempDir folder;
  bool ok = RunStore("sqlite", "sqlite:" + folder.path + "/scores.db", folder.path, o);
  ok = RunStore("sqlite?sync=normal", "sqlite:" + folder.path + "/normal.db?sync=normal", folder.path, o) && ok;
  TPostgresServer& pg = TPostgresServer::Shared();
  if (pg.running)
    ok = RunStore("postgresql", pg.NewDatabase(), folder.path, o) && ok;
  else
    std::printf("postgresql skipped: %s\n", pg.reason.c_str());
  return ok ? 0 : 1;
}
