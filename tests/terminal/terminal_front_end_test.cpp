// What the terminal front end prints for the window's status, boxes, questions and
// progress, how it asks for the confirmation, and how its timer ticks.
#include <gtest/gtest.h>

#include <deque>
#include <sstream>

#include "fakes.h"
#include "terminal/terminal_front_end.h"
#include "workflow/stop_request.h"

namespace apptest {
namespace {

using app::Confirmation;
using app::ProgressFigures;
using app::TypedLine;

TEST(TerminalFrontEndTest, StatusLinesBoxesAndTheFileQuestion) {
  VirtualClock clock;
  std::ostringstream out;
  app::TerminalFrontEnd terminal(clock, out, false, {});
  terminal.SetStatusText("CONNECT\r\n");
  terminal.SetStatusText("two\r\nlines");
  terminal.ShowMessage("Can not Run FRW!", "Error", app::BoxIcon::kError, "no reply");
  terminal.ShowMessage("Update Success!", "Info", app::BoxIcon::kInformation, "");
  EXPECT_FALSE(terminal.AskOkCancel("select?", "select ..."));
  EXPECT_EQ(terminal.ChooseFile({"select update file", "fwp", "", "/"}), std::nullopt);
  EXPECT_EQ(out.str(),
            "CONNECT\ntwo lines\nError: Can not Run FRW!\n  no reply\nInfo: Update Success!\n"
            "select ...: select?\n  -> Cancel (no --package FILE given)\n"
            "select update file: no file given (use --package FILE)\n");

  // A package named on the command line answers the question, without --yes.
  std::ostringstream named;
  app::TerminalFrontEnd withPackage(clock, named, false, {false, "p.fwp", {}});
  EXPECT_TRUE(withPackage.AskOkCancel("select?", "select ..."));
  EXPECT_EQ(withPackage.ChooseFile({}), "p.fwp");
}

// The maker's question about a package's warnings is answered by --allow-warnings, and
// the warnings are shown either way.
TEST(TerminalFrontEndTest, WarningsAreAcceptedOnlyWithAllowWarnings) {
  VirtualClock clock;
  std::ostringstream refusing, allowing;
  app::TerminalFrontEnd without(clock, refusing, false, {});
  EXPECT_FALSE(without.AcceptWarnings("Make it all the same?", {"zeros\x1b at the end"}));
  EXPECT_EQ(refusing.str(),
            "Warning: zeros\\x1B at the end\nMake it all the same?\n"
            "  -> no (give --allow-warnings to go on all the same)\n");
  app::TerminalAnswers answers;
  answers.allowWarnings = true;
  app::TerminalFrontEnd with(clock, allowing, false, answers);
  EXPECT_TRUE(with.AcceptWarnings("Make it all the same?", {"one", "two"}));
  EXPECT_EQ(allowing.str(),
            "Warning: one\nWarning: two\nMake it all the same?\n  -> yes (--allow-warnings)\n");
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

TEST(TerminalFrontEndTest, OnATerminalTheProgressLineIsRedrawnInPlace) {
  VirtualClock clock;
  std::ostringstream out;
  app::TerminalFrontEnd terminal(clock, out, true, {});
  terminal.SetStatusText("Update...");
  terminal.SetProgressVisible(true);
  terminal.ShowProgressFigures({"font", 10, 50, 3000});
  terminal.ShowProgressFigures({"font", 10, 50, 3000});  // nothing new: not drawn again
  terminal.ShowNotice("note");
  terminal.SetProgressVisible(false);
  EXPECT_EQ(out.str(),
            "Update...\n"
            "\r\033[KUpdate... | font 10% | total 50% | 0:03 left"
            "\r\033[Knote\n"
            "\r\033[KUpdate... | font 10% | total 50% | 0:03 left"
            "\r\033[K");
}

TEST(TerminalFrontEndTest, OffATerminalAPlainLineAtEveryTenthOfASection) {
  VirtualClock clock;
  std::ostringstream out;
  app::TerminalFrontEnd terminal(clock, out, false, {});
  terminal.SetProgressVisible(true);
  terminal.SetStatusText("Update...");
  terminal.ShowProgressFigures({"", 0, 40, 9000});  // between sections: the step line says it
  for (int percent : {0, 4, 9, 10, 19, 35, 100}) {
    terminal.ShowProgressFigures({"font", percent, 50 + percent / 4, 2000});
  }
  terminal.ShowProgressFigures({"system", 0, 80, 1000});
  EXPECT_EQ(out.str(),
            "Update...\n"
            "Update... | font 0% | total 50% | 0:02 left\n"
            "Update... | font 10% | total 52% | 0:02 left\n"
            "Update... | font 30% | total 58% | 0:02 left\n"
            "Update... | font 100% | total 75% | 0:02 left\n"
            "Update... | system 0% | total 80% | 0:01 left\n");
}

class ConfirmTest : public ::testing::Test {
 protected:
  Confirmation Confirm(app::TerminalAnswers answers) {
    app::TerminalFrontEnd terminal(clock, out, false, std::move(answers));
    terminal.SetTickHandler([this] { ++ticks; });
    return terminal.ConfirmUpdate(summary, [this] { ++waits; });
  }
  app::TerminalAnswers Typing(std::deque<TypedLine> typed) {
    return {false, "p.fwp", [this, typed](int ms) mutable {
              clock.SleepMs(static_cast<uint32_t>(ms));
              if (typed.empty()) return TypedLine{TypedLine::State::kEnd, {}};
              TypedLine next = typed.front();
              typed.pop_front();
              return next;
            }};
  }

  VirtualClock clock;
  std::ostringstream out;
  app::UpdateSummary summary{"/p/pkg.fwp",
                             "Model 5 \x1b v2",
                             {{"frw", 3000}, {"font", 140000}},
                             "1-1.4",
                             "VRQ0001",
                             "/dev/usb/lp0",
                             25400,
                             {}};
  int ticks = 0, waits = 0;
};

TEST_F(ConfirmTest, ShowsPackageAndPrinterThenTakesTheAnswer) {
  const TypedLine nothing{TypedLine::State::kNothingYet, {}};
  EXPECT_EQ(Confirm(Typing({nothing, nothing, nothing, {TypedLine::State::kLine, " Yes "}})),
            Confirmation::kYes);
  EXPECT_EQ(out.str(),
            "Package: /p/pkg.fwp, version \"Model 5 \\x1B v2\"\n"
            "  frw 3000 bytes, font 140000 bytes\n"
            "Printer: USB port 1-1.4, serial VRQ0001 (/dev/usb/lp0)\n"
            "Writing takes 0:26 at the least; the printer must stay connected until the end.\n"
            "Update this printer? [y/N] ");
  // The timer and the stop check went on while the operator thought.
  EXPECT_EQ(waits, 3);
  EXPECT_EQ(ticks, 3);

  EXPECT_EQ(Confirm(Typing({{TypedLine::State::kLine, ""}})), Confirmation::kNo);
  EXPECT_EQ(Confirm(Typing({{TypedLine::State::kLine, "yess"}})), Confirmation::kNo);
  EXPECT_EQ(Confirm(Typing({})), Confirmation::kNo);  // end of input
}

TEST_F(ConfirmTest, YesAnswersBeforehandAndWithoutATerminalItRefuses) {
  summary.warnings = {"no end marker"};
  EXPECT_EQ(Confirm({true, "p.fwp", {}}), Confirmation::kYes);
  EXPECT_NE(out.str().find("Warning: no end marker\nUpdate this printer? [y/N] y (--yes)\n"),
            std::string::npos);
  out.str("");
  EXPECT_EQ(Confirm({false, "p.fwp", {}}), Confirmation::kCannotAsk);
  EXPECT_NE(out.str().find("Update this printer? [y/N]\n  Not updated: there is no terminal to "
                           "answer at. Give --yes to update without the question.\n"),
            std::string::npos);
}

TEST_F(ConfirmTest, AStopWhileAskingEndsTheQuestionLine) {
  app::TerminalFrontEnd terminal(clock, out, false, Typing({{TypedLine::State::kNothingYet, {}}}));
  EXPECT_THROW(
      terminal.ConfirmUpdate(summary, [] { throw app::RunStopped{app::StopCause::kInterrupt}; }),
      app::RunStopped);
  EXPECT_EQ(out.str().substr(out.str().size() - 28), "Update this printer? [y/N] \n");
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
