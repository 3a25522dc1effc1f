// The one-behaviour XM files of music/tests/rules/xm_rules.py (one playback rule each:
// note delay, instrument numbers without a note, key off, out-of-range notes, sample
// offset, tone portamento, empty fields, old file layouts, the volume column, retrig,
// tremor, note cut, global volume, effect memories, waveforms, arpeggio, envelope
// loops and sustain, auto-vibrato, and song flow: loops, breaks, jumps, pattern delay,
// missing and empty patterns) rendered by the ormix tool stay as close to openmpt123's
// renders as recorded in the script's table.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <string>

#include "testsupport/testsupport.h"

namespace {

TEST(XmRules, EveryRuleFileRendersAsCloseAsRecorded) {
  const std::string script = std::string(ORMIX_SOURCE_DIR) + "/music/tests/rules/xm_rules.py";
  const TCommandResult r = RunShellCommand("/usr/bin/python3 " + script + " check --ormix " + OrmixTool() + " 2>&1");
  if (r.status == 77) ORMIX_SKIP_OR_FAIL() << r.out;
  EXPECT_EQ(r.status, 0) << r.out;
}

}  // namespace
