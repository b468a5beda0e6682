// What a command line without a window runs, whatever the settings file says, and the
// exit status each ending gives.
#include "terminal/headless_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "workflow_fixture.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

class HeadlessTest : public WorkflowTest {
 protected:
  HeadlessTest() {
    // Maker mode for the window.
    std::ofstream(dir / "vrq-update.ini") << "[MAIN]\nMAKE=1\n";
    form->FormCreate();
  }
};

TEST_F(HeadlessTest, APackageOnTheCommandLineIsAnUpdateEvenInMakerMode) {
  const app::CommandLine line = app::ParseCommandLine(
      {"--package", WritePackage({Item("frw", "fw.bin", {1}), Item("font", "f.bin", {2})})});
  EXPECT_EQ(app::RunHeadlessOperation(*form, line), app::kExitSuccess);
  EXPECT_THAT(BoxTexts(), ::testing::ElementsAre("Info: Update Success!"));
  EXPECT_EQ(printer.image, "\x01");
  EXPECT_FALSE(fs::exists(dir / "pkg.run"));
}

TEST_F(HeadlessTest, MakeAlwaysMakesAndFailuresExitOne) {
  std::ofstream(dir / "vrq-update.ini") << "[MAIN]\nMAKE=0\n";
  form->FormCreate();
  app::CommandLine line =
      app::ParseCommandLine({"--make", WritePackage({Item("frw", "fw.bin", {1})})});
  EXPECT_EQ(app::RunHeadlessOperation(*form, line), app::kExitSuccess);
  EXPECT_TRUE(fs::exists(dir / "pkg.run"));
  EXPECT_TRUE(printer.lines.empty());

  line = app::ParseCommandLine({"--package", WritePackage({Item("font", "f.bin", {2})})});
  EXPECT_EQ(app::RunHeadlessOperation(*form, line), app::kExitFailure);
  EXPECT_THAT(BoxTexts(), ::testing::Contains("Error: Can not Run FRW!"));
}

}  // namespace
}  // namespace apptest
