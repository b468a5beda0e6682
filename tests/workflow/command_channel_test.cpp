// The command channel on a virtual clock: the direct reply reader, a closed channel, and
// the scoped gathering of replies.
#include "workflow/command_channel.h"

#include <gtest/gtest.h>

#include <array>

#include "fakes.h"

namespace apptest {
namespace {

class ChannelTest : public ::testing::Test {
 protected:
  ChannelTest() : printer(clock), channel(printer, clock) {}

  VirtualClock clock;
  ScriptedPrinter printer;
  app::CommandChannel channel;
};

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

TEST_F(ChannelTest, SlowReadsCannotStretchTheIdleLimit) {
  ASSERT_TRUE(channel.OpenPrinterChannel());
  printer.readCostMs = 50;
  std::array<char, 1024> buffer{};
  const uint64_t started = clock.now;
  EXPECT_EQ(channel.ReadReplyUntil(buffer.data(), 1023, 20000, "\r\n"), 0);
  EXPECT_GE(clock.now - started, 20000u);
  EXPECT_LE(clock.now - started, 21000u);
}

TEST_F(ChannelTest, RepliesAreGatheredOnlyWhileTheGuardLives) {
  ASSERT_TRUE(channel.OpenPrinterChannel());
  printer.Reply("early", 0);
  channel.OnTick();
  EXPECT_EQ(channel.ReplyText(), "");
  {
    auto gather = channel.GatherReplies();
    EXPECT_TRUE(channel.ReplyPumpActive());
    channel.OnTick();
    EXPECT_EQ(channel.ReplyText(), "early");
  }
  EXPECT_FALSE(channel.ReplyPumpActive());
  printer.Reply("late", 0);
  channel.OnTick();
  EXPECT_EQ(channel.ReplyText(), "early");
  {
    auto keep = channel.GatherReplies(true);
    channel.OnTick();
    EXPECT_EQ(channel.ReplyText(), "earlylate");
  }
  auto fresh = channel.GatherReplies();
  EXPECT_EQ(channel.ReplyText(), "");
}

}  // namespace
}  // namespace apptest
