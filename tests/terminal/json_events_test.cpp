// JSON text for scripts: every byte a printer may send written as valid JSON, and the
// events and outcome of a run as --json writes them.
#include "terminal/json_events.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fakes.h"
#include "json_collect.h"
#include "terminal/exit_status.h"
#include "terminal/json_line.h"

namespace apptest {
namespace {

// What a JSON string reads back as.
std::string ReadBack(const std::string& line) {
  const app::Json value = app::ReadJsonLine(line);
  return value.is_string() ? value.get<std::string>() : "(no JSON text: " + line + ")";
}

TEST(JsonLineTest, EveryByteComesOutAsValidJson) {
  EXPECT_EQ(app::JsonLine(app::JsonText("plain")), "\"plain\"");
  EXPECT_EQ(app::JsonLine(app::JsonText("q\"b\\s/")), "\"q\\\"b\\\\s/\"");
  EXPECT_EQ(app::JsonLine(app::JsonText("OK\r\n\t")), "\"OK\\r\\n\\t\"");
  EXPECT_EQ(app::JsonLine(app::JsonText(std::string("\x00\x1b", 2))), "\"\\u0000\\u001b\"");
  EXPECT_EQ(ReadBack(app::JsonLine(app::JsonText("\x7f"))), "\x7f");
  // Valid UTF-8 passes, C1 controls too (a JSON reader reads them back as they were); the
  // bytes of broken, overlong or surrogate sequences read back one by one as the text
  // \xNN, which no real character is mistaken for (0xFF is not "ÿ").
  EXPECT_EQ(app::JsonLine(app::JsonText("gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x96\xA8")),
            "\"gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x96\xA8\"");
  EXPECT_EQ(ReadBack(app::JsonLine(app::JsonText("\xC2\x9B"))), "\xC2\x9B");
  // ... though a C1 control is written as \u00NN, as the C0 controls are, so that a
  // terminal showing the line does not act on it.
  EXPECT_EQ(app::JsonLine(app::JsonText("a\xC2\x9B[2J\xC2\x80\xC2\xA0")),
            "\"a\\u009b[2J\\u0080\xC2\xA0\"");
  EXPECT_EQ(app::JsonLine(app::JsonText("\xFF\xC3")), "\"\\\\xFF\\\\xC3\"");
  EXPECT_EQ(ReadBack(app::JsonLine(app::JsonText("\xFF\xC3"))), "\\xFF\\xC3");
  EXPECT_NE(ReadBack(app::JsonLine(app::JsonText("\xFF"))),
            ReadBack(app::JsonLine(app::JsonText("\xC3\xBF"))));
  EXPECT_EQ(ReadBack(app::JsonLine(app::JsonText("\xC0\xAF"))), "\\xC0\\xAF");
  EXPECT_EQ(ReadBack(app::JsonLine(app::JsonText("\xED\xA0\x80"))), "\\xED\\xA0\\x80");
  EXPECT_EQ(ReadBack(app::JsonLine(app::JsonText("\xE2\x82"))), "\\xE2\\x82");
  // A text put in without JsonText is written the same way, deep inside a value too.
  EXPECT_EQ(app::JsonLine({{"a", {{"serial", std::string("S\xFF")}}}, {"b", {"ok", "\x80"}}}),
            "{\"a\":{\"serial\":\"S\\\\xFF\"},\"b\":[\"ok\",\"\\\\x80\"]}");

  // Members in the order given, durations to the millisecond; a text that looks like a
  // number stays a text.
  const app::Json nested = {{"n", -3}, {"b", false}, {"z", nullptr}};
  EXPECT_EQ(app::JsonLine({{"k", "v"},
                           {"t", app::JsonSeconds(12345)},
                           {"o", nested},
                           {"a", app::Json::array({app::Json{{"s", app::JsonSeconds(7)}}})},
                           {"x", app::JsonText("a\".5")}}),
            "{\"k\":\"v\",\"t\":12.345,\"o\":{\"n\":-3,\"b\":false,\"z\":null},"
            "\"a\":[{\"s\":0.007}],\"x\":\"a\\\".5\"}");
  EXPECT_EQ(app::JsonLine(app::Json::array()), "[]");
  EXPECT_TRUE(app::ReadJsonLine("{\"a\":").is_discarded());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::string Version() {
  return app::ProgramVersion();
}

TEST(JsonEventsTest, ProgressAtMostTenASecondAndTheOutcomeWithItsFacts) {
  VirtualClock clock;
  std::ostringstream out;
  app::JsonEvents events(out, clock);
  events.Step("Send frw");
  for (int i = 0; i < 30; ++i) {
    events.Progress("Update...", {"font", i, 50, 9000});
    clock.SleepMs(20);
  }
  clock.SleepMs(1000);
  app::RunRecord run;
  run.message = "Write Flash Error!";
  run.detail = "font block at 0 not acknowledged";
  run.flashReached = true;
  run.startedMs = 1000;
  run.flashStartedMs = 1500;
  run.endedMs = clock.now;
  run.warnings = {"item \"f.bin\": its packed stream ends after 29 of its 2048 bytes"};
  run.printer = app::PrinterInfo{1, "04710055", "/dev/usb/lp0", "1-1.4", "S1", "lp0"};
  run.package = app::PackageFacts{"/no/such/u.fwp", 0, {}, "v2", {{"font", "f.bin", 140000}}};
  events.Outcome(run, 3);
  jsoncollect::Collect(out.str());

  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 1u + 6u + 1u);  // 600 ms of progress: 6 events
  EXPECT_EQ(lines[0], "{\"schema\":1,\"event\":\"step\",\"time\":0.000,\"status\":\"Send frw\"}");
  EXPECT_EQ(
      lines[1],
      "{\"schema\":1,\"event\":\"progress\",\"time\":0.000,\"status\":\"Update...\","
      "\"section\":\"font\",\"section_percent\":0,\"run_percent\":50,\"seconds_left\":9.000}");
  // A package that cannot be read has no SHA-256.
  EXPECT_EQ(lines[7],
            "{\"schema\":1,\"event\":\"outcome\",\"time\":1.600,\"program_version\":\"" +
                Version() +
                "\",\"status\":\"failed_after_image\",\"exit_status\":3,"
                "\"message\":\"Write Flash Error!\",\"detail\":\"font block at 0 not "
                "acknowledged\",\"warnings\":[\"item \\\"f.bin\\\": its packed stream ends "
                "after 29 of its 2048 bytes\"],\"printer\":{\"port_path\":\"1-1.4\",\"serial\":"
                "\"S1\",\"node\":\"/dev/usb/lp0\",\"id\":\"04710055\"},\"package\":{\"path\":"
                "\"/no/such/u.fwp\",\"sha256\":null,\"version\":\"v2\",\"items\":[{\"type\":"
                "\"font\",\"file\":\"f.bin\",\"size\":140000}]},\"durations\":{\"total\":1.600,"
                "\"writing\":1.100}}");
}

// Every way a run ends has its word, and no outcome goes without a message.
TEST(JsonEventsTest, TheStatusTellsEveryEndingApart) {
  struct Case {
    const char* what;
    app::RunRecord run;
    std::string status;
    std::string message;
  };
  const auto record = [](auto change) {
    app::RunRecord run;
    change(run);
    return run;
  };
  const std::vector<Case> cases = {
      {"success", record([](app::RunRecord& r) {
         r.success = true;
         r.flashReached = true;
       }),
       "success", "Done."},
      {"failed", record([](app::RunRecord& r) { r.message = "Can not Run FRW!"; }), "failed",
       "Can not Run FRW!"},
      {"failed after the image", record([](app::RunRecord& r) {
         r.message = "No MAC ADDR!";
         r.flashReached = true;
       }),
       "failed_after_image", "No MAC ADDR!"},
      {"stopped before the image",
       record([](app::RunRecord& r) { r.stopped = app::StopCause::kInterrupt; }), "stopped",
       "Stopped."},
      {"stopped after the image", record([](app::RunRecord& r) {
         r.stopped = app::StopCause::kTermination;
         r.flashReached = true;
         r.message = "Stopped while writing the printer";
       }),
       "stopped_after_image", "Stopped while writing the printer"},
      {"declined", record([](app::RunRecord& r) { r.declined = true; }), "declined",
       "Not updated."},
      {"refused", record([](app::RunRecord& r) {
         r.refused = true;
         r.message = "why";
       }),
       "refused", "why"},
      {"no word at all", app::RunRecord{}, "failed", "Not updated."},
  };
  VirtualClock clock;
  std::ostringstream out;
  app::JsonEvents events(out, clock);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const app::Json outcome = app::OutcomeJson(c.run, app::ExitStatusOf(c.run), 0);
    EXPECT_EQ(outcome["status"], c.status);
    EXPECT_EQ(outcome["message"], c.message);
    EXPECT_EQ(outcome["printer"], nullptr);
    EXPECT_EQ(outcome["package"], nullptr);
    EXPECT_EQ(outcome["warnings"], app::Json::array());
    events.Outcome(c.run, app::ExitStatusOf(c.run), {{"findings", app::Json::array()}});
  }
  jsoncollect::Collect(out.str());
  EXPECT_EQ(Lines(out.str()).size(), cases.size());
}

// The SHA-256 names the package's bytes: a package file and the same package linked
// into an update application give the same one.
TEST(JsonEventsTest, ThePackagesSha256IsThatOfItsOwnBytes) {
  const std::string folder = ::testing::TempDir() + "json_events_sha256";
  std::filesystem::create_directories(folder);
  const std::string package = folder + "/u.fwp", application = folder + "/u.run";
  std::ofstream(package, std::ios::binary) << "abc";
  std::ofstream(application, std::ios::binary) << "program"
                                               << "abc"
                                               << "trailer";
  app::PackageFacts file{package, 0, {}, "", {}};
  app::PackageFacts linked{application, 7, 3, "", {}};
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  EXPECT_EQ(app::PackageSha256(file), abc);
  EXPECT_EQ(app::PackageSha256(linked), abc);
  linked.length = 100;  // past the end of the file
  EXPECT_EQ(app::PackageSha256(linked), "");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace apptest
