// The maker: what a made update application holds, and what a failed or stopped make
// leaves (nothing).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "package/linked_package.h"
#include "package/package_scan.h"
#include "platform/file.h"
#include "workflow/maker.h"
#include "workflow_fixture.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

class MakerTest : public WorkflowTest {
 public:
  MakerTest() { form->SetMakerMode(true); }
  std::string Extracted(const std::string& executable) {
    std::string out = (dir / "extracted").string();
    EXPECT_GE(fwp::ExtractLinkedPackage(executable, out), 0);
    std::ifstream in(out, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(MakerTest, MakesARunFileBesideThePackage) {
  std::string package = WritePackage({Item("frw", "fw.bin", Bytes(5000))});
  fs::permissions(exe, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  std::ofstream(dir / "pkg.run") << "an older one";

  form->Button1Click();

  EXPECT_THAT(BoxTexts(), ElementsAre("Information: make new update application Success"));
  const std::string made = (dir / "pkg.run").string();
  EXPECT_EQ(ui.boxes[0].detail, made);
  EXPECT_THAT(ui.notices, ElementsAre("Replaced the existing " + made));
  EXPECT_TRUE(form->LastRunSucceeded());
  EXPECT_THAT(ui.buttonStates, ElementsAre(false, true));
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0].defaultExtension, "fwp");
  EXPECT_EQ(fs::file_size(made), fs::file_size(exe) + fs::file_size(package) + 36);
  EXPECT_EQ(fs::status(made).permissions(), fs::status(exe).permissions());
  EXPECT_TRUE(fwp::FindLinkedPackage(made).checksum.has_value());
  EXPECT_TRUE(fwp::FindLinkedPackage(made).programChecksum.has_value());
  EXPECT_EQ(Extracted(made), Read(package));  // which compares the checksum
}

TEST_F(MakerTest, TheNewestPackageWinsInACopyOfAnUpdateApplication) {
  std::string first = WritePackage({Item("frw", "a.bin", {1})}, {}, "first.fwp");
  ASSERT_GT(fwp::AppendLinkedPackage(exe, first), 0);
  std::string second = WritePackage({Item("frw", "b.bin", {2})}, {}, "a.b.fwp");
  EXPECT_EQ(form->MakeUpdateApp(second), 0);
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_TRUE(ui.notices.empty());
  EXPECT_EQ(Extracted((dir / "a.b.run").string()), Read(second));
}

TEST_F(MakerTest, FailuresLeaveNoHalfMadeApplication) {
  ui.chosenFile.reset();
  EXPECT_EQ(form->MakeUpdateApp(""), -1);
  EXPECT_TRUE(ui.boxes.empty());

  // The link fails half way: the copy of the program is made, the append fails, the
  // copy goes.
  std::string package = WritePackage({Item("frw", "fw.bin", {1})});
  platform::InjectWriteFailureAfter(static_cast<int64_t>(fs::file_size(exe)) + 10);
  EXPECT_EQ(form->MakeUpdateApp(package), 0);
  platform::InjectWriteFailureAfter(-1);
  EXPECT_FALSE(fs::exists(dir / "pkg.run"));

  // A package named like the application it would become is never overwritten.
  package = WritePackage({Item("frw", "fw.bin", {1})}, {}, "self.run");
  std::string before = Read(package);
  EXPECT_EQ(form->MakeUpdateApp(package), 0);
  EXPECT_EQ(Read(package), before);

  // The program cannot be read.
  MakeForm((dir / "missing" / "vrq-update").string());
  form->SetMakerMode(true);
  EXPECT_EQ(form->MakeUpdateApp(WritePackage({Item("frw", "fw.bin", {1})})), 0);

  EXPECT_THAT(BoxTexts(), ElementsAre("Error: make new update application Failed",
                                      "Error: copy file error", "Error: copy file error"));
  EXPECT_FALSE(form->LastRunSucceeded());
  EXPECT_THAT(LeftOvers(), ElementsAre("self.run"));  // the package itself
}

// What an update application would refuse is refused when it is made: nothing is made
// and the detail says why.
TEST_F(MakerTest, APackageThatCannotWorkMakesNothing) {
  std::ofstream(dir / "notes.fwp") << "shopping list";
  fwp::PackageHeaderFields otherPrinter;
  otherPrinter.printerName = "LabelMaster";
  fwp::PackageHeaderFields packed;
  packed.packMode = fwp::kPackPacked;
  const std::string undecodable =
      WritePackage({Item("frw", "fw.bin", Bytes(4000))}, packed, "u.fwp");
  {
    // U far below what the stream decodes to: it runs into the decoder's capacity.
    const fwp::RecordFields record = fwp::ScanPackage(undecodable).records.at(0);
    std::fstream file(undecodable, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(record.dataOffset + 4);
    file.write("\x0A\x00\x00\x00", 4);
  }
  const std::vector<std::pair<std::string, std::string>> cases = {
      {(dir / "notes.fwp").string(), "is not an update package"},
      {(dir / "missing.fwp").string(), "No such file or directory"},
      {dir.string(), "is not a regular file"},
      {WritePackage({Item("frw", "fw.bin", {1})}, otherPrinter, "other.fwp"),
       "is made for the printer \"LabelMaster\""},
      {undecodable, "it does not decode"},
      {WritePackage({Item("frw", "fw.bin", {1}), Item("font", "FW.BIN", {2})}, {}, "twice.fwp"),
       "share the file name"},
      // What the update's firmware step would refuse: the maker and the update agree.
      {WritePackage({Item("font", "f.bin", {2})}, {}, "no-frw.fwp"), "has no \"frw\" item"},
      {WritePackage({Item("frw", "fw.bin", {}), Item("font", "f.bin", {2})}, {}, "empty.fwp"),
       "an empty image is never an update"},
      {WritePackage({Item("frw", "fw.bin", Bytes(1048577))}, {}, "huge.fwp"), "1048577 bytes"},
  };
  for (const auto& [package, reason] : cases) {
    SCOPED_TRACE(package);
    ui.boxes.clear();
    EXPECT_EQ(form->MakeUpdateApp(package), 0);
    EXPECT_THAT(BoxTexts(), ElementsAre("Error: Error fwp data!"));
    EXPECT_THAT(ui.boxes.at(0).detail, ::testing::HasSubstr(reason));
    EXPECT_THAT(LeftOvers(), ElementsAre());
  }
}

// A packed stream that ends before its item loads with zeros at the end and a warning: the
// maker makes nothing of it unless the operator says to, and the record tells what was
// worked on.
TEST_F(MakerTest, APackageWithWarningsIsMadeOnlyWhenTheOperatorSaysSo) {
  fwp::PackageHeaderFields packed;
  packed.packMode = fwp::kPackPacked;
  packed.versionLabel = "cut";
  const std::string package = WritePackage({Item("frw", "fw.bin", Bytes(29))}, packed, "cut.fwp");
  {
    // U says 2,048 bytes; the stream holds about 29.
    const fwp::RecordFields record = fwp::ScanPackage(package).records.at(0);
    std::fstream file(package, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(record.dataOffset + 4);
    file.write("\x00\x08\x00\x00", 4);
  }
  const std::string made = (dir / "cut.run").string();
  const std::string warning = "of its 2048 bytes; the last";
  std::vector<std::vector<std::string>> asked;
  app::MakerHooks hooks;
  hooks.acceptWarnings = [&](const std::vector<std::string>& warnings) {
    asked.push_back(warnings);
    return false;
  };
  app::RunRecord record;
  app::RunOutcome outcome = app::MakeUpdateApplication(exe, package, hooks, &record);
  EXPECT_EQ(outcome.message, "Error fwp data!");
  EXPECT_THAT(outcome.detail, ::testing::HasSubstr("loaded with warnings"));
  EXPECT_THAT(outcome.detail, ::testing::HasSubstr(warning));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_THAT(asked[0], ElementsAre(::testing::HasSubstr(warning)));
  EXPECT_FALSE(fs::exists(made));
  ASSERT_TRUE(record.package);
  EXPECT_EQ(record.package->path, package);
  EXPECT_EQ(record.package->versionLabel, "cut");
  ASSERT_EQ(record.package->items.size(), 1u);
  EXPECT_EQ(record.package->items[0].size, 2048);
  EXPECT_THAT(record.warnings, ElementsAre(::testing::HasSubstr(warning)));
  // Without anyone to ask, no.
  EXPECT_EQ(app::MakeUpdateApplication(exe, package).message, "Error fwp data!");
  EXPECT_THAT(LeftOvers(), ElementsAre());

  hooks.acceptWarnings = [](const std::vector<std::string>&) { return true; };
  outcome = app::MakeUpdateApplication(exe, package, hooks);
  EXPECT_TRUE(outcome.success) << outcome.detail;
  EXPECT_EQ(Extracted(made), Read(package));

  // The form asks its window.
  fs::remove(made);
  ui.answerOk = false;
  EXPECT_EQ(form->MakeUpdateApp(package), 0);
  EXPECT_EQ(ui.questions, 1);
  EXPECT_THAT(BoxTexts(), ElementsAre("Error: Error fwp data!"));
  EXPECT_THAT(form->LastRun().warnings, ElementsAre(::testing::HasSubstr(warning)));
  EXPECT_FALSE(fs::exists(made));
  ui.answerOk = true;
  EXPECT_EQ(form->MakeUpdateApp(package), 0);
  EXPECT_TRUE(form->LastRunSucceeded());
  EXPECT_TRUE(fs::exists(made));
}

// Whatever lies at NAME.run is replaced as a whole; nothing is written through it.
TEST_F(MakerTest, ASymlinkOrAnotherFilePlantedAtTheTargetIsReplacedNotWrittenThrough) {
  std::string package = WritePackage({Item("frw", "fw.bin", Bytes(3000))});
  const fs::path victim = dir / "victim";
  std::ofstream(victim) << "precious";
  fs::create_symlink(victim, dir / "pkg.run");
  EXPECT_EQ(form->MakeUpdateApp(package), 0);
  EXPECT_FALSE(fs::is_symlink(dir / "pkg.run"));
  EXPECT_EQ(Extracted((dir / "pkg.run").string()), Read(package));
  EXPECT_EQ(Read(victim.string()), "precious");

  fs::remove(dir / "pkg.run");
  fs::create_hard_link(victim, dir / "pkg.run");
  EXPECT_EQ(form->MakeUpdateApp(package), 0);
  EXPECT_EQ(Extracted((dir / "pkg.run").string()), Read(package));
  EXPECT_EQ(Read(victim.string()), "precious");
  EXPECT_THAT(BoxTexts(), ElementsAre("Information: make new update application Success",
                                      "Information: make new update application Success"));
}

// The package is opened once and read once, into the application, and the check reads
// it there: a package changed on the disk between the check and the link can never ship
// with a valid checksum. The first stop check comes after the open, before the read.
TEST_F(MakerTest, TheApplicationHoldsExactlyThePackageThatWasChecked) {
  const std::string package = WritePackage({Item("frw", "fw.bin", Bytes(3000))});
  const std::string good = Read(package);
  fwp::PackageHeaderFields otherPrinter;
  otherPrinter.printerName = "LabelMaster";
  const std::string other =
      WritePackage({Item("frw", "fw.bin", Bytes(3000))}, otherPrinter, "other.fwp");
  auto onFirstCheck = [this](std::function<void()> act) {
    auto done = std::make_shared<bool>(false);
    form->SetStopSource([act, done] {
      if (!*done) act();
      *done = true;
      return app::StopRequests{};
    });
  };

  // Another file renamed over the package once it is open: the application holds the
  // package as it was opened, and says so by its checksum.
  onFirstCheck([&] {
    fs::copy_file(other, dir / "swap.fwp");
    fs::rename(dir / "swap.fwp", package);
  });
  form->RunOperation(package);
  EXPECT_EQ(Extracted((dir / "pkg.run").string()), good);

  // The open package rewritten in place before it is read: what is linked is checked,
  // and refused.
  fs::remove(dir / "pkg.run");
  std::ofstream(package, std::ios::binary) << good;
  onFirstCheck([&] { std::ofstream(package, std::ios::binary | std::ios::trunc) << Read(other); });
  form->RunOperation(package);
  EXPECT_FALSE(fs::exists(dir / "pkg.run"));
  EXPECT_THAT(BoxTexts(), ElementsAre("Information: make new update application Success",
                                      "Error: Error fwp data!"));
  EXPECT_THAT(ui.boxes.at(1).detail, ::testing::HasSubstr("\"LabelMaster\""));
  EXPECT_THAT(LeftOvers(), ElementsAre("extracted"));  // Extracted()'s own file
}

TEST_F(MakerTest, AStoppedMakeLeavesNothingBehind) {
  std::string package = WritePackage({Item("frw", "fw.bin", Bytes(3000))});
  std::ofstream(dir / "pkg.run") << "an older one";
  int checks = 0;
  app::StopRequests requests;
  form->SetStopSource([&] {
    // Ctrl-C once the copy has begun.
    if (++checks == 3) requests.interrupts = 1;
    return requests;
  });
  form->RunOperation(package);
  EXPECT_EQ(form->LastRunStopped(), app::StopCause::kInterrupt);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(Read((dir / "pkg.run").string()), "an older one");
  EXPECT_THAT(LeftOvers(), ElementsAre("pkg.run"));
  EXPECT_THAT(ui.buttonStates, ElementsAre(false, true));
}

}  // namespace
}  // namespace apptest
