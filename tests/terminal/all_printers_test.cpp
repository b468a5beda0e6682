// --all: the children's JSON lines read back, a line per printer while they run, the
// table at the end and the exit status of the whole.
#include "terminal/all_printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <sstream>

#include "fakes.h"
#include "terminal/json_line.h"

namespace apptest {
namespace {

using Event = app::ChildRunner::Event;

class FakeRunner final : public app::ChildRunner {
 public:
  explicit FakeRunner(VirtualClock& clock) : clock_(clock) {}
  bool Start(const std::vector<std::string>& args, std::string& error) override {
    if (std::find(args.begin(), args.end(), failToStart) != args.end()) {
      error = "no such file";
      return false;
    }
    started.push_back(args);
    return true;
  }
  std::vector<Event> Poll(int timeoutMs) override {
    clock_.SleepMs(static_cast<uint32_t>(timeoutMs));
    if (script.empty()) return {};
    std::vector<Event> batch = script.front();
    script.pop_front();
    for (const Event& event : batch) {
      if (event.kind == Event::Kind::kExited) ++exited;
    }
    return batch;
  }
  bool AllExited() const override { return exited == started.size(); }
  void Interrupt() override { ++interrupts; }
  void Terminate() override { ++terminations; }

  std::vector<std::vector<std::string>> started;
  std::deque<std::vector<Event>> script;  // one batch per poll
  size_t exited = 0;
  int interrupts = 0, terminations = 0;
  std::string failToStart;

 private:
  VirtualClock& clock_;
};

Event Out(size_t child, const app::Json& object) {
  return {child, Event::Kind::kOutputLine, app::JsonLine(object), 0};
}

Event Progress(size_t child, const char* section, int percent) {
  return Out(child, {{"event", "progress"},
                     {"status", "Update..."},
                     {"section", section},
                     {"section_percent", percent},
                     {"run_percent", 50 + percent / 2},
                     {"seconds_left", app::JsonSeconds(4000)}});
}

class AllPrintersTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  FakeRunner runner{clock};
  std::ostringstream out;
  std::vector<app::PrinterInfo> printers = {
      {1, "04710055", "/dev/usb/lp0", "1-1.4", "S1", "lp0"},
      {2, "04710055", "/dev/usb/lp1", "1-1.5", "S2", "lp1"},
  };
};

TEST_F(AllPrintersTest, EveryPrinterByAChildPinnedToItsPortAndATableAtTheEnd) {
  runner.script = {
      {Out(0, {{"event", "step"}, {"status", "Update..."}}), Progress(0, "font", 3),
       Progress(0, "font", 12), Progress(0, "font", 15)},
      {{1, Event::Kind::kErrorLine, "Error: Write Flash Error!", 0},
       Out(1, {{"event", "outcome"},
               {"message", "Write Flash Error!"},
               {"detail", "font block at 0 not acknowledged"},
               {"exit_status", 3}}),
       {1, Event::Kind::kExited, {}, 3}},
      {Out(0, {{"event", "outcome"}, {"message", "Update Success!"}}),
       {0, Event::Kind::kExited, {}, 0}},
  };
  app::AllPrinters all(printers, {"--package", "p.fwp"}, runner, clock, out, false);
  EXPECT_EQ(all.Run({}), 3);
  ASSERT_EQ(runner.started.size(), 2u);
  EXPECT_EQ(runner.started[1], (std::vector<std::string>{"--package", "p.fwp", "--device",
                                                         "port:1-1.5", "--json", "--yes"}));
  EXPECT_EQ(out.str(),
            "1-1.4: Update...\n"
            "1-1.4: Update... | font 0% | total 51% | 0:04 left\n"
            "1-1.4: Update... | font 10% | total 56% | 0:04 left\n"
            "USB PORT  SERIAL  OUTCOME                             TIME\n"
            "1-1.4     S1      Update Success!                     0:01\n"
            "1-1.5     S2      Write Flash Error! (exit status 3)  0:01\n"
            "1-1.5: font block at 0 not acknowledged\n");
}

// A serial number can hold any bytes: in the question and the table it is one cell, shown
// escaped, and cannot forge a row.
TEST_F(AllPrintersTest, TheQuestionAndTheTableShowTheSerialEscaped) {
  printers[1].serial = "S\x1b[31m\r\n1-1.9     FAKE\xc2\x85\x9b\xff";
  const std::string shown = "S\\x1B[31m\\x0D\\x0A1-1.9     FAKE\\xC2\\x85\\x9B\\xFF";
  runner.script = {{{0, Event::Kind::kExited, {}, 0}}, {{1, Event::Kind::kExited, {}, 0}}};
  app::AllPrinters all(printers, {}, runner, clock, out, false);
  EXPECT_EQ(all.Confirm("p\x1b.fwp", true, {}), app::Confirmation::kYes);
  all.Run({});
  EXPECT_EQ(out.str(),
            "Package: p\\x1B.fwp\nPrinters: 1-1.4 (serial S1, /dev/usb/lp0), 1-1.5 (serial " +
                shown +
                ", /dev/usb/lp1)\nUpdate all 2 printers? [y/N] y (--yes)\n"
                "USB PORT  SERIAL" +
                std::string(shown.size() - 6, ' ') +
                "  OUTCOME  TIME\n"
                "1-1.4     S1" +
                std::string(shown.size() - 2, ' ') +
                "  done     0:01\n"
                "1-1.5     " +
                shown + "  done     0:01\n");
}

// The children's lines are read as the JSON they are: every byte of a text as it was
// written (a stray byte as the text \\xNN), members in any order or beside others, and lines that
// are no JSON object ignored.
TEST_F(AllPrintersTest, TheChildrensLinesAreReadAsTheyWereWritten) {
  runner.script = {
      {{0, Event::Kind::kOutputLine, "not json", 0},
       {0, Event::Kind::kOutputLine, "{\"event\":\"outcome\",\"message\":", 0},
       {0, Event::Kind::kOutputLine, "[1]", 0},
       Out(0, {{"printer", {{"port_path", "1-1.4"}}},
               {"items", app::Json::array({app::Json{{"a", "]}"}}})},
               {"time", app::JsonSeconds(1500)},
               {"ok", true},
               {"message", app::JsonText("q\"\\\r\n\x01\xC3\xBC\xFF")},
               {"event", "outcome"},
               {"detail", nullptr}}),
       {0, Event::Kind::kExited, {}, 1}},
      {{1, Event::Kind::kExited, {}, 0}},
  };
  app::AllPrinters all(printers, {}, runner, clock, out, false);
  all.Run({});
  EXPECT_EQ(all.Jobs()[0].message, "q\"\\\r\n\x01\xC3\xBC\\xFF");
  EXPECT_EQ(all.Jobs()[0].detail, "");
}

TEST_F(AllPrintersTest, StopsArePassedOnAndAChildThatCannotStartFails) {
  runner.failToStart = "port:1-1.4";
  runner.script = {{}, {{0, Event::Kind::kExited, {}, 130}}};
  app::StopRequests requests{1, 0};
  int polls = 0;
  app::AllPrinters all(printers, {"--headless"}, runner, clock, out, false);
  EXPECT_EQ(all.Run([&] {
    if (polls++ == 1) requests.interrupts = 2;
    return requests;
  }),
            130);
  EXPECT_EQ(runner.interrupts, 1);  // the one that came after the start
  EXPECT_EQ(all.Jobs()[0].exitStatus, 1);
  EXPECT_NE(out.str().find("1-1.4: could not start: no such file\n"), std::string::npos);
}

TEST_F(AllPrintersTest, TheQuestionNamesEveryPrinter) {
  app::AllPrinters all(printers, {}, runner, clock, out, false);
  EXPECT_EQ(all.Confirm("p.fwp", false, {}), app::Confirmation::kCannotAsk);
  EXPECT_EQ(all.Confirm("p.fwp", false,
                        [](int) {
                          return app::TypedLine{app::TypedLine::State::kLine, "y"};
                        }),
            app::Confirmation::kYes);
  EXPECT_EQ(out.str(),
            "Package: p.fwp\nPrinters: 1-1.4 (serial S1, /dev/usb/lp0), 1-1.5 (serial S2, "
            "/dev/usb/lp1)\nUpdate all 2 printers? [y/N]\n  Not updated: there is no terminal "
            "to answer at. Give --yes to update without the question.\n"
            "Package: p.fwp\nPrinters: 1-1.4 (serial S1, /dev/usb/lp0), 1-1.5 (serial S2, "
            "/dev/usb/lp1)\nUpdate all 2 printers? [y/N] ");

  out.str("");
  // Ctrl-C while the question waits.
  app::StopRequests requests;
  EXPECT_EQ(all.Confirm(
                "p.fwp", false,
                [&](int) {
                  requests.interrupts = 1;
                  return app::TypedLine{app::TypedLine::State::kNothingYet, {}};
                },
                [&] { return requests; }),
            app::Confirmation::kNo);
  EXPECT_EQ(out.str().substr(out.str().size() - 30), "Update all 2 printers? [y/N] \n");
}

}  // namespace
}  // namespace apptest
