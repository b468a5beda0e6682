#include "workflow/tick_schedule.h"

#include <gtest/gtest.h>

namespace apptest {
namespace {

TEST(TickScheduleTest, ALateTickComesOnceAndTheTimerGoesOnFromThere) {
  app::TickSchedule schedule;
  schedule.Start(0);
  EXPECT_FALSE(schedule.Take(9));
  EXPECT_TRUE(schedule.Take(11));  // a little late: stays on the grid
  EXPECT_EQ(schedule.MsUntilNext(11), 9u);
  EXPECT_TRUE(schedule.Take(5020));   // after a long sleep: one tick...
  EXPECT_FALSE(schedule.Take(5020));  // ...not a burst
  EXPECT_FALSE(schedule.Take(5029));
  EXPECT_TRUE(schedule.Take(5030));
}

}  // namespace
}  // namespace apptest
