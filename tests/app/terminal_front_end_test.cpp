// What the terminal front end prints for the window's status, boxes and questions, and
// how its timer ticks.
#include <gtest/gtest.h>

#include <sstream>

#include "app/terminal_front_end.h"
#include "fakes.h"

namespace apptest {
namespace {

TEST(TerminalFrontEndTest, StatusLinesBoxesAndAnswers) {
  VirtualClock clock;
  std::ostringstream out;
  app::TerminalFrontEnd terminal(clock, out, false, {false, std::nullopt});
  terminal.SetStatusText("CONNECT\r\n");
  terminal.SetStatusText("two\r\nlines");
  terminal.SetProgressVisible(true);
  terminal.SetProgress(50);
  terminal.ShowMessage("Can not Run FRW!", "Error", app::BoxIcon::kError, "no reply");
  terminal.ShowMessage("Update Success!", "Info", app::BoxIcon::kInformation, "");
  EXPECT_FALSE(terminal.AskOkCancel("select?", "select ..."));
  EXPECT_EQ(terminal.ChooseFile({"select update file", "fwp", "", "/"}), std::nullopt);
  EXPECT_EQ(out.str(),
            "CONNECT\ntwo lines\nError: Can not Run FRW!\n  no reply\nInfo: Update Success!\n"
            "select ...: select?\n  -> Cancel (give --yes to answer OK)\n"
            "select update file: no file given (use --package FILE)\n");

  std::ostringstream tty;
  app::TerminalFrontEnd answered(clock, tty, true, {true, "p.fwp"});
  EXPECT_TRUE(answered.AskOkCancel("select?", "select ..."));
  EXPECT_EQ(answered.ChooseFile({}), "p.fwp");
  answered.SetProgressVisible(true);
  answered.SetProgress(25);
  answered.SetStatusText("Update...");
  answered.SetProgressVisible(false);
  EXPECT_NE(tty.str().find("\r[##########..............................] 25%\r\033[KUpdate...\n"),
            std::string::npos);
}

TEST(TerminalFrontEndTest, ADetailOfTwoLinesKeepsThemBothIndented) {
  VirtualClock clock;
  std::ostringstream out;
  app::TerminalFrontEnd terminal(clock, out, false, {});
  terminal.ShowMessage("Can not open usb port!", "Error", app::BoxIcon::kError,
                       "permission denied on /dev/usb/lp0\nrun \"sudo udevadm trigger\"");
  EXPECT_EQ(out.str(),
            "Error: Can not open usb port!\n  permission denied on /dev/usb/lp0\n"
            "  run \"sudo udevadm trigger\"\n");
}

TEST(TerminalFrontEndTest, ControlBytesOfRepliesAreShownEscaped) {
  VirtualClock clock;
  std::ostringstream out;
  app::TerminalFrontEnd terminal(clock, out, false, {});
  terminal.SetStatusText("\x1b[2J\x1b]0;owned\x07OK\r\n");
  terminal.ShowMessage("No MAC ADDR!", "Error", app::BoxIcon::kError,
                       "the printer answered \"\x1b[H\x7f\x01\"");
  terminal.ShowNotice("tab\there");
  EXPECT_EQ(out.str(),
            "\\x1B[2J\\x1B]0;owned\\x07OK\n"
            "Error: No MAC ADDR!\n  the printer answered \"\\x1B[H\\x7F\\x01\"\n"
            "tab\\x09here\n");
}

TEST(TerminalFrontEndTest, TicksComeFromTheClockWhenPumped) {
  VirtualClock clock;
  std::ostringstream out;
  app::TerminalFrontEnd terminal(clock, out, false, {});
  int ticks = 0, polls = 0;
  terminal.SetTickHandler([&] { ++ticks; });
  terminal.SetEventPoller([&] { ++polls; });
  terminal.StartTimer();
  for (int ms = 0; ms < 100; ++ms) {
    terminal.PumpMessages();
    clock.SleepMs(1);
  }
  EXPECT_EQ(polls, 100);
  EXPECT_EQ(ticks, 9);
  clock.SleepMs(5000);
  terminal.PumpMessages();
  terminal.PumpMessages();
  EXPECT_EQ(ticks, 10);
}

}  // namespace
}  // namespace apptest
