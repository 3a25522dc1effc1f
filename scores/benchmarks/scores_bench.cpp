// Load on the real zingle-scores over loopback: 8 clients, 20,000 exchanges of game 20,
// then every stored row is checked against what was sent. Prints exchanges per second and
// the latency percentiles for each store: SQLite synchronised to the disk at every commit
// (the default), SQLite with ?sync=normal, and PostgreSQL when a server can be started.
// With --attack, SQLite only: the latency of one legitimate client's exchanges while 0,
// 64, 200 and 1,000 idle and one-byte-a-second connections are held open.
//   build/benchmarks/scores_bench [--exchanges N] [--clients N] [--players N] [--attack]
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
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
  std::string wal;
  if (url.rfind("sqlite:", 0) == 0) {
    std::string path = url.substr(7, url.find('?') == std::string::npos ? std::string::npos : url.find('?') - 7);
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path + "-wal", error);
    char text[64];
    std::snprintf(text, sizeof text, "; write-ahead log %.2f MB", error ? 0.0 : static_cast<double>(bytes) / 1e6);
    wal = text;
  }
  server.Stop();
  std::map<std::string, int64_t> stored;
  for (const TScoreRow& row : OpenStore(url)->Table(20, o.players * 2)) stored[row.name] = row.score;
  int wrong = 0;
  for (const auto& [name, score] : best) wrong += !stored.count(name) || stored[name] != score;
  const int lost = o.exchanges - load.Answered();
  std::printf("%-18s %d exchanges, %d clients: %.0f exchanges/s, latency p50 %.2f ms, p99 %.2f ms; "
              "%zu rows checked, %d wrong, %d exchanges not answered 200%s\n",
              label.c_str(), o.exchanges, o.clients, load.Answered() / load.seconds, load.Percentile(50),
              load.Percentile(99), best.size(), wrong + static_cast<int>(stored.size() - best.size()), lost,
              wal.c_str());
  std::fflush(stdout);
  return wrong == 0 && lost == 0 && stored.size() == best.size();
}

// One client's exchanges, one after another, while crowds of idle and one-byte-a-second
// connections (half each, spread over 16 loopback addresses) are held open.
bool RunAttack(const std::string& folder) {
  TScoresProcess server;
  // The crowd is kept open for the whole measurement (a long request time-out), the worst
  // case for the server.
  if (!server.Start(folder + "/attack.log", {"--db", "sqlite:" + folder + "/attack.db", "--request-timeout", "600"})) {
    std::printf("attack: %s\n", server.error.c_str());
    return false;
  }
  std::vector<std::string> from;
  for (int i = 2; i < 18; ++i) from.push_back("127.0.0." + std::to_string(i));
  bool ok = true;
  int player = 0;
  for (int crowdSize : {0, 64, 200, 1000}) {
    // The previous crowd's connections are closed by the server first.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    TCrowd crowd(server.port);
    if (crowdSize > 0 && (!crowd.Open(crowdSize / 2, from, false) || !crowd.Open(crowdSize - crowdSize / 2, from, true))) {
      std::printf("attack: cannot open %d connections\n", crowdSize);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::vector<double> millis;
    int failed = 0;
    for (int i = 0; i < 400; ++i) {
      ++player;
      const auto t0 = Clock::now();
      TReply reply = Get(server.port, ExchangeTarget(ToText(Record("Fair", player, player))));
      millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      failed += reply.status != 200;
    }
    std::sort(millis.begin(), millis.end());
    std::printf("attack, sqlite     %4d slow connections open (%d refused): %zu exchanges, latency p50 %.2f ms, "
                "p99 %.2f ms, %d not answered 200\n",
                crowdSize, crowd.Answered(503), millis.size(), millis[millis.size() / 2],
                millis[millis.size() * 99 / 100], failed);
    std::fflush(stdout);
    ok = ok && failed == 0;
  }
  server.Stop();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  TBenchOptions o;
  const char* usage =
      "usage: scores_bench [--exchanges N] [--clients N] [--players N] [--attack]\n"
      "Starts zingle-scores on SQLite (synchronised and ?sync=normal) and PostgreSQL and sends\n"
      "N exchanges from parallel clients, then prints exchanges per second and checks the rows.\n"
      "--attack measures instead one client's exchanges on SQLite while 0, 64, 200 and 1,000\n"
      "idle and one-byte-a-second connections are open.\n";
  bool attack = false;
  for (int i = 1; i < argc; i += 2) {
    if (!std::strcmp(argv[i], "--attack")) {
      attack = true;
      --i;
      continue;
    }
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
  // The attack holds a thousand connections: use all the descriptors the system allows.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  TTempDir folder;
  if (attack) return RunAttack(folder.path) ? 0 : 1;
  bool ok = RunStore("sqlite", "sqlite:" + folder.path + "/scores.db", folder.path, o);
  ok = RunStore("sqlite?sync=normal", "sqlite:" + folder.path + "/normal.db?sync=normal", folder.path, o) && ok;
  TPostgresServer& pg = TPostgresServer::Shared();
  if (pg.running)
    ok = RunStore("postgresql", pg.NewDatabase(), folder.path, o) && ok;
  else
    std::printf("postgresql skipped: %s\n", pg.reason.c_str());
  return ok ? 0 : 1;
}
