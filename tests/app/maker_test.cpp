// The maker: what a made update application holds, and what a failed or stopped make
// leaves (nothing).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "package/linked_package.h"
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
  EXPECT_TRUE(form->LastRunSucceeded());
  EXPECT_THAT(ui.buttonStates, ElementsAre(false, true));
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0].defaultExtension, "fwp");
  const std::string made = (dir / "pkg.run").string();
  EXPECT_EQ(fs::file_size(made), fs::file_size(exe) + fs::file_size(package) + 36);
  EXPECT_EQ(fs::status(made).permissions(), fs::status(exe).permissions());
  EXPECT_EQ(Extracted(made), Read(package));
}

TEST_F(MakerTest, TheNewestPackageWinsInACopyOfAnUpdateApplication) {
  std::string first = WritePackage({Item("frw", "a.bin", {1})}, {}, "first.fwp");
  ASSERT_GT(fwp::AppendLinkedPackage(exe, first), 0);
  std::string second = WritePackage({Item("frw", "b.bin", {2})}, {}, "a.b.fwp");
  EXPECT_EQ(form->MakeUpdateApp(second), 0);
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(Extracted((dir / "a.b.run").string()), Read(second));
}

TEST_F(MakerTest, FailuresLeaveNoHalfMadeApplication) {
  ui.chosenFile.reset();
  EXPECT_EQ(form->MakeUpdateApp(""), -1);
  EXPECT_TRUE(ui.boxes.empty());

  // The package cannot be read: the copy is made, the append fails, the copy goes.
  fs::create_directory(dir / "folder.fwp");
  EXPECT_EQ(form->MakeUpdateApp((dir / "folder.fwp").string()), 0);
  EXPECT_FALSE(fs::exists(dir / "folder.run"));

  // The target cannot be written.
  EXPECT_EQ(form->MakeUpdateApp((dir / "nowhere" / "pkg.fwp").string()), 0);

  // A package named like the application it would become is never overwritten.
  std::string package = WritePackage({Item("frw", "fw.bin", {1})}, {}, "self.run");
  std::string before = Read(package);
  EXPECT_EQ(form->MakeUpdateApp(package), 0);
  EXPECT_EQ(Read(package), before);

  EXPECT_THAT(BoxTexts(), ElementsAre("Error: make new update application Failed",
                                      "Error: copy file error", "Error: copy file error"));
  EXPECT_FALSE(form->LastRunSucceeded());
  EXPECT_THAT(LeftOvers(), ElementsAre("self.run"));  // the package itself
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
