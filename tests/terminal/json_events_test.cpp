// JSON text for scripts: every byte a printer may send escaped into valid JSON, and the
// events and outcome of a run as --json writes them.
#include "terminal/json_writer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "fakes.h"
#include "terminal/json_events.h"

namespace apptest {
namespace {

TEST(JsonWriterTest, EveryByteComesOutAsValidJson) {
  EXPECT_EQ(app::JsonString("plain"), "\"plain\"");
  EXPECT_EQ(app::JsonString("q\"b\\s/"), "\"q\\\"b\\\\s/\"");
  EXPECT_EQ(app::JsonString("OK\r\n\t"), "\"OK\\r\\n\\t\"");
  EXPECT_EQ(app::JsonString(std::string("\x00\x1b\x7f", 3)), "\"\\u0000\\u001b\\u007f\"");
  // Valid UTF-8 passes; the bytes of broken, overlong or surrogate sequences are escaped
  // one by one.
  EXPECT_EQ(app::JsonString("gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x96\xA8"),
            "\"gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x96\xA8\"");
  EXPECT_EQ(app::JsonString("\xFF\xC3"), "\"\\u00ff\\u00c3\"");
  EXPECT_EQ(app::JsonString("\xC0\xAF"), "\"\\u00c0\\u00af\"");
  EXPECT_EQ(app::JsonString("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
  EXPECT_EQ(app::JsonString("\xE2\x82"), "\"\\u00e2\\u0082\"");

  app::JsonObject nested;
  nested.Number("n", -3).Bool("b", false).Null("z");
  EXPECT_EQ(app::JsonObject()
                .Text("k", "v")
                .Seconds("t", 12345)
                .Object("o", nested)
                .Array("a", {app::JsonObject().Seconds("s", 7)})
                .Str(),
            "{\"k\":\"v\",\"t\":12.345,\"o\":{\"n\":-3,\"b\":false,\"z\":null},"
            "\"a\":[{\"s\":0.007}]}");
  EXPECT_EQ(app::JsonArray({}), "[]");
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
