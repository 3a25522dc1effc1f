// Waits that end: a connection the peer never completes, a reply that never ends and a
// name server that never answers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "testsupport/loopback_server.h"
#include <ormix/web/http.h>
#include <ormix/web/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

#define REQUIRE_STALLED(listener) \
  if (!(listener).Stalled()) GTEST_SKIP() << "this system completes every loopback connection"

TEST(ConnectTimeout, GivesUpOnAListenerThatNeverCompletes) {
  TLoopbackServer listener(TLoopbackServer::TStalled{});
  REQUIRE_STALLED(listener);
  struct Case {
    int timeoutMillis;
    double atMost;  // seconds, with room for a busy machine
  } cases[] = {{300, 2.5}, {TSocket::DefaultConnectTimeoutMillis, 7.5}};
  for (const Case& c : cases) {
    auto s = TSocket::CreateTCP();
    if (c.timeoutMillis != TSocket::DefaultConnectTimeoutMillis) s->SetConnectTimeout(c.timeoutMillis);
    const auto start = Clock::now();
    EXPECT_EQ(s->Connect(0x7F000001, listener.Port()), 0);
    const double took = SecondsSince(start);
    EXPECT_EQ(s->TimedOut(), 1);
    EXPECT_GE(took, c.timeoutMillis / 1000.0 * 0.9);
    EXPECT_LE(took, c.atMost) << "timeout " << c.timeoutMillis;
  }
}

TEST(ConnectTimeout, HttpOpenAndStreamFactoryEndWithinTheConnectTime) {
  TLoopbackServer listener(TLoopbackServer::TStalled{});
  REQUIRE_STALLED(listener);
  InitWebModule();
  Thttp http;
  http.connectTimeoutMillis = 400;
  auto start = Clock::now();
  EXPECT_EQ(http.Open(u"127.0.0.1", 0, listener.Port()), 0);
  EXPECT_LE(SecondsSince(start), 3.0);
  // The tcp:: factory uses the default connect time-out.
  start = Clock::now();
  EXPECT_EQ(OpenForReading(u"tcp::127.0.0.1:" + IntToText(listener.Port())), nullptr);
  EXPECT_LE(SecondsSince(start), 7.5);
}

// A connection that completes normally still works after the bounded connect, and a
// socket that connected stays blocking for its reads.
TEST(ConnectTimeout, CompletedConnectionsBehaveAsBefore) {
  auto server = TSocket::CreateTCP();
  ASSERT_EQ(server->Bind(0), 1);
  ASSERT_EQ(server->Listen(4), 1);
  auto client = TSocket::CreateTCP();
  client->SetConnectTimeout(1000);
  ASSERT_EQ(client->Connect(0x7F000001, server->LocalPort()), 1);
  EXPECT_EQ(client->TimedOut(), 0);
  auto peer = server->Accept(2000);
  ASSERT_TRUE(peer);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer->Send("ok", 2, 0);
  });
  char buf[2] = {};
  EXPECT_EQ(client->Recv(buf, 2, 0), 2);  // waited for the data instead of failing at once
  writer.join();
  EXPECT_EQ(std::string(buf, 2), "ok");
}

// A server that accepts and then sends a byte now and then, for ever: the request ends at
// the overall limit even though no single wait reaches the reply time-out.
TEST(ConnectTimeout, AReplyThatNeverEndsIsCutAtTheTotalTime) {
  auto server = TSocket::CreateTCP();
  ASSERT_EQ(server->Bind(0), 1);
  ASSERT_EQ(server->Listen(4), 1);
  std::atomic<bool> stop{false};
  std::thread drip([&] {
    auto peer = server->Accept(5000);
    if (!peer) return;
    while (!stop && peer->Send("x", 1, 0) == 1) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  Thttp http;
  http.timeoutMillis = 1000;
  http.totalTimeoutMillis = 1200;
  const auto start = Clock::now();
  ASSERT_EQ(http.Open(u"127.0.0.1", 0, server->LocalPort()), 1);
  const Text reply = http.Get(u"index");
  const double took = SecondsSince(start);
  stop = true;
  http.Close();
  drip.join();
  EXPECT_GE(took, 1.0);
  EXPECT_LE(took, 4.0);
  EXPECT_FALSE(reply.empty());
}

TEST(LookupTimeout, NumericAddressesNeedNoLookup) {
  EXPECT_EQ(ResolveHost(u"127.0.0.1", 0, 0), 0x7F000001);
  EXPECT_EQ(ResolveHostAddresses(u"10.1.2.3", 0), std::vector<int32_t>{0x0A010203});
}

// Outcomes of the stalled name server check, as the child's exit code.
enum TStallOutcome { STALL_GAVE_UP = 0, STALL_WAITED = 1, STALL_ANSWERED = 2, STALL_NO_NAMESPACE = 10,
                     STALL_NO_SERVER = 11, STALL_NO_QUERY = 12 };

// In a child with its own view of the files: /etc/resolv.conf names a name server on a
// loopback address that takes every query and never answers; a look-up limited to 2 s
// must give up in about that time.
int StalledNameServerChild() {
  if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return STALL_NO_NAMESPACE;
  // Nothing mounted here may reach the rest of the system.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return STALL_NO_NAMESPACE;
  const int server = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(53);
  inet_pton(AF_INET, "127.77.0.1", &at.sin_addr);
  if (server < 0 || bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return STALL_NO_SERVER;
  char conf[] = "/tmp/ormix-resolv-XXXXXX";
  const int fd = mkstemp(conf);
  if (fd < 0) return STALL_NO_NAMESPACE;
  const std::string text = "nameserver 127.77.0.1\noptions timeout:30 attempts:1\n";
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  const bool bound = written && mount(conf, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
  unlink(conf);
  if (!bound) return STALL_NO_NAMESPACE;

  const auto start = Clock::now();
  const std::vector<int32_t> found = ResolveHostAddresses(u"scores.zingle.test", 2000);
  const double took = SecondsSince(start);
  char query[512];
  const bool asked = recv(server, query, sizeof query, MSG_DONTWAIT) > 0;
  if (!found.empty()) return STALL_ANSWERED;
  if (!asked) return STALL_NO_QUERY;  // the resolver never asked: nothing was stalled
  return took >= 1.5 && took <= 3.5 ? STALL_GAVE_UP : STALL_WAITED;
}

TEST(LookupTimeout, AStalledNameServerIsGivenUpOn) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(StalledNameServerChild());  // the look-up thread is left behind
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  switch (WEXITSTATUS(status)) {
    case STALL_NO_NAMESPACE: GTEST_SKIP() << "no private mount namespace to name a stalled server in";
    case STALL_NO_SERVER: GTEST_SKIP() << "cannot listen on port 53 of a loopback address";
    case STALL_NO_QUERY: GTEST_SKIP() << "the resolver does not ask a name server for this name";
    default: break;
  }
  EXPECT_EQ(WEXITSTATUS(status), STALL_GAVE_UP) << "1: did not give up within 1.5-3.5 s; 2: got an answer";
}

}  // namespace
