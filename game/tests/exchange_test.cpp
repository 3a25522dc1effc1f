#include "game/exchange.h"

#include <gtest/gtest.h>

#include <chrono>

#include <ormix/runtime/scramble.h>
#include "game/settings.h"
#include "testsupport/loopback_server.h"
#include <ormix/stream/stream.h>
#include <ormix/web/socket.h>

namespace {

TEST(ScoreServer, ParsesHostAndPort) {
  struct Case {
    const char16_t* address;
    const char16_t* host;
    int port;
  } cases[] = {
      {u"", u"localhost", 80},           {u"scores.example", u"scores.example", 80},
      {u"127.0.0.1:8080", u"127.0.0.1", 8080}, {u" host:81 ", u"host", 81},
      {u"host:0", u"host", 80},          {u"host:99999", u"host", 80},
      {u":8000", u"localhost", 8000},
  };
  for (const Case& c : cases) {
    TScoreServer s = ParseScoreServer(c.address);
    EXPECT_EQ(s.host, c.host) << ToUtf8(c.address);
    EXPECT_EQ(s.port, c.port) << ToUtf8(c.address);
  }
}

// The payload is what GetField over the reply's lines gives, found in one pass.
Text PayloadByFields(const Text& reply) {
  Text payload;
  for (int index = 0;; ++index) {
    Text field = GetField(reply, u"\n", index, 0);
    if (field == u"-+-") return payload;
    payload = field;
  }
}

TEST(ReplyPayload, LineBeforeTheFirstMarkerOrTheLastLine) {
  struct Case {
    const char16_t* reply;
    const char16_t* payload;
  } cases[] = {
      {u"HTTP/1.0 200 OK\nX: 1\n\nABCD\n-+-\nmore\n-+-\nEF", u"ABCD"},
      {u"HTTP/1.0 200 OK\n\nABCD\nlast", u"last"},
      {u"", u""},
      {u"only", u"only"},
      {u"-+-", u""},
      {u"\n\n  A\nB  \n\n", u"B"},
      {u"A\n\n-+-", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplyPayload(c.reply), c.payload) << ToUtf8(c.reply);
    EXPECT_EQ(ReplyPayload(c.reply), PayloadByFields(c.reply)) << ToUtf8(c.reply);
  }
}

class Exchange : public ::testing::Test {
protected:
  void SetUp() override {
    InitStreamModule();
    InitWebModule();
  }
};

TEST_F(Exchange, SendsTheScrambledRecordAndReadsTheTable) {
  const Text table = u"Ann|300|Bob|120";
  std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" +
                      ToUtf8(Scramble(table, ExchangeKey, EXCHANGE_PASSES)) +
                      "\r\n-+-\r\ntrailing text\r\n";
  TLoopbackServer server(TLoopbackServer::Answer(reply));
  TScoreServer where;
  where.host = u"127.0.0.1";
  where.port = server.Port();
  EXPECT_EQ(ExchangeScores(u"Zed|4242|77", where), table);

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& r = requests[0];
  const std::string prefix = "GET /kwscoreme.php?gameid=20&info=";
  ASSERT_EQ(r.compare(0, prefix.size(), prefix), 0) << r;
  size_t end = r.find(" HTTP/1.0\nHost: 127.0.0.1\nUser-Agent: VandaThttp/1.0\n\n\r\n");
  ASSERT_NE(end, std::string::npos) << r;
  Text info = ToText(r.substr(prefix.size(), end - prefix.size()));
  EXPECT_EQ(Unscramble(info, ExchangeKey, EXCHANGE_PASSES), u"Zed|4242|77");
}

TEST_F(Exchange, FailuresGiveAnEmptyTable) {
  TScoreServer where;
  where.host = u"127.0.0.1";
  where.timeoutMillis = 300;
  {
    // Nobody listens on the port any more.
    int port;
    {
      TLoopbackServer gone(TLoopbackServer::Answer(""));
      port = gone.Port();
    }
    where.port = port;
    EXPECT_EQ(ExchangeScores(u"A|1|2", where), u"");
  }
  {
    TLoopbackServer garbage(TLoopbackServer::Answer("HTTP/1.0 200 OK\r\n\r\nnot a table\r\n-+-\r\n"));
    where.port = garbage.Port();
    EXPECT_EQ(ExchangeScores(u"A|1|2", where), u"");
  }
  {
    TLoopbackServer silent(TLoopbackServer::Hold());
    where.port = silent.Port();
    EXPECT_EQ(ExchangeScores(u"A|1|2", where), u"");
    EXPECT_EQ(silent.Requests().size(), 1u);
  }
}

// A server whose connection never completes (its queue is full) ends the exchange at the
// connect time-out, with the game's own settings, instead of the system's retry time.
TEST_F(Exchange, AServerThatNeverAnswersTheConnectionEndsItWithinTheConnectTime) {
  TLoopbackServer listener(TLoopbackServer::TStalled{});
  if (!listener.Stalled()) GTEST_SKIP() << "this system completes every loopback connection";
  TScoreServer where;
  where.host = u"127.0.0.1";
  where.port = listener.Port();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ExchangeScoresResponsively(u"A|1|2", where), u"");
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(took, where.connectTimeoutMillis / 1000.0 * 0.9);
  EXPECT_LE(took, where.connectTimeoutMillis / 1000.0 + 2.5);
}

}  // namespace
