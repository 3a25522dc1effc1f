#include <gtest/gtest.h>

#include <ormix/system/event.h>

TEST(HookIds, The256thRequestThrows) {
  InitEventModule();  // the event chain takes id 1
  int last = EventHookId();
  while (last < 255) last = NewHookId();
  EXPECT_EQ(last, 255);
  try {
    NewHookId();
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Too many hook ids");
  }
  EXPECT_THROW(NewHookId(), std::exception) << "and every request after it";
}
