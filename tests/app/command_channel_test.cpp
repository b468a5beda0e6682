// The command channel and the waits on a virtual clock: tick counts, reply gathering,
// the direct reply reader and the reopening of a lost printer.
#include <gtest/gtest.h>

#include <array>

#include "app/Unit_mainform.h"
#include "app/tick_schedule.h"
#include "fakes.h"

namespace apptest {
namespace {

class ChannelTest : public ::testing::Test {
 protected:
  ChannelTest() : ui(clock), printer(clock), channel(printer, clock), form(ui, channel, clock, {}) {
    ui.onTick = [this] { form.Timer1Timer(); };
  }
  uint32_t Ticks() const { return channel.TickCount; }

  VirtualClock clock;
  FakeUi ui;
  ScriptedPrinter printer;
  app::CommandChannel channel;
  app::TMainForm form;
};

TEST_F(ChannelTest, DelayLastsOneTickPastItsDeadline) {
  uint32_t start = Ticks();
  form.Delay(10);
  EXPECT_EQ(Ticks() - start, 2u);
  start = Ticks();
  form.Delay(500);
  EXPECT_EQ(Ticks() - start, 51u);
  start = Ticks();
  form.Delay(0);
  EXPECT_EQ(Ticks() - start, 1u);
}

TEST_F(ChannelTest, WaitForReplyEndsOnTheTickAfterACompleteLine) {
  ASSERT_TRUE(channel.OpenPrinterChannel());
  channel.ReplyText = "stale";
  printer.Reply("OK\r\n", 95);
  uint32_t start = Ticks();
  uint64_t started = clock.now;
  EXPECT_EQ(form.WaitForReply(false, 3000), "OK\r\n");
  // The bytes are readable from 95 ms on; the tick at 100 ms moves them.
  EXPECT_EQ(Ticks() - start, 10u);
  EXPECT_LE(clock.now - started, 101u);
  EXPECT_FALSE(channel.ReplyPumpActive);
}

TEST_F(ChannelTest, WaitForReplyRunsToItsLimitWithoutAProperLine) {
  ASSERT_TRUE(channel.OpenPrinterChannel());
  uint32_t start = Ticks();
  EXPECT_EQ(form.WaitForReply(false, 3000), "");
  EXPECT_EQ(Ticks() - start, 301u);

  // A reply that begins with CR LF never completes the wait early.
  printer.Reply("\r\nOK\r\n", 20);
  start = Ticks();
  EXPECT_EQ(form.WaitForReply(false, 1000), "\r\nOK\r\n");
  EXPECT_EQ(Ticks() - start, 101u);
}

TEST_F(ChannelTest, ALostPrinterIsLookedForOnEveryTickOfAWait) {
  printer.present = false;
  uint32_t start = Ticks();
  EXPECT_EQ(form.WaitForReply(false, 200), "");
  EXPECT_EQ(Ticks() - start, 21u);
  EXPECT_EQ(printer.discoveries, 21);

  // Once it is back, the next tick opens it and the reply comes through.
  printer.present = true;
  printer.Reply("Hello\r\n", 0);
  EXPECT_EQ(form.WaitForReply(false, 200), "Hello\r\n");
  EXPECT_EQ(printer.opens, 1);
}

TEST_F(ChannelTest, ClosedChannelRefusesWithoutTouchingThePort) {
  char buffer[8] = {};
  EXPECT_EQ(channel.WriteToPrinter("X\r\n"), -1);
  EXPECT_EQ(channel.ReadFromPrinter(buffer, 8), -1);
  EXPECT_EQ(channel.ReadReplyUntil(buffer, 7, 1000, "\r\n"), -1);
  EXPECT_EQ(printer.discoveries, 0);
  EXPECT_TRUE(printer.lines.empty());

  // A failing port closes the channel.
  ASSERT_TRUE(channel.OpenPrinterChannel());
  printer.Close();
  EXPECT_FALSE(channel.IsPrinterChannelOpen());
  EXPECT_TRUE(channel.ClosePrinterChannel());
}

TEST_F(ChannelTest, ReadReplyUntilStopsAtMarkerCapacityOrIdleLimit) {
  ASSERT_TRUE(channel.OpenPrinterChannel());
  std::array<char, 1024> buffer{};

  printer.Reply("O", 5);
  printer.Reply("K\r\nmore", 500);
  EXPECT_EQ(channel.ReadReplyUntil(buffer.data(), 1023, 20000, "\r\n"), 8);
  EXPECT_STREQ(buffer.data(), "OK\r\nmore");

  // Nothing at all: 2,001 empty polls of 10 ms.
  buffer.fill(0);
  uint64_t started = clock.now;
  EXPECT_EQ(channel.ReadReplyUntil(buffer.data(), 1023, 20000, "\r\n"), 0);
  EXPECT_EQ(clock.now - started, 20010u);

  // A partial line, then silence: its count.
  printer.Reply("partial", 5);
  EXPECT_EQ(channel.ReadReplyUntil(buffer.data(), 1023, 100, "\r\n"), 7);

  // A chunk that would fill the buffer up to its capacity fails, marker or not.
  buffer.fill(0);
  printer.Reply(std::string(1000, 'a'), 1);
  printer.Reply(std::string(21, 'b') + "\r\n", 2);
  EXPECT_EQ(channel.ReadReplyUntil(buffer.data(), 1023, 1000, "\r\n"), -1);
  buffer.fill(0);
  printer.Reply(std::string(1020, 'a') + "\r\n", 1);
  EXPECT_EQ(channel.ReadReplyUntil(buffer.data(), 1023, 1000, "\r\n"), 1022);
}

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
