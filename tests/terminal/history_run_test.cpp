// --history as a table and as JSON, and what --skip-updated decides from the newest
// update of a printer, on a fake history.
#include "terminal/history_run.h"

#include <gtest/gtest.h>

#include <sstream>

#include "json_collect.h"
#include "terminal/exit_status.h"
#include "terminal/json_events.h"

namespace apptest {
namespace {

const std::string kSha(64, 'a');

history::HistoryRecord Record(const std::string& serial, const std::string& status) {
  history::HistoryRecord record;
  record.timeUtc = "2024-05-01T09:30:00Z";
  record.programVersion = "1.0.0";
  record.serial = serial;
  record.portPath = "1-1.4";
  record.packageFile = "pkg.fwp";
  record.packageSha256 = kSha;
  record.packageVersion = "V2.13";
  record.status = status;
  record.totalSeconds = 12;
  return record;
}

TEST(HistoryViewTest, ATableNewestFirstAndWarningsOnTheSide) {
  history::ReadOutcome read;
  read.records = {Record("A1", "success"), Record("", "failed_after_image")};
  read.records[1].packageVersion.clear();
  read.records[1].serial = "";
  read.warnings = {"history line 3 is damaged; skipped (/h/history.jsonl: not JSON)"};
  std::ostringstream out, err;
  EXPECT_EQ(app::ShowHistory(read, false, out, err), app::kExitSuccess);
  EXPECT_EQ(out.str(),
            "TIME (UTC)            SERIAL  USB PORT  PACKAGE  VERSION  STATUS\n"
            "2024-05-01T09:30:00Z  A1      1-1.4     pkg.fwp  V2.13    success\n"
            "2024-05-01T09:30:00Z  -       1-1.4     pkg.fwp  -        failed_after_image\n");
  EXPECT_EQ(err.str(),
            "vrq-update: warning: history line 3 is damaged; skipped (/h/history.jsonl: not "
            "JSON)\n");
}

TEST(HistoryViewTest, JsonIsOneArrayOfRecordsAlsoWhenEmpty) {
  std::ostringstream out, err;
  EXPECT_EQ(app::ShowHistory({}, true, out, err), app::kExitSuccess);
  EXPECT_EQ(out.str(), "[]\n");
  history::ReadOutcome read;
  read.records = {Record("A1", "success"), Record("B2", "stopped")};
  out.str("");
  app::ShowHistory(read, true, out, err);
  const app::Json array = app::ReadJsonLine(out.str());
  ASSERT_TRUE(array.is_array()) << out.str();
  ASSERT_EQ(array.size(), 2u);
  EXPECT_EQ(array[0]["schema"], 1);
  EXPECT_EQ(array[1]["printer"]["serial"], "B2");
  for (const app::Json& record : array)
    jsoncollect::Collect(app::JsonLine(record));
}

class FakeHistory final : public app::UpdateHistory {
 public:
  std::string Record(const app::RunRecord&) override { return {}; }
  std::optional<app::PastUpdate> LatestFor(const std::string& serial,
                                           std::vector<std::string>& warnings) override {
    asked.push_back(serial);
    warnings.insert(warnings.end(), damage.begin(), damage.end());
    return latest;
  }
  std::optional<app::PastUpdate> latest;
  std::vector<std::string> asked, damage;
};

class SkipTest : public ::testing::Test {
 protected:
  app::SkipCheck Check(const std::string& sha256 = kSha) {
    return app::CheckSkipUpdated(printer, package, sha256, history);
  }
  app::PrinterInfo printer{1, "04710055", "/dev/usb/lp0", "1-1.4", "A1", "lp0"};
  app::PackageFacts package{"/p/pkg.fwp", 0, {}, "", {}};
  FakeHistory history;
};

TEST_F(SkipTest, ThePrinterIsLeftOutOnlyAfterASuccessWithTheSamePackage) {
  EXPECT_FALSE(Check().unchanged);  // no update of it yet
  history.latest = app::PastUpdate{"2024-05-01T09:30:00Z", "success", kSha, "V2.13"};
  const app::SkipCheck same = Check();
  ASSERT_TRUE(same.unchanged);
  EXPECT_EQ(app::OutcomeStatus(same.run), "unchanged");
  EXPECT_EQ(app::ExitStatusOf(same.run), app::kExitSuccess);
  EXPECT_EQ(same.run.message, "Already updated with this package.");
  EXPECT_EQ(same.run.package->versionLabel, "V2.13");
  EXPECT_EQ(same.run.printer->portPath, "1-1.4");
  const app::Json outcome = app::OutcomeJson(same.run, 0, 5);
  EXPECT_EQ(outcome["status"], "unchanged");
  jsoncollect::Collect(app::JsonLine(outcome));
  EXPECT_EQ(history.asked.back(), "A1");

  EXPECT_FALSE(Check(std::string(64, 'b')).unchanged);  // another package
  EXPECT_FALSE(Check("").unchanged);                    // a package that cannot be read
  for (const char* status : {"failed", "failed_after_image", "stopped_after_image", "declined"}) {
    history.latest->status = status;
    EXPECT_FALSE(Check().unchanged) << status;
  }
  history.latest->status = "success";
  history.latest->packageSha256.reset();
  EXPECT_FALSE(Check().unchanged);
}

TEST_F(SkipTest, APrinterWithoutASerialIsAlwaysUpdatedAndSaysSo) {
  history.latest = app::PastUpdate{"2024-05-01T09:30:00Z", "success", kSha, "V2.13"};
  printer.serial.clear();
  const app::SkipCheck check = Check();
  EXPECT_FALSE(check.unchanged);
  EXPECT_EQ(check.note, "the printer has no serial number, so it is updated");
  EXPECT_TRUE(history.asked.empty());
}

TEST_F(SkipTest, DamagedHistoryLinesAreWarnings) {
  history.damage = {"history line 2 is damaged; skipped (/h: not JSON)"};
  history.latest = app::PastUpdate{"2024-05-01T09:30:00Z", "success", kSha, "V2.13"};
  const app::SkipCheck check = Check();
  EXPECT_TRUE(check.unchanged);
  EXPECT_EQ(check.warnings, history.damage);
  EXPECT_EQ(check.run.warnings, history.damage);
}

}  // namespace
}  // namespace apptest
