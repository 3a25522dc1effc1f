// Percent escapes in a request to the score service: decoded wherever they stand in the
// query (first, middle, last byte of it), and malformed ones at the very end kept as they came.
#include <gtest/gtest.h>

#include "scores/http_server.h"

namespace {

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
    ASSERT_EQ(ParseRequestHead("GET " + c.target + " HTTP/1.1\r\nHost: a\r\n\r\n", request), "");
    const std::string* value = request.Param(c.name);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, c.value);
  }
}

}  // namespace
