// --all --json: each child's outcome as it wrote it, an outcome for a child that wrote
// none, and the summary last; a run that started no child has the summary alone.
#include "terminal/all_printers_json.h"

#include <gtest/gtest.h>

#include <deque>
#include <sstream>

#include "fakes.h"
#include "json_collect.h"
#include "terminal/exit_status.h"
#include "terminal/json_events.h"

namespace apptest {
namespace {

using Event = app::ChildRunner::Event;

// Children that say what the script says, one batch per poll.
class ScriptedChildren final : public app::ChildRunner {
 public:
  bool Start(const std::vector<std::string>& args, std::string& error) override {
    if (args.back() != "--yes" || started == refuseFrom) {
      error = "out of processes";
      return false;
    }
    ++started;
    return true;
  }
  std::vector<Event> Poll(int) override {
    if (script.empty()) return {};
    std::vector<Event> batch = script.front();
    script.pop_front();
    for (const Event& event : batch)
      exited += event.kind == Event::Kind::kExited ? 1 : 0;
    return batch;
  }
  bool AllExited() const override { return exited == started; }
  void Interrupt() override {}
  void Terminate() override {}

  std::deque<std::vector<Event>> script;
  size_t started = 0, exited = 0;
  size_t refuseFrom = 99;
};

app::RunRecord ChildRun(const app::PrinterInfo& printer, bool success) {
  app::RunRecord run;
  run.success = success;
  run.flashReached = true;
  run.message = success ? "Update Success!" : "Write Flash Error!";
  run.printer = printer;
  run.package = app::PackageFacts{"/no/p.fwp", 0, {}, "v1", {{"frw", "fw.bin", 3000}}};
  return run;
}

class AllPrintersJsonTest : public ::testing::Test {
 protected:
  // Runs --all as the program does, with the JSON on json.
  int RunAll() {
    app::AllPrinters all(printers, {"--package", "/no/p.fwp"}, children, clock, table, false);
    app::JsonEvents events(json, clock);
    const app::PackageFacts package{"/no/p.fwp", 0, {}, "", {}};
    all.SetOutcomeSink([&](app::AllPrinters::Job& job) {
      if (job.outcomeLine.empty()) {
        job.outcome = app::MissingOutcomeJson(job, package, events.SinceStartMs());
        events.Write(job.outcome);
      } else {
        json << job.outcomeLine << '\n';
      }
    });
    const int status = all.Run({});
    events.Write(app::AllSummaryJson(all.Jobs(), status, events.SinceStartMs()));
    jsoncollect::Collect(json.str());
    return status;
  }
  std::vector<app::Json> Objects() const {
    std::vector<app::Json> objects;
    std::istringstream in(json.str());
    for (std::string line; std::getline(in, line);)
      objects.push_back(app::ReadJsonLine(line));
    return objects;
  }
  Event Outcome(size_t child, bool success) {
    return {
        child, Event::Kind::kOutputLine,
        app::JsonLine(app::OutcomeJson(ChildRun(printers[child], success), success ? 0 : 3, 100)),
        0};
  }

  VirtualClock clock;
  ScriptedChildren children;
  std::ostringstream table, json;
  std::vector<app::PrinterInfo> printers = {
      {1, "04710055", "/dev/usb/lp0", "1-1.4", "S1", "lp0"},
      {2, "04710055", "/dev/usb/lp1", "1-1.5", "S2", "lp1"},
      {3, "04710055", "/dev/usb/lp2", "1-1.6", "S3", "lp2"},
  };
};

// The children's outcome lines go out as they were written, in the order they came; a
// child killed while it sent the image gets an outcome that says the printer may hold
// incomplete firmware.
TEST_F(AllPrintersJsonTest, EveryPrintersOutcomeThenTheSummary) {
  children.script = {
      {Outcome(1, true), {1, Event::Kind::kExited, {}, 0}},
      {{2, Event::Kind::kOutputLine, "{\"schema\":1,\"event\":\"step\",\"status\":\"Send frw\"}",
        0},
       {2, Event::Kind::kErrorLine, "killed", 0},
       {2, Event::Kind::kExited, {}, 143}},
      {Outcome(0, false), {0, Event::Kind::kExited, {}, 3}},
  };
  EXPECT_EQ(RunAll(), 143);
  const std::vector<app::Json> objects = Objects();
  ASSERT_EQ(objects.size(), 4u) << json.str();
  std::istringstream lines(json.str());
  std::string first;
  std::getline(lines, first);
  EXPECT_EQ(first, app::JsonLine(app::OutcomeJson(ChildRun(printers[1], true), 0, 100)));
  EXPECT_EQ(objects[1]["status"], "stopped_after_image");
  EXPECT_EQ(objects[1]["exit_status"], 143);
  EXPECT_EQ(objects[1]["printer"]["port_path"], "1-1.6");
  EXPECT_EQ(objects[1]["detail"], "killed");
  EXPECT_EQ(objects[2]["status"], "failed_after_image");
  const app::Json& summary = objects[3];
  EXPECT_EQ(summary["event"], "summary");
  EXPECT_EQ(summary["status"], "stopped_after_image");
  EXPECT_EQ(summary["exit_status"], 143);
  EXPECT_EQ(summary["message"], "2 of 3 printers were not updated");
  ASSERT_EQ(summary["printers"].size(), 3u);
  EXPECT_EQ(summary["printers"][0]["port_path"], "1-1.4");
  EXPECT_EQ(summary["printers"][0]["status"], "failed_after_image");
  EXPECT_EQ(summary["printers"][0]["message"], "Write Flash Error!");
  EXPECT_EQ(summary["printers"][1]["status"], "success");
}

TEST_F(AllPrintersJsonTest, AChildThatCannotStartHasAnOutcomeToo) {
  printers.resize(2);
  children.refuseFrom = 1;
  children.script = {{Outcome(0, true), {0, Event::Kind::kExited, {}, 0}}};
  EXPECT_EQ(RunAll(), app::kExitFailure);
  const std::vector<app::Json> objects = Objects();
  ASSERT_EQ(objects.size(), 3u) << json.str();
  EXPECT_EQ(objects[0]["status"], "failed");
  EXPECT_EQ(objects[0]["message"], "its update could not start");
  EXPECT_EQ(objects[0]["detail"], "could not start: out of processes");
  EXPECT_EQ(objects[0]["package"]["path"], "/no/p.fwp");
  EXPECT_EQ(objects[1]["status"], "success");
  EXPECT_EQ(objects[2]["status"], "failed");
  EXPECT_EQ(objects[2]["message"], "1 of 2 printers was not updated");
}

TEST_F(AllPrintersJsonTest, EveryPrinterUpdated) {
  printers.resize(2);
  children.script = {{Outcome(0, true), Outcome(1, true)},
                     {{0, Event::Kind::kExited, {}, 0}, {1, Event::Kind::kExited, {}, 0}}};
  EXPECT_EQ(RunAll(), 0);
  const app::Json summary = Objects().back();
  EXPECT_EQ(summary["status"], "success");
  EXPECT_EQ(summary["message"], "Update Success!");
  EXPECT_EQ(summary["detail"], "");
}

// No child started: the summary alone, with the reason.
TEST(AllPrintersSummaryTest, ARunThatStartedNoChildSaysWhy) {
  app::RunRecord none;
  none.message = "Can not open usb port!";
  none.detail = "no VRQPrinter found on USB";
  app::RunRecord declined;
  declined.declined = true;
  app::RunRecord stopped;
  stopped.stopped = app::StopCause::kInterrupt;
  std::string lines;
  for (const auto& [run, word] : std::vector<std::pair<app::RunRecord, std::string>>{
           {none, "failed"}, {declined, "declined"}, {stopped, "stopped"}}) {
    const app::Json summary = app::AllSummaryJson(run, app::ExitStatusOf(run), 0);
    EXPECT_EQ(summary["status"], word);
    EXPECT_EQ(summary["exit_status"], app::ExitStatusOf(run));
    EXPECT_FALSE(summary["message"].get<std::string>().empty());
    EXPECT_EQ(summary["printers"], app::Json::array());
    lines += app::JsonLine(summary) + "\n";
  }
  EXPECT_EQ(app::AllSummaryJson(none, 1, 0)["detail"], "no VRQPrinter found on USB");
  jsoncollect::Collect(lines);
}

}  // namespace
}  // namespace apptest
