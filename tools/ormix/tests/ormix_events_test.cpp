// `ormix events` prints the events of pads as of any other input; its virtual pad shows
// them where no pad is plugged in.
#include <gtest/gtest.h>

#include <string>

#include "testsupport/skip_or_fail.h"
#include "testsupport/testsupport.h"

namespace {

TEST(OrmixEvents, PrintsPadEvents) {
  if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
  TCommandResult r = RunOrmix("events --seconds 0.5 --virtual-pad", false);
  ASSERT_EQ(r.status, 0) << r.out;
  const char* lines[] = {
      "PadConnect: data=0, mods=0, x=1, y=0, extra=\"Virtual Pad\"\n",
      "PadDown: data=1, mods=0, x=1, y=0, extra=\"a\"\n",
      "PadUp: data=1, mods=0, x=1, y=0, extra=\"a\"\n",
      "PadMove: data=1, mods=0, x=1, y=-32768, extra=\"leftx\"\n",
      "PadMove: data=1, mods=0, x=1, y=0, extra=\"leftx\"\n",
      "PadDisconnect: data=0, mods=0, x=1, y=0, extra=\"Virtual Pad\"\n",
  };
  size_t at = 0;
  for (const char* line : lines) {
    size_t found = r.out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing, in order: " << line << r.out;
    at = found;
  }
}

TEST(OrmixEvents, RejectsUnknownOptions) {
  TCommandResult r = RunOrmix("events --pad");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("usage: ormix events [--seconds N] [--timer HZ] [--virtual-pad]"),
            std::string::npos)
      << r.out;
}

}  // namespace
