// The session's waits on a virtual clock: tick counts, reply gathering, the reopening of
// a lost printer, and waits that a slow port cannot stretch.
#include "workflow/printer_session.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace apptest {
namespace {

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : ui(clock), printer(clock), channel(printer, clock), session(channel, ui, clock) {
    ui.onTick = [this] { session.OnTick(); };
  }
  uint32_t Ticks() const { return channel.TickCount(); }

  VirtualClock clock;
  FakeUi ui;
  ScriptedPrinter printer;
  app::CommandChannel channel;
  app::PrinterSession session;
};

TEST_F(SessionTest, DelayLastsOneTickPastItsDeadline) {
  uint32_t start = Ticks();
  session.Delay(10);
  EXPECT_EQ(Ticks() - start, 2u);
  start = Ticks();
  session.Delay(500);
  EXPECT_EQ(Ticks() - start, 51u);
  start = Ticks();
  session.Delay(0);
  EXPECT_EQ(Ticks() - start, 1u);
}

TEST_F(SessionTest, WaitForReplyEndsOnTheTickAfterACompleteLine) {
  ASSERT_TRUE(channel.OpenPrinterChannel());
  printer.Reply("stale", 0);
  session.WaitForReply(false, 20);
  ASSERT_EQ(channel.ReplyText(), "stale");
  printer.Reply("OK\r\n", 95);
  uint32_t start = Ticks();
  uint64_t started = clock.now;
  EXPECT_EQ(session.WaitForReply(false, 3000), "OK\r\n");
  // The bytes are readable from 95 ms on; the tick at 100 ms moves them.
  EXPECT_EQ(Ticks() - start, 10u);
  EXPECT_LE(clock.now - started, 101u);
  EXPECT_FALSE(channel.ReplyPumpActive());
}

TEST_F(SessionTest, WaitForReplyRunsToItsLimitWithoutAProperLine) {
  ASSERT_TRUE(channel.OpenPrinterChannel());
  uint32_t start = Ticks();
  EXPECT_EQ(session.WaitForReply(false, 3000), "");
  EXPECT_EQ(Ticks() - start, 301u);

  // A reply that begins with CR LF never completes the wait early.
  printer.Reply("\r\nOK\r\n", 20);
  start = Ticks();
  EXPECT_EQ(session.WaitForReply(false, 1000), "\r\nOK\r\n");
  EXPECT_EQ(Ticks() - start, 101u);
}

TEST_F(SessionTest, ALostPrinterIsLookedForOnEveryTickOfAWait) {
  printer.present = false;
  uint32_t start = Ticks();
  EXPECT_EQ(session.WaitForReply(false, 200), "");
  EXPECT_EQ(Ticks() - start, 21u);
  EXPECT_EQ(printer.discoveries, 21);

  // Once it is back, the next tick opens it and the reply comes through.
  printer.present = true;
  printer.Reply("Hello\r\n", 0);
  EXPECT_EQ(session.WaitForReply(false, 200), "Hello\r\n");
  EXPECT_EQ(printer.opens, 1);
}

// A slow port makes ticks slow; the waits still end on time by the clock.
TEST_F(SessionTest, APrinterThatIsThereButWillNotOpenCannotStretchAWait) {
  printer.opensFail = true;
  printer.openCostMs = 600;
  uint64_t started = clock.now;
  EXPECT_EQ(session.WaitForReply(false, 60000), "");
  EXPECT_GE(clock.now - started, 60000u);
  EXPECT_LE(clock.now - started, 61000u);

  printer.opensFail = false;
  printer.openCostMs = 0;
  printer.readCostMs = 50;
  ASSERT_TRUE(channel.OpenPrinterChannel());
  started = clock.now;
  EXPECT_EQ(session.WaitForReply(false, 3000), "");
  EXPECT_GE(clock.now - started, 3000u);
  EXPECT_LE(clock.now - started, 4000u);
}

TEST_F(SessionTest, TheOpenPrinterGuardClosesTheChannelWhateverHappens) {
  {
    std::optional<app::OpenPrinter> open = session.Open();
    ASSERT_TRUE(open.has_value());
    EXPECT_TRUE(session.IsOpen());
  }
  EXPECT_FALSE(session.IsOpen());
  try {
    auto open = session.Open();
    throw std::runtime_error("a step failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(session.IsOpen());
  printer.present = false;
  EXPECT_FALSE(session.Open().has_value());
}

}  // namespace
}  // namespace apptest
