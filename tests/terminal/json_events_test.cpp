// JSON text for scripts: every byte a printer may send written as valid JSON, and the
// events and outcome of a run as --json writes them.
#include "terminal/json_events.h"

#include <gtest/gtest.h>

#include <sstream>

#include "fakes.h"
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
  run.printer = app::PrinterInfo{1, "04710055", "/dev/usb/lp0", "1-1.4", "S1", "lp0"};
  run.package = app::PackageFacts{"v2", {{"font", "f.bin", 140000}}};
  events.Outcome(run, 3);

  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + 6u + 1u);  // 600 ms of progress: 6 events
  EXPECT_EQ(lines[0], "{\"event\":\"step\",\"time\":0.000,\"status\":\"Send frw\"}");
  EXPECT_EQ(lines[1],
            "{\"event\":\"progress\",\"time\":0.000,\"status\":\"Update...\",\"section\":\"font\","
            "\"section_percent\":0,\"run_percent\":50,\"seconds_left\":9.000}");
  EXPECT_EQ(lines[7],
            "{\"event\":\"outcome\",\"time\":1.600,\"status\":\"incomplete\",\"exit_status\":3,"
            "\"message\":\"Write Flash Error!\",\"detail\":\"font block at 0 not acknowledged\","
            "\"printer\":{\"port_path\":\"1-1.4\",\"serial\":\"S1\",\"node\":\"/dev/usb/lp0\","
            "\"id\":\"04710055\"},\"package\":{\"version\":\"v2\",\"items\":[{\"type\":\"font\","
            "\"file\":\"f.bin\",\"size\":140000}]},\"durations\":{\"total\":1.600,"
            "\"writing\":1.100}}");
}

}  // namespace
}  // namespace apptest
