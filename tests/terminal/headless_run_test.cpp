// What a command line without a window runs, whatever the settings file says, and the
// exit status each ending gives.
#include "terminal/headless_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "json_collect.h"
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

// Every way a headless run ends gives one outcome with a message, whatever the window
// would have shown.
TEST_F(HeadlessTest, EveryEndingHasAnOutcomeWithAMessage) {
  std::ostringstream json;
  app::JsonEvents events(json, clock);
  const std::string package = WritePackage({Item("frw", "fw.bin", {1})});
  const app::CommandLine line = app::ParseCommandLine({"--package", package, "--json"});

  ui.confirmation = app::Confirmation::kNo;
  EXPECT_EQ(app::RunHeadlessOperation(*form, line, &events), app::kExitFailure);
  EXPECT_THAT(ui.notices, ::testing::ElementsAre("Not updated."));
  ui.confirmation = app::Confirmation::kCannotAsk;
  EXPECT_EQ(app::RunHeadlessOperation(*form, line, &events), app::kExitUsage);
  ui.answerOk = false;  // no package given to a program that carries none
  EXPECT_EQ(app::RunHeadlessOperation(*form, line, &events), app::kExitFailure);

  const std::string text = json.str();
  jsoncollect::Collect(text);
  std::vector<app::Json> outcomes;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    outcomes.push_back(app::ReadJsonLine(l));
  ASSERT_EQ(outcomes.size(), 3u) << text;
  EXPECT_EQ(outcomes[0]["status"], "declined");
  EXPECT_EQ(outcomes[0]["message"], "Not updated.");
  EXPECT_EQ(outcomes[0]["package"]["path"], package);
  EXPECT_EQ(outcomes[0]["package"]["sha256"].get<std::string>().size(), 64u);
  EXPECT_EQ(outcomes[0]["printer"]["port_path"], "1-1.4");
  EXPECT_EQ(outcomes[1]["status"], "refused");
  EXPECT_EQ(outcomes[1]["exit_status"], 2);
  EXPECT_EQ(outcomes[1]["message"], "Not updated: there is no terminal to answer at.");
  EXPECT_EQ(outcomes[1]["detail"], "Give --yes to update without the question.");
  EXPECT_EQ(outcomes[2]["status"], "failed");
  EXPECT_EQ(outcomes[2]["message"], "Not updated.");
  EXPECT_THAT(outcomes[2]["detail"].get<std::string>(), ::testing::HasSubstr("--package FILE"));
  EXPECT_EQ(outcomes[2]["package"], nullptr);
}

// An update application updates from its own package: a package named to it is refused,
// with the command that does what was asked.
TEST(HeadlessRefusalTest, AnUpdateApplicationNamesTheCommandToRunInstead) {
  EXPECT_EQ(app::UpdateApplicationRefusal(app::ParseCommandLine({"--package", "o.fwp"})),
            "this update application updates from its own package; to update from o.fwp run "
            "vrq-update --package o.fwp");
  EXPECT_EQ(app::UpdateApplicationRefusal(app::ParseCommandLine({"--make", "o.fwp"})),
            "this update application updates from its own package; to make an update "
            "application from o.fwp run vrq-update --make o.fwp");
  EXPECT_EQ(app::UpdateApplicationRefusal(app::ParseCommandLine({"--headless", "--yes"})), "");

  VirtualClock clock;
  std::ostringstream err, json;
  app::JsonEvents events(json, clock);
  EXPECT_EQ(app::RefuseRun("why not", err, &events), app::kExitUsage);
  EXPECT_EQ(err.str(), "vrq-update: why not\n");
  jsoncollect::Collect(json.str());
  const app::Json outcome = app::ReadJsonLine(json.str());
  EXPECT_EQ(outcome["status"], "refused");
  EXPECT_EQ(outcome["exit_status"], 2);
  EXPECT_EQ(outcome["message"], "why not");
  EXPECT_EQ(outcome["detail"], "");
}

}  // namespace
}  // namespace apptest
