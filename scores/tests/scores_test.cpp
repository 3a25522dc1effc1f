// The score service as a program: zingle-scores on a free loopback port, driven over real
// sockets, on SQLite and on a real PostgreSQL server (the same table-driven suite).
#include <gtest/gtest.h>

#include <map>

#include <ormix/runtime/scramble.h>
#include "scores/store.h"
#include "scores_harness.h"

namespace {

using namespace scores_test;

class ScoreService : public ::testing::TestWithParam<std::string> {
protected:
  TTempDir dir;
  std::string url;

  void SetUp() override {
    ASSERT_FALSE(dir.path.empty());
    std::string reason;
    url = TestStoreUrl(GetParam(), dir.path, reason);
    if (url.empty()) {
      if (RequiredInCi()) FAIL() << reason;
      GTEST_SKIP() << reason;
    }
  }

  std::unique_ptr<TScoresProcess> Start(std::vector<std::string> extra = {}) {
    auto p = std::make_unique<TScoresProcess>();
    extra.insert(extra.begin(), {"--db", url});
    EXPECT_TRUE(p->Start(dir.path + "/server" + std::to_string(++_starts) + ".log", extra)) << p->error;
    return p;
  }

  // Every row of a game straight from the store: name -> score.
  std::map<std::string, int64_t> StoredRows(int64_t game = 20) {
    std::map<std::string, int64_t> rows;
    for (const TScoreRow& r : OpenStore(url)->Table(game, 1000000)) rows[r.name] = r.score;
    return rows;
  }

private:
  int _starts = 0;
};

INSTANTIATE_TEST_SUITE_P(Stores, ScoreService, ::testing::Values("sqlite", "sqlite_sync_normal", "postgresql"),
                         [](const auto& info) { return info.param; });

// Each exchange answers the table of its game after it was stored: the best score per
// game and player id, the latest name, highest first, ties to the earlier score.
TEST_P(ScoreService, ExchangesKeepTheBestScorePerPlayerAndAnswerTheTable) {
  auto server = Start();
  struct TStep {
    std::string record;
    int game;
    Text table;
  } steps[] = {
      {"Ann|1|50", 20, u"Ann|50"},
      {"Bob|2|70", 20, u"Bob|70|Ann|50"},
      {"Annie|1|40", 20, u"Bob|70|Annie|50"},                  // lower: the name follows
      {"Cy|3|50", 20, u"Bob|70|Annie|50|Cy|50"},               // a tie goes to the earlier
      {"Ann|1|50", 20, u"Bob|70|Ann|50|Cy|50"},                // the same again keeps its place
      {"Cy|3|51", 20, u"Bob|70|Cy|51|Ann|50"},
      {"Dee|4|0", 20, u"Bob|70|Cy|51|Ann|50|Dee|0"},
      {"Max|5|4294967295", 20, u"Max|4294967295|Bob|70|Cy|51|Ann|50|Dee|0"},
      {"Gus|1|10", 7, u"Gus|10"},                              // games are kept apart
      {"Bo|b|6|5", 7, u"Gus|10|Bob|5"},                        // "|" leaves the name
      {"A\x01\x1f\x7f" "B|8|5", 7, u"Gus|10|Bob|5|AB|5"},      // and so do control characters
      {"Zo\xe9|9|1", 7, u"Gus|10|Bob|5|AB|5|Zo\u00e9|1"},      // Latin-1 survives
      {"');DROP--|1|5", 8, u"');DROP--|5"},                    // SQL text is only text
      {"' OR 1=1--|2|6", 8, u"' OR 1=1--|6|');DROP--|5"},
      {"x\";--|3|7", 8, u"x\";--|7|' OR 1=1--|6|');DROP--|5"},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.record);
    TReply reply = Get(server->port, ExchangeTarget(Latin1ToText(step.record), step.game));
    ASSERT_EQ(reply.status, 200) << reply.raw;
    EXPECT_EQ(reply.body.substr(reply.body.find('\n')), "\n-+-\n");
    EXPECT_EQ(ToUtf8(ReplyTable(reply)), ToUtf8(step.table));
  }
  // Everything is still there after a restart; SIGTERM ends the program cleanly.
  EXPECT_EQ(server->Stop(SIGTERM), 0);
  const std::string log = server->Log();
  EXPECT_NE(log.find("stopped"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), static_cast<long>(std::size(steps)) + 2) << log;
  server = Start();
  TReply json = Get(server->port, "/api/scores?gameid=8");
  EXPECT_EQ(json.body,
            "{\"gameid\":8,\"scores\":[{\"rank\":1,\"name\":\"x\\\";--\",\"score\":7},"
            "{\"rank\":2,\"name\":\"' OR 1=1--\",\"score\":6},{\"rank\":3,\"name\":\"');DROP--\",\"score\":5}]}\n");
  EXPECT_EQ(ReplyTable(Get(server->port, ExchangeTarget(u"Eve|10|1"))),
            u"Max|4294967295|Bob|70|Cy|51|Ann|50|Eve|1|Dee|0");
  // A name beyond Latin-1 arrives in its marked 8-bit form, is stored as the name it is,
  // and goes back in the table in that form (so the table still unscrambles).
  const Text beetle = u"\u0416\u0443\u043a";
  TReply wide = Get(server->port, ExchangeTarget(EncodeRecordName(beetle) + u"|11|3", 9));
  ASSERT_EQ(wide.status, 200) << wide.raw;
  EXPECT_EQ(ReplyTable(wide), EncodeRecordName(beetle) + u"|3");
  EXPECT_EQ(StoredRows(9), (std::map<std::string, int64_t>{{ToUtf8(beetle), 3}}));
  EXPECT_EQ(server->Stop(SIGINT), 0);
}

TEST_P(ScoreService, TableHoldsTheTwentyOneBest) {
  auto server = Start();
  Text table;
  for (int i = 1; i <= 25; ++i)
    table = ReplyTable(Get(server->port, ExchangeTarget(ToText(Record("P" + std::to_string(i), i, i * 10)))));
  Text expected;
  for (int i = 25; i >= 5; --i) expected += (expected.empty() ? u"P" : u"|P") + IntToText(i) + u"|" + IntToText(i * 10);
  EXPECT_EQ(table, expected);
  EXPECT_EQ(StoredRows().size(), 25u);
}

// Every refusal: the status, a one-line reason, and nothing stored.
TEST_P(ScoreService, RefusesBadInput) {
  auto server = Start();
  Text broken = Scramble(u"Ann|1|5", ExchangeKey, EXCHANGE_PASSES);
  broken[0] = broken[0] == u'0' ? u'1' : u'0';
  ASSERT_EQ(Unscramble(broken, ExchangeKey, EXCHANGE_PASSES), u"");
  auto target = [](const std::string& record) { return ExchangeTarget(Latin1ToText(record)); };
  auto request = [](const std::string& target) { return "GET " + target + " HTTP/1.0\r\nHost: x\r\n\r\n"; };
  struct TCase {
    const char* what;
    std::string bytes;
    int status;
    const char* reason;
    bool halfClose = false;
  } cases[] = {
      {"not hexadecimal", request("/kwscoreme.php?gameid=20&info=XYZ1"), 400, "record does not unscramble"},
      {"odd digits", request("/kwscoreme.php?gameid=20&info=ABC"), 400, "record does not unscramble"},
      {"broken checksum", request("/kwscoreme.php?gameid=20&info=" + ToUtf8(broken)), 400, "record does not unscramble"},
      {"no info", request("/kwscoreme.php?gameid=20"), 400, "info is missing"},
      {"no game", request("/kwscoreme.php?info=" + ToUtf8(Scramble(u"Ann|1|5", ExchangeKey, EXCHANGE_PASSES))), 400, "gameid"},
      {"game 0", request(ExchangeTarget(u"Ann|1|5", 0)), 400, "gameid"},
      {"game 2^63", request("/kwscoreme.php?gameid=9223372036854775808&info=" + ToUtf8(Scramble(u"Ann|1|5", ExchangeKey, EXCHANGE_PASSES))), 400, "gameid"},
      {"game 10^19-1", request("/kwscoreme.php?gameid=9999999999999999999&info=" + ToUtf8(Scramble(u"Ann|1|5", ExchangeKey, EXCHANGE_PASSES))), 400, "gameid"},
      {"two fields", request(target("Ann|5")), 400, "three fields"},
      {"one field", request(target("Ann")), 400, "three fields"},
      {"id 0", request(target("Ann|0|5")), 400, "player id"},
      {"id negative", request(target("Ann|-3|5")), 400, "player id"},
      {"id not a number", request(target("Ann|x1|5")), 400, "player id"},
      {"id empty", request(target("Ann||5")), 400, "player id"},
      {"id too large", request(target("Ann|99999999999999999999|5")), 400, "player id"},
      {"score negative", request(target("Ann|1|-1")), 400, "score"},
      {"score beyond 32 bits", request(target("Ann|1|4294967296")), 400, "score"},
      {"score not a number", request(target("Ann|1|12a")), 400, "score"},
      {"score empty", request(target("Ann|1|")), 400, "score"},
      {"name empty", request(target("|1|5")), 400, "name is empty"},
      {"name only controls and bars", request(target("\x01|\x02||1|5")), 400, "name is empty"},
      {"name only spaces", request(target("   |1|5")), 400, "name is empty"},
      {"name of 11", request(target("ABCDEFGHIJK|1|5")), 400, "longer than 10"},
      {"other path", request("/index.php"), 404, "not found"},
      {"POST", "POST /kwscoreme.php HTTP/1.0\r\nContent-Length: 0\r\n\r\n", 405, "only GET"},
      {"PUT of the page", "PUT / HTTP/1.0\r\nContent-Length: 0\r\n\r\n", 405, "only GET and HEAD"},
      {"HTTP/2.0", "GET / HTTP/2.0\r\n\r\n", 505, "unsupported HTTP version"},
      {"HTTP/1.7", "GET / HTTP/1.7\r\n\r\n", 505, "unsupported HTTP version"},
      {"long request line", request("/kwscoreme.php?gameid=20&info=" + std::string(9000, 'A')), 414, "8 KiB"},
      {"long headers", "GET / HTTP/1.0\r\nX-Pad: " + std::string(9000, 'a') + "\r\n\r\n", 431, "8 KiB"},
      {"malformed request line", "NONSENSE\r\n\r\n", 400, "malformed"},
      {"old protocol", "GET /\r\n\r\n", 400, "malformed"},
      {"truncated", "GET /kwscoreme.php?gameid=20&info=AB", 400, "truncated", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TReply reply = SendRaw(server->port, c.bytes, c.halfClose);
    EXPECT_EQ(reply.status, c.status) << reply.raw;
    EXPECT_NE(reply.body.find(c.reason), std::string::npos) << reply.body;
    EXPECT_EQ(std::count(reply.body.begin(), reply.body.end(), '\n'), 1) << reply.body;
  }
  EXPECT_TRUE(StoredRows().empty());
  // Still serving.
  EXPECT_EQ(ReplyTable(Get(server->port, ExchangeTarget(u"Ann|1|5"))), u"Ann|5");
}

TEST_P(ScoreService, AnswersHeadsHealthChecksAndSaysWhatIsAllowed) {
  auto server = Start();
  Get(server->port, ExchangeTarget(u"Ann|1|5"));
  struct TCase {
    const char* request;
    int status;
    const char* header;  // a header line the answer must have
    bool body;
  } cases[] = {
      {"GET /healthz HTTP/1.0\r\n\r\n", 200, "Content-Length: 3", true},
      {"HEAD / HTTP/1.0\r\n\r\n", 200, "Content-Type: text/html", false},
      {"HEAD /api/scores?gameid=20 HTTP/1.1\r\nHost: x\r\n\r\n", 200, "Content-Type: application/json", false},
      {"DELETE /api/scores HTTP/1.0\r\n\r\n", 405, "Allow: GET, HEAD", true},
      {"POST /kwscoreme.php HTTP/1.0\r\nContent-Length: 0\r\n\r\n", 405, "Allow: GET\r\n", true},
      {"HEAD /kwscoreme.php?gameid=20 HTTP/1.0\r\n\r\n", 405, "Allow: GET\r\n", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.request);
    TReply reply = SendRaw(server->port, c.request);
    EXPECT_EQ(reply.status, c.status) << reply.raw;
    EXPECT_NE(reply.raw.find(c.header), std::string::npos) << reply.raw;
    EXPECT_EQ(reply.body.empty(), !c.body) << reply.raw;
  }
  EXPECT_EQ(SendRaw(server->port, "GET /healthz HTTP/1.0\r\n\r\n").body, "ok\n");
}

TEST_P(ScoreService, LimitsExchangesPerAddressAndMinute) {
  auto server = Start({"--max-per-minute", "3"});
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(Get(server->port, ExchangeTarget(ToText(Record("P" + std::to_string(i), i, i)))).status, 200);
  TReply refused = Get(server->port, ExchangeTarget(u"P|4|4"));
  EXPECT_EQ(refused.status, 429);
  EXPECT_EQ(Get(server->port, "/").status, 200);  // pages are not exchanges
  EXPECT_EQ(StoredRows().size(), 3u);
}

// A client sending one byte a second is dropped after the request time-out, while others
// are answered at once.
TEST_P(ScoreService, DropsASlowClientAndServesOthers) {
  auto server = Start({"--request-timeout", "2"});
  std::atomic<double> droppedAfter{-1};
  std::thread slow([&] {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(server->port));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string bytes = "GET " + ExchangeTarget(u"Slow|1|5") + " HTTP/1.0\r\n\r\n";
    const auto start = Clock::now();
    for (char c : bytes) {
      if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 1000) > 0) break;  // answered or closed
    }
    droppedAfter = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 1; i <= 5; ++i) {
    const auto t0 = Clock::now();
    EXPECT_EQ(Get(server->port, ExchangeTarget(ToText(Record("Quick", 10 + i, i)))).status, 200);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 1.0);
  }
  slow.join();
  EXPECT_GE(droppedAfter, 1.5);
  EXPECT_LT(droppedAfter, 6.0);
  EXPECT_EQ(StoredRows().count("Slow"), 0u);
  // The log line follows the answer by a moment.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (server->Log().find("\" 408 ") == std::string::npos && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(server->Log().find("\" 408 "), std::string::npos) << server->Log();
}

// Hundreds of idle and one-byte-a-second connections, from one address or spread over
// several, hold no worker: an exchange from another address is still answered at once.
// One address keeps only its share of connections; the rest are answered 503 and closed.
TEST_P(ScoreService, IdleAndSlowCrowdsDoNotSilenceIt) {
  struct TCase {
    const char* what;
    std::vector<std::string> from;
    int idleRefused;  // of the 200 idle connections, with 64 per address
  } cases[] = {
      {"one address", {"127.0.0.2"}, 200 - 64},
      {"several addresses",
       {"127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9", "127.0.0.10"},
       0},
  };
  int player = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    auto server = Start({"--max-connections-per-address", "64"});
    TCrowd crowd(server->port);
    ASSERT_TRUE(crowd.Open(200, c.from, false));
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (crowd.Answered(503) < c.idleRefused && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(crowd.Answered(503), c.idleRefused);
    ASSERT_TRUE(crowd.Open(200, c.from, true));
    // While the slow ones drip, a few rounds of legitimate exchanges.
    for (int i = 0; i < 6; ++i) {
      ++player;
      const auto t0 = Clock::now();
      TReply reply = Get(server->port, ExchangeTarget(ToText(Record("Fair", player, player))));
      EXPECT_EQ(reply.status, 200) << reply.raw;
      EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 3.0);  // behind a tied-up worker it would wait 5 s or more
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_EQ(Get(server->port, "/healthz").status, 200);
  }
}

// Beyond the cap on all connections a client is told 503 at once; once the crowd has
// gone, it is served again.
TEST_P(ScoreService, AnswersBusyBeyondItsConnectionCap) {
  auto server = Start({"--max-connections", "40"});
  {
    TCrowd crowd(server->port);
    ASSERT_TRUE(crowd.Open(60, {"127.0.0.2", "127.0.0.3", "127.0.0.4"}, false));
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (crowd.Answered(503) < 20 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(crowd.Answered(503), 20);
    const auto t0 = Clock::now();
    TReply busy = Get(server->port, "/");
    EXPECT_EQ(busy.status, 503) << busy.raw;
    EXPECT_NE(busy.body.find("too many connections"), std::string::npos) << busy.body;
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 1.0);
  }
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  int status = 0;
  while ((status = Get(server->port, ExchangeTarget(u"Back|1|5")).status) != 200 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(status, 200);
  EXPECT_NE(server->Log().find("too many connections in all"), std::string::npos) << server->Log();
}

// One address may start only so many games an hour; playing games that exist stays open
// to it, and other addresses start their own. The page lists 20 games at a time.
TEST_P(ScoreService, BoundsNewGamesAndPagesThem) {
  auto server = Start({"--max-new-games-per-hour", "25"});
  for (int game = 1; game <= 25; ++game)
    ASSERT_EQ(Get(server->port, ExchangeTarget(u"Ann|1|5", game)).status, 200) << game;
  TReply refused = Get(server->port, ExchangeTarget(u"Ann|1|5", 26));
  EXPECT_EQ(refused.status, 429);
  EXPECT_NE(refused.body.find("too many new games"), std::string::npos) << refused.body;
  EXPECT_EQ(Get(server->port, ExchangeTarget(u"Bo|2|9", 3)).status, 200);  // an existing game
  EXPECT_TRUE(StoredRows(26).empty());

  TReply first = Get(server->port, "/");
  ASSERT_EQ(first.status, 200);
  EXPECT_NE(first.body.find("id=\"game-20\""), std::string::npos);
  EXPECT_EQ(first.body.find("id=\"game-21\""), std::string::npos);
  EXPECT_NE(first.body.find("href=\"/?after=20\""), std::string::npos) << first.body;
  TReply second = Get(server->port, "/?after=20");
  ASSERT_EQ(second.status, 200);
  EXPECT_EQ(second.body.find("id=\"game-20\""), std::string::npos);
  EXPECT_NE(second.body.find("id=\"game-25\""), std::string::npos);
  EXPECT_EQ(second.body.find("?after="), std::string::npos);  // the last page
  EXPECT_EQ(Get(server->port, "/?after=x").status, 400);
}

TEST_P(ScoreService, ShowsTablesAsHtmlAndJson) {
  auto server = Start();
  EXPECT_NE(Get(server->port, "/").body.find("No scores yet"), std::string::npos);
  Get(server->port, ExchangeTarget(Latin1ToText("<b>&Co|1|9"), 20));
  Get(server->port, ExchangeTarget(Latin1ToText("Q\"\\|2|8"), 20));
  Get(server->port, ExchangeTarget(Latin1ToText("Solo|1|3"), 3));
  TReply page = Get(server->port, "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.raw.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
  EXPECT_NE(page.body.find("<td class=\"name\">&lt;b&gt;&amp;Co</td><td class=\"score\">9</td>"), std::string::npos)
      << page.body;
  EXPECT_LT(page.body.find("Game 3"), page.body.find("Game 20"));
  TReply json = Get(server->port, "/api/scores?gameid=20");
  EXPECT_EQ(json.body,
            "{\"gameid\":20,\"scores\":[{\"rank\":1,\"name\":\"<b>&Co\",\"score\":9},"
            "{\"rank\":2,\"name\":\"Q\\\"\\\\\",\"score\":8}]}\n");
  EXPECT_EQ(Get(server->port, "/api/scores?gameid=5").body, "{\"gameid\":5,\"scores\":[]}\n");
  EXPECT_EQ(Get(server->port, "/api/scores").status, 400);
}

// Killed in the middle of a load and started again: every exchange answered 200 is stored.
TEST_P(ScoreService, KeepsEveryAnsweredExchangeThroughACrash) {
  auto server = Start();
  std::vector<TLoadRecord> records;
  for (int i = 0; i < 20000; ++i) records.push_back({"C" + std::to_string(i), i + 1, i});
  std::atomic<bool> stop{false};
  TLoadResult result;
  std::thread load([&] { result = RunLoad(server->port, records, 8, &stop); });
  // Kill once a good part has been answered.
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (Clock::now() < deadline) {
    std::string log = server->Log();
    if (std::count(log.begin(), log.end(), '\n') > 800) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  server->Stop(SIGKILL);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  stop = true;
  load.join();
  ASSERT_GT(result.Answered(), 500);
  ASSERT_LT(result.Answered(), 20000) << "the load ended before the kill";
  server = Start();  // recovers the database
  EXPECT_EQ(server->Stop(), 0);
  const auto rows = StoredRows();
  int missing = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    if (!result.answered[i]) continue;
    auto found = rows.find(records[i].name);
    if (found == rows.end() || found->second != records[i].score) ++missing;
  }
  EXPECT_EQ(missing, 0) << "of " << result.Answered() << " answered";
}

// Start-up failures: one line on standard error and status 1.
// With --web the service also hands out the game's page, and only the plain files of
// that folder.
TEST(ScoreServiceWeb, ServesThePageFolderUnderPlay) {
  TTempDir dir;
  const std::string web = dir.path + "/play";
  std::filesystem::create_directories(web + "/sub");
  std::ofstream(web + "/index.html") << "<p>page</p>";
  std::ofstream(web + "/zingle.wasm", std::ios::binary) << std::string("\0asm\1\0\0\0", 8);
  std::ofstream(web + "/sub/a.js") << "var a;";
  std::ofstream(web + "/.secret") << "no";
  std::ofstream(dir.path + "/outside.txt") << "no";
  TScoresProcess server;
  ASSERT_TRUE(server.Start(dir.path + "/log", {"--db", "sqlite:" + dir.path + "/s.db", "--web", web}))
      << server.error;
  struct TCase {
    const char* request;
    int status;
    const char* header;
    const char* body;  // null: not checked
  } cases[] = {
      {"GET /play/ HTTP/1.0\r\n\r\n", 200, "Content-Type: text/html", "<p>page</p>"},
      {"GET /play/index.html HTTP/1.0\r\n\r\n", 200, "Content-Type: text/html", "<p>page</p>"},
      {"GET /play HTTP/1.0\r\n\r\n", 301, "Location: /play/\r\n", nullptr},
      {"GET /play/zingle.wasm HTTP/1.0\r\n\r\n", 200, "Content-Type: application/wasm", nullptr},
      {"HEAD /play/sub/a.js HTTP/1.0\r\n\r\n", 200, "Content-Type: text/javascript", ""},
      {"GET /play/../outside.txt HTTP/1.0\r\n\r\n", 404, "Content-Length", nullptr},
      {"GET /play/sub/../../outside.txt HTTP/1.0\r\n\r\n", 404, "Content-Length", nullptr},
      {"GET /play/.secret HTTP/1.0\r\n\r\n", 404, "Content-Length", nullptr},
      {"GET /play/sub HTTP/1.0\r\n\r\n", 404, "Content-Length", nullptr},
      {"GET /play/missing.js HTTP/1.0\r\n\r\n", 404, "Content-Length", nullptr},
      {"POST /play/index.html HTTP/1.0\r\nContent-Length: 0\r\n\r\n", 405, "Allow: GET, HEAD", nullptr},
      // The service's own pages are still there.
      {"GET /healthz HTTP/1.0\r\n\r\n", 200, "Content-Length: 3", "ok\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.request);
    TReply reply = SendRaw(server.port, c.request);
    EXPECT_EQ(reply.status, c.status) << reply.raw;
    EXPECT_NE(reply.raw.find(c.header), std::string::npos) << reply.raw;
    if (c.body) {
      EXPECT_EQ(reply.body, c.body);
    }
  }
  EXPECT_EQ(SendRaw(server.port, "GET /play/zingle.wasm HTTP/1.0\r\n\r\n").body.size(), 8u);
}

TEST(ScoreServiceStart, FailsClearlyWithoutItsDatabaseOrAddress) {
  TTempDir dir;
  std::ofstream(dir.path + "/junk.db") << std::string(4096, 'x');
  struct TCase {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--db", "sqlite:/nonexistent/folder/scores.db"}, "cannot open sqlite:/nonexistent/folder/scores.db"},
      {{"--db", "sqlite:" + dir.path + "/junk.db"}, "cannot open sqlite:"},
      {{"--db", "sqlite:"}, "needs a file name"},
      {{"--db", "postgresql:///scores?host=/nonexistent&port=5432"}, "cannot open postgresql:///scores"},
      {{"--db", "mysql://localhost/scores"}, "unknown database URL"},
      {{"--db", "sqlite:" + dir.path + "/ok.db", "--listen", "127.0.0.1"}, "HOST:PORT"},
      {{"--db", "sqlite:" + dir.path + "/ok.db", "--listen", "127.0.0.1:99999"}, "not a port number"},
      {{"--db", "sqlite:" + dir.path + "/ok.db", "--listen", "no.such.host.invalid:80"}, "cannot listen"},
      {{"--max-per-minute", "lots"}, "--max-per-minute wants a number"},
      {{"--frobnicate", "1"}, "unknown option"},
      {{"--web", dir.path + "/no-such-folder"}, "--web wants the folder"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.message);
    std::string output;
    EXPECT_EQ(RunToEnd(c.args, output, dir.path + "/log"), 1) << output;
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
  }
  // A busy port.
  TScoresProcess first;
  ASSERT_TRUE(first.Start(dir.path + "/first.log", {"--db", "sqlite:" + dir.path + "/a.db"})) << first.error;
  std::string output;
  EXPECT_EQ(RunToEnd({"--db", "sqlite:" + dir.path + "/b.db", "--listen", "127.0.0.1:" + std::to_string(first.port)},
                     output, dir.path + "/log"), 1);
  EXPECT_NE(output.find("cannot listen"), std::string::npos) << output;
}

}  // namespace
