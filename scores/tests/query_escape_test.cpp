// Percent escapes in the query of a request to the score service: the parser decodes them
// wherever they stand (first, middle, last byte of the query) and keeps malformed ones as they
// came; through the real zingle-scores (on a free loopback port) the parameter they end is refused.
#include <gtest/gtest.h>

#include <cstdio>

#include <ormix/runtime/scramble.h>
#include "scores/http_server.h"
#include "scores_harness.h"

namespace {

using namespace scores_test;

std::string Info(const std::string& record) { return ToUtf8(Scramble(ToText(record), ExchangeKey, EXCHANGE_PASSES)); }

// The character as a %XX escape.
std::string Escape(char c) {
  char e[4];
  std::snprintf(e, sizeof e, "%%%02X", static_cast<unsigned char>(c));
  return e;
}

TEST(ScoreQueryEscapes, DecodeAtStartMiddleAndEndAndKeepMalformedOnes) {
  struct TCase {
    std::string target;
    std::string name;
    std::string value;
  } cases[] = {
      {"/x?gameid=%32%30", "gameid", "20"},
      {"/x?%67ameid=20", "gameid", "20"},
      {"/x?info=A%20B&gameid=2%30", "gameid", "20"},
      {"/x?gameid=20&info=A%7CB&z=1", "info", "A|B"},
      {"/x?info=%41%42", "info", "AB"},
      {"/x?info=ab%", "info", "ab%"},
      {"/x?info=ab%4", "info", "ab%4"},
      {"/x?info=ab%G0", "info", "ab%G0"},
      {"/x?info=%", "info", "%"},
      {"/x?info=a+b%2B", "info", "a b+"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.target);
    THttpRequest request;
    std::string why;
    int status = 0;
    ASSERT_TRUE(ParseRequestHead("GET " + c.target + " HTTP/1.1\r\nHost: a\r\n\r\n", request, why, status)) << why;
    const std::string* value = request.Param(c.name);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, c.value);
  }
}

class QueryEscapes : public ::testing::Test {
protected:
  TTempDir dir;
  TScoresProcess server;
  void SetUp() override {
    ASSERT_FALSE(dir.path.empty());
    ASSERT_TRUE(server.Start(dir.path + "/server.log", {"--db", "sqlite:" + dir.path + "/scores.db"})) << server.error;
  }
};

}  // namespace

TEST_F(QueryEscapes, AreDecodedAtTheStartTheMiddleAndTheVeryEnd) {
  struct TCase {
    const char* what;
    std::string name;  // the record's name: shows the exchange was stored in game 20
    std::string query;
  } cases[] = {
      {"key escaped, first in the query", "K", "%67ameid=20&info=" + Info("K|1|5")},
      {"value all escapes, first", "S", "gameid=%32%30&info=" + Info("S|2|5")},
      {"value all escapes, last", "E", "info=" + Info("E|3|5") + "&gameid=%32%30"},
      {"last digit escaped, last", "L", "info=" + Info("L|4|5") + "&gameid=2%30"},
      {"first digit escaped, last", "F", "info=" + Info("F|5|5") + "&gameid=%320"},
      {"info's first digit escaped", "I", "gameid=20&info=" + Escape(Info("I|6|5")[0]) + Info("I|6|5").substr(1)},
      {"info's middle digit escaped", "M", "gameid=20&info=" + Info("M|7|5").substr(0, 8) +
                                               Escape(Info("M|7|5")[8]) + Info("M|7|5").substr(9)},
      {"info's last digit escaped, last", "Z", "gameid=20&info=" + Info("Z|8|5").substr(0, Info("Z|8|5").size() - 1) +
                                                   Escape(Info("Z|8|5").back())},
      {"lowercase escape, last", "W", "info=" + Info("W|9|5") + "&gameid=2%30&x=%2a"},
      {"plus and %2B both", "P", "info=" + Info("P|10|5") + "&gameid=20&note=a+b%2B"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TReply reply = Get(server.port, "/kwscoreme.php?" + c.query);
    ASSERT_EQ(reply.status, 200) << reply.raw;
    EXPECT_NE(ReplyTable(reply).find(ToText(c.name + "|5")), Text::npos) << ToUtf8(ReplyTable(reply));
  }
  // Every one of them landed in game 20; the table read back with an escaped game id.
  TReply json = Get(server.port, "/api/scores?gameid=%32%30");
  ASSERT_EQ(json.status, 200) << json.raw;
  EXPECT_EQ(json.body.rfind("{\"gameid\":20,", 0), 0u) << json.body;
  for (const TCase& c : cases) EXPECT_NE(json.body.find("\"name\":\"" + c.name + "\""), std::string::npos) << c.what;
}

TEST_F(QueryEscapes, MalformedOnesAtTheEndAreRefused) {
  const std::string info = Info("Ann|1|5");
  struct TCase {
    std::string target;
    int status;
    const char* reason;
  } cases[] = {
      {"/kwscoreme.php?info=" + info + "&gameid=20%", 400, "gameid"},
      {"/kwscoreme.php?info=" + info + "&gameid=20%4", 400, "gameid"},
      {"/kwscoreme.php?info=" + info + "&gameid=20%G0", 400, "gameid"},
      {"/kwscoreme.php?info=" + info + "&gameid=%", 400, "gameid"},
      {"/kwscoreme.php?info=" + info + "&gameid=%3", 400, "gameid"},
      {"/kwscoreme.php?info=" + info + "&gameid=2%00", 400, "gameid"},
      {"/kwscoreme.php?gameid=20&info=" + info + "%", 400, "record does not unscramble"},
      {"/kwscoreme.php?gameid=20&info=" + info + "%4", 400, "record does not unscramble"},
      {"/kwscoreme.php?gameid=20&info=" + info + "%G0", 400, "record does not unscramble"},
      {"/kwscoreme.php?gameid=20&info=" + info.substr(0, info.size() - 1) + "%4", 400, "record does not unscramble"},
      {"/api/scores?gameid=%", 400, "gameid"},
      {"/api/scores?gameid=2%4", 400, "gameid"},
      {"/api/scores?gameid=2%G0", 400, "gameid"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.target);
    TReply reply = Get(server.port, c.target);
    EXPECT_EQ(reply.status, c.status) << reply.raw;
    EXPECT_NE(reply.body.find(c.reason), std::string::npos) << reply.body;
  }
  // Nothing was stored, and the service still answers.
  TReply json = Get(server.port, "/api/scores?gameid=20");
  EXPECT_NE(json.body.find("\"scores\":[]"), std::string::npos) << json.body;
  EXPECT_EQ(ReplyTable(Get(server.port, ExchangeTarget(u"Ann|1|5"))), u"Ann|5");
}
