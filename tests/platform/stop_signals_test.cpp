#include "platform/stop_signals.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace {

TEST(StopSignalsTest, CountsWhileItLivesAndGivesTheOldActionsBack) {
  struct sigaction before {};
  sigaction(SIGHUP, nullptr, &before);
  {
    platform::StopSignals signals;
    raise(SIGINT);
    raise(SIGINT);
    raise(SIGTERM);
    raise(SIGHUP);
    EXPECT_EQ(signals.Interrupts(), 2);
    EXPECT_EQ(signals.Terminations(), 2);
  }
  struct sigaction after {};
  sigaction(SIGHUP, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);

  platform::StopSignals fresh;
  EXPECT_EQ(fresh.Interrupts(), 0);
  EXPECT_EQ(fresh.Terminations(), 0);
}

}  // namespace
