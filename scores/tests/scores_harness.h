#pragma once
// Test harness of the score service: the real zingle-scores program started on a free
// port, a real PostgreSQL server in a temporary folder, a raw HTTP client over loopback
// and a load of concurrent exchanges. Shared by the tests and the benchmark.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <ormix/runtime/scramble.h>
#include <ormix/runtime/text.h>

namespace scores_test {

using Clock = std::chrono::steady_clock;

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh folder under the temporary directory, removed with the object.
class TTempDir {
public:
  TTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zingle-scores-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) path = buf.data();
  }
  ~TTempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

// --- HTTP over loopback ---

struct TReply {
  int status = 0;  // 0: no answer
  std::string raw, body;
};

// Sends bytes (optionally shutting down the sending side) and reads until the server
// closes or the time runs out.
inline TReply SendRaw(int port, const std::string& bytes, bool halfClose = false, int timeoutMillis = 10000) {
  TReply reply;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return reply;
  }
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  if (halfClose) ::shutdown(fd, SHUT_WR);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMillis);
  char buf[4096];
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (::poll(&p, 1, left < 0 ? 0 : left) <= 0) break;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    reply.raw.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (reply.raw.rfind("HTTP/1.", 0) == 0 && reply.raw.size() > 12) reply.status = std::atoi(reply.raw.c_str() + 9);
  size_t body = reply.raw.find("\r\n\r\n");
  if (body != std::string::npos) reply.body = reply.raw.substr(body + 4);
  return reply;
}

// A GET as the game sends it (bare line feeds, then the CR LF its line writer adds).
inline TReply Get(int port, const std::string& target) {
  return SendRaw(port, "GET " + target + " HTTP/1.0\nHost: localhost\nUser-Agent: test\n\n\r\n");
}

inline std::string ExchangeTarget(const Text& record, int game = 20) {
  return "/kwscoreme.php?gameid=" + std::to_string(game) + "&info=" +
         ToUtf8(Scramble(record, ExchangeKey, EXCHANGE_PASSES));
}

// The unscrambled table of a 200 answer ("" when the answer is not one).
inline Text ReplyTable(const TReply& reply) {
  if (reply.status != 200) return Text();
  size_t end = reply.body.find("\n-+-\n");
  if (end == std::string::npos) return Text();
  return Unscramble(ToText(reply.body.substr(0, end)), ExchangeKey, EXCHANGE_PASSES);
}

inline std::string Record(const std::string& name, int64_t player, int64_t score) {
  return name + "|" + std::to_string(player) + "|" + std::to_string(score);
}

// --- hostile clients ---

// Connections that hold the server without finishing a request: idle ones send nothing,
// slow ones send the start of a request one byte a second. Each comes from a loopback
// address of its own choosing (127.0.0.x), so that per-address caps can be shown. Closed
// when the crowd goes.
class TCrowd {
public:
  TCrowd(int port) : _port(port) {}
  ~TCrowd() {
    _stop = true;
    if (_drip.joinable()) _drip.join();
    for (int fd : _idle) ::close(fd);
    for (int fd : _slow) ::close(fd);
  }
  TCrowd(const TCrowd&) = delete;
  TCrowd& operator=(const TCrowd&) = delete;

  // Opens count connections from each address in turn ("127.0.0.2"); false when one
  // cannot connect at all.
  bool Open(int count, const std::vector<std::string>& from, bool slow) {
    for (int i = 0; i < count; ++i) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd < 0) return false;
      sockaddr_in local{};
      local.sin_family = AF_INET;
      ::inet_pton(AF_INET, from[static_cast<size_t>(i) % from.size()].c_str(), &local.sin_addr);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(_port));
      if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
          ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return false;
      }
      std::lock_guard<std::mutex> lock(_mutex);
      (slow ? _slow : _idle).push_back(fd);
    }
    if (slow && !_drip.joinable()) _drip = std::thread([this] { Drip(); });
    return true;
  }

  // Connections the server answered with status (after a cap refused them), read without
  // waiting.
  int Answered(int status) {
    std::lock_guard<std::mutex> lock(_mutex);
    int n = 0;
    const std::string head = "HTTP/1.0 " + std::to_string(status) + " ";
    for (const auto* list : {&_idle, &_slow})
      for (int fd : *list) {
        char buf[64];
        ssize_t got = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT | MSG_PEEK);
        n += got >= static_cast<ssize_t>(head.size()) && std::string(buf, head.size()) == head;
      }
    return n;
  }

private:
  int _port;
  std::mutex _mutex;
  std::vector<int> _idle, _slow;
  std::atomic<bool> _stop{false};
  std::thread _drip;

  void Drip() {
    const std::string bytes = "GET /kwscoreme.php?gameid=20&info=" + std::string(200, '0');
    for (size_t i = 0; !_stop; ++i) {
      {
        std::lock_guard<std::mutex> lock(_mutex);
        for (int fd : _slow) ::send(fd, &bytes[i % bytes.size()], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      }
      for (int t = 0; t < 20 && !_stop; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
};

// --- the server program ---

class TScoresProcess {
public:
  std::string error;
  int port = 0;
  pid_t pid = -1;

  ~TScoresProcess() { Kill(); }

  // Starts zingle-scores with the arguments (and --listen 127.0.0.1:0 unless given);
  // waits until it listens, or it ended (exit status in exitStatus).
  bool Start(const std::string& logPath, std::vector<std::string> args) {
    _log = logPath;
    bool hasListen = false;
    for (const auto& a : args) hasListen |= a == "--listen";
    if (!hasListen) {
      args.push_back("--listen");
      args.push_back("127.0.0.1:0");
    }
    const std::string exe = std::string(ORMIX_BINARY_DIR) + "/bin/zingle-scores";
    std::ofstream(_log, std::ios::trunc).close();
    pid = fork();
    if (pid == 0) {
      std::vector<char*> argv{const_cast<char*>(exe.c_str())};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      FILE* f = std::freopen(_log.c_str(), "a", stderr);
      (void)f;
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      std::string log = ReadFile(_log);
      size_t p = log.find("listening on ");
      if (p != std::string::npos && log.find(", ", p) != std::string::npos) {
        size_t colon = log.rfind(':', log.find(", ", p));
        port = std::atoi(log.c_str() + colon + 1);
        return true;
      }
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        error = "zingle-scores ended: " + log;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error = "zingle-scores did not start listening";
    return false;
  }
  // Sends a signal and waits for the end; the exit status (-1 after a signal).
  int Stop(int sig = SIGTERM) {
    if (pid <= 0) return exitStatus;
    ::kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exitStatus;
  }
  void Kill() { Stop(SIGKILL); }
  std::string Log() const { return ReadFile(_log); }
  int exitStatus = -1;

private:
  std::string _log;
};

// Runs zingle-scores to its end (for start-up failures): exit status and standard error.
inline int RunToEnd(const std::vector<std::string>& args, std::string& output, const std::string& logPath) {
  TScoresProcess p;
  if (p.Start(logPath, args)) {
    p.Stop();
    output = p.Log();
    return 0;
  }
  output = ReadFile(logPath);
  return p.exitStatus;
}

// --- a real PostgreSQL server ---

// Started on first use in a temporary folder (unix socket there, no TCP port), as the
// postgres user when run as root; stopped and removed at the end of the process.
class TPostgresServer {
public:
  static TPostgresServer& Shared() {
    static TPostgresServer server;
    return server;
  }
  bool running = false;
  std::string reason;  // why it is not running

  // A URL of a new, empty database ("" when it could not be made).
  std::string NewDatabase() {
    if (!running) return "";
    const std::string name = "scores_" + std::to_string(getpid()) + "_" + std::to_string(++_databases);
    if (std::system((_bin + "/psql -q -h " + _dir + " -p 5432 -U postgres -d postgres -c 'CREATE DATABASE " +
                     name + "' >/dev/null 2>&1").c_str()) != 0)
      return "";
    return Url(name);
  }
  std::string Url(const std::string& database) const {
    return "postgresql:///" + database + "?host=" + _dir + "&port=5432&user=postgres";
  }

  ~TPostgresServer() {
    if (running) Run(_bin + "/pg_ctl -D " + _dir + "/data -m fast -w stop >/dev/null 2>&1");
    std::error_code ec;
    if (!_dir.empty()) std::filesystem::remove_all(_dir, ec);
  }

private:
  std::string _dir, _bin, _asUser;
  int _databases = 0;

  int Run(const std::string& command) const { return std::system((_asUser + command).c_str()); }

  TPostgresServer() {
    for (const char* v : {"15", "16", "17", "14", "13"}) {
      std::string bin = std::string("/usr/lib/postgresql/") + v + "/bin";
      if (std::filesystem::exists(bin + "/initdb")) {
        _bin = bin;
        break;
      }
    }
    if (_bin.empty()) {
      reason = "PostgreSQL's initdb is not installed (Debian package postgresql)";
      return;
    }
    passwd* pg = getpwnam("postgres");
    if (geteuid() == 0) {
      if (!pg) {
        reason = "there is no postgres user";
        return;
      }
      _asUser = "runuser -u postgres -- ";
    } else if (!pg || geteuid() != pg->pw_uid) {
      reason = "PostgreSQL refuses to run as root, and this is neither root (to switch to the postgres "
               "user) nor the postgres user";
      return;
    }
    std::string tmpl = "/tmp/zingle-pg-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
      reason = "cannot make a folder";
      return;
    }
    _dir = buf.data();
    if (geteuid() == 0 && ::chown(_dir.c_str(), pg->pw_uid, pg->pw_gid) != 0) {
      reason = "cannot hand the folder to postgres";
      return;
    }
    if (Run(_bin + "/initdb -D " + _dir + "/data -A trust -U postgres -E UTF8 --locale=C --no-sync >" + _dir +
            "/initdb.log 2>&1") != 0) {
      reason = "initdb failed: " + ReadFile(_dir + "/initdb.log");
      return;
    }
    if (Run(_bin + "/pg_ctl -D " + _dir + "/data -l " + _dir + "/server.log -w -t 60 -o \"-k " + _dir +
            " -c listen_addresses= -p 5432\" start >/dev/null 2>&1") != 0) {
      reason = "the PostgreSQL server did not start: " + ReadFile(_dir + "/server.log");
      return;
    }
    running = true;
  }
};

// Whether a test that lacks PostgreSQL or the browser must fail instead of skipping: a
// continuous-integration run (CI=true) has to run everything.
inline bool RequiredInCi() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

// The database URL of a fresh store for a test: "sqlite", "sqlite_sync_normal" (a file in
// the folder) or "postgresql" (a new database on the shared server); "" and the reason when
// it cannot be had here.
inline std::string TestStoreUrl(const std::string& store, const std::string& folder, std::string& reason) {
  if (store == "sqlite") return "sqlite:" + folder + "/scores.db";
  if (store == "sqlite_sync_normal") return "sqlite:" + folder + "/scores.db?sync=normal";
  TPostgresServer& pg = TPostgresServer::Shared();
  if (!pg.running) {
    reason = "PostgreSQL runs skipped: " + pg.reason;
    return "";
  }
  std::string url = pg.NewDatabase();
  if (url.empty()) reason = "cannot make a PostgreSQL database";
  return url;
}

// --- a load of concurrent exchanges ---

struct TLoadRecord {
  std::string name;
  int64_t player = 0;
  int64_t score = 0;
};

struct TLoadResult {
  std::vector<char> answered;       // per exchange: answered 200 with a table
  std::vector<double> latencyMillis;  // of the answered exchanges
  double seconds = 0;
  int Answered() const {
    int n = 0;
    for (char a : answered) n += a;
    return n;
  }
  double Percentile(double p) const {
    if (latencyMillis.empty()) return 0;
    std::vector<double> v = latencyMillis;
    size_t k = std::min(v.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
  }
};

// Sends the records as exchanges of game 20 from `clients` threads at once, each taking
// the next record in turn, until all are sent or `stop` is set.
inline TLoadResult RunLoad(int port, const std::vector<TLoadRecord>& records, int clients,
                           const std::atomic<bool>* stop = nullptr) {
  std::vector<std::string> requests;
  requests.reserve(records.size());
  for (const TLoadRecord& r : records)
    requests.push_back("GET " + ExchangeTarget(ToText(Record(r.name, r.player, r.score))) +
                       " HTTP/1.0\nHost: localhost\nUser-Agent: load\n\n\r\n");
  TLoadResult result;
  result.answered.assign(records.size(), 0);
  std::vector<double> latency(records.size(), -1);
  std::atomic<size_t> next{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&] {
      while (!(stop && *stop)) {
        size_t i = next++;
        if (i >= requests.size()) return;
        const auto t0 = Clock::now();
        TReply reply = SendRaw(port, requests[i]);
        if (reply.status == 200 && !ReplyTable(reply).empty()) {
          result.answered[i] = 1;
          latency[i] = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        }
      }
    });
  for (auto& t : threads) t.join();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (double l : latency)
    if (l >= 0) result.latencyMillis.push_back(l);
  return result;
}

}  // namespace scores_test
