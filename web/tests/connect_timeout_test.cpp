// Waits that end: a connection the peer never completes, and a reply that never ends.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "stalled_listener.h"
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
  TStalledListener listener;
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
  TStalledListener listener;
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

}  // namespace
