// The update history as the workflow reports to it: one record for every update that
// had the printer open, however it ended, and none for one that never opened it or for
// the maker; a history that cannot take the record only warns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "workflow/update_history.h"
#include "workflow_fixture.h"

namespace apptest {
namespace {

using ::testing::ElementsAre;

class FakeHistory final : public app::UpdateHistory {
 public:
  std::string Record(const app::RunRecord& run) override {
    runs.push_back(run);
    return problem;
  }
  std::optional<app::PastUpdate> LatestFor(const std::string&, std::vector<std::string>&) override {
    return std::nullopt;
  }
  std::vector<app::RunRecord> runs;
  std::string problem;  // what Record answers
};

class HistoryTest : public WorkflowTest {
 protected:
  HistoryTest() {
    fake = std::make_shared<FakeHistory>();
    history = fake;
    MakeForm(exe);
  }
  std::shared_ptr<FakeHistory> fake;
};

TEST_F(HistoryTest, ASuccessIsRecordedWithItsPrinterAndPackage) {
  WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(5000))});
  form->Button1Click();
  ASSERT_TRUE(form->LastRunSucceeded());
  ASSERT_EQ(fake->runs.size(), 1u);
  const app::RunRecord& run = fake->runs[0];
  EXPECT_TRUE(run.success);
  ASSERT_TRUE(run.printer);
  EXPECT_EQ(run.printer->portPath, form->LastRun().printer->portPath);
  ASSERT_TRUE(run.package);
  EXPECT_EQ(run.package->path, (dir / "pkg.fwp").string());
  EXPECT_TRUE(run.flashStartedMs);
  EXPECT_GE(run.endedMs, *run.flashStartedMs);
  EXPECT_TRUE(form->LastRun().warnings.empty());
}

TEST_F(HistoryTest, AFailureAfterTheOpenIsRecordedAndOneBeforeItIsNot) {
  WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(5000))});
  printer.ckidReply = "ERR\r\n";
  form->Button1Click();
  ASSERT_EQ(fake->runs.size(), 1u);
  EXPECT_FALSE(fake->runs[0].success);
  EXPECT_TRUE(fake->runs[0].flashReached);
  EXPECT_EQ(fake->runs[0].message, "No MAC ADDR!");

  printer.present = false;  // nothing opened: nothing to record
  form->Button1Click();
  EXPECT_EQ(fake->runs.size(), 1u);
}

TEST_F(HistoryTest, AStopAfterTheOpenIsRecorded) {
  WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(5000))});
  app::StopRequests requests;
  form->SetStopSource([&requests] { return requests; });
  printer.connectReply = "";  // the wait for it is where the interrupt lands
  printer.onLine = [&requests](const std::string& line) {
    if (line == "CONNECT") requests.interrupts = 1;
  };
  form->Button1Click();
  ASSERT_EQ(fake->runs.size(), 1u);
  EXPECT_EQ(fake->runs[0].stopped, app::StopCause::kInterrupt);
}

TEST_F(HistoryTest, AHistoryThatCannotTakeTheRecordOnlyWarns) {
  WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(5000))});
  fake->problem = "cannot write /state/history.jsonl: Read-only file system";
  form->Button1Click();
  EXPECT_TRUE(form->LastRunSucceeded());
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  const std::string warning =
      "the update is not in the update history: cannot write /state/history.jsonl: Read-only "
      "file system";
  EXPECT_THAT(form->LastRun().warnings, ElementsAre(warning));
  EXPECT_THAT(ui.notices, ElementsAre("Warning: " + warning));
}

TEST_F(HistoryTest, TheMakerRecordsNothing) {
  const std::string package = WritePackage({Item("frw", "fw.bin", {1, 2})});
  form->SetMakerMode(true);
  form->RunOperation(package);
  EXPECT_TRUE(fake->runs.empty());
}

}  // namespace
}  // namespace apptest
