// --verbose: the dialogue of a whole update, with times, and no data dumped.
#include "terminal/verbose_log.h"

#include <gtest/gtest.h>

#include "workflow_fixture.h"

namespace apptest {
namespace {

TEST(VerboseLogTest, LinesCarryTheTimeAndShowEveryByte) {
  VirtualClock clock;
  std::vector<std::string> lines;
  app::VerboseLog log(clock, [&](const std::string& line) { lines.push_back(line); });
  clock.SleepMs(1234);
  log.Sent("CKID\r\n", 6);
  log.Sent("LINK\r\n", -1);
  log.Received(std::string("OK\x00\x1b\xff\\\r\n", 8));
  log.Note("closed /dev/usb/lp0");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[    1.234] -> CKID\\r\\n",
                       "[    1.234] -> LINK\\r\\n  (not written: the printer is gone or not open)",
                       "[    1.234] <- OK\\x00\\x1B\\xFF\\\\\\r\\n",
                       "[    1.234] -- closed /dev/usb/lp0",
                   }));
}

TEST_F(WorkflowTest, AVerboseUpdateSummarisesEveryDataBlock) {
  WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(140000))});
  std::vector<std::string> lines;
  app::VerboseLog log(clock, [&](const std::string& line) { lines.push_back(line); });
  channel.SetDialogueLog(&log);
  form->RunUpdate();
  channel.SetDialogueLog(nullptr);
  ASSERT_THAT(BoxTexts(), ::testing::ElementsAre("Info: Update Success!"));
  std::vector<std::string> blocks, sent;
  for (const std::string& line : lines) {
    EXPECT_LT(line.size(), 200u) << line;  // no hex text
    if (line.find(" -- font block") != std::string::npos) blocks.push_back(line.substr(15));
    if (line.find(" -> ") != std::string::npos) sent.push_back(line.substr(15));
  }
  EXPECT_THAT(blocks, ::testing::ElementsAre(
                          ::testing::StartsWith("font block: offset 0, 131072 bytes, sum "),
                          ::testing::StartsWith("font block: offset 131072, 8928 bytes, sum ")));
  EXPECT_THAT(sent, ::testing::IsSupersetOf(
                        {"CONNECT\\r\\n", "DF 0 536870912 2 3\\r\\n", "CKID\\r\\n", "LINK\\r\\n"}));
  EXPECT_THAT(lines, ::testing::Contains(::testing::HasSubstr("<- Connect Success!\\r\\n")));
  EXPECT_THAT(lines, ::testing::Contains(::testing::HasSubstr(
                         "-- opened /dev/usb/lp0 (USB port 1-1.4, serial VRQSIM0001)")));
}

}  // namespace
}  // namespace apptest
