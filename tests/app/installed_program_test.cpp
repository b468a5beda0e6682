// An installed program: its folder is not the user's, so --maker stands in for the
// settings file, and the file dialog starts where the user is.
#include <filesystem>
#include <fstream>

#include "app/command_line.h"
#include "workflow_fixture.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

TEST(MakerOptionTest, OpensTheWindowAndGoesWithNoOtherOption) {
  app::CommandLine line = app::ParseCommandLine({"--maker"});
  EXPECT_TRUE(line.error.empty());
  EXPECT_TRUE(line.maker);
  EXPECT_FALSE(line.headless);
  EXPECT_FALSE(app::ParseCommandLine({}).maker);
  for (auto args : std::vector<std::vector<std::string>>{{"--maker", "--headless"},
                                                         {"--maker", "--make", "a.fwp"},
                                                         {"--package", "a.fwp", "--maker"},
                                                         {"--maker", "--list"},
                                                         {"--maker", "--yes"}}) {
    EXPECT_FALSE(app::ParseCommandLine(args).error.empty()) << args[0] << ' ' << args[1];
  }
}

TEST_F(WorkflowTest, MakerModeRequestedWinsOverTheSettingsFile) {
  std::ofstream(dir / "vrq-update.ini") << "[MAIN]\nMAKE=0\n";
  form = std::make_unique<app::TMainForm>(ui, channel, clock,
                                          app::WorkflowEnvironment{exe, nullptr, true});
  form->FormCreate();
  EXPECT_TRUE(form->MakerMode());
  EXPECT_EQ(ui.buttonCaption, "Make");
  EXPECT_EQ(ui.caption, "VRQ Update Maker");

  fs::remove(dir / "vrq-update.ini");
  form->FormCreate();
  EXPECT_TRUE(form->MakerMode());
}

TEST_F(WorkflowTest, TheFileDialogStartsInTheCurrentFolderWhenTheProgramsFolderIsNotWritable) {
  ui.chosenFile.reset();  // the operator cancels: only the dialog's request is looked at
  EXPECT_EQ(form->MakeUpdateApp(""), -1);

  // A folder the user cannot create files in (as root, only a missing one is).
  MakeForm("/nonexistent-vrq-folder/vrq-update");
  EXPECT_EQ(form->MakeUpdateApp(""), -1);

  ASSERT_EQ(ui.dialogs.size(), 2u);
  EXPECT_EQ(ui.dialogs[0].initialFolder, dir.string() + "/");
  EXPECT_EQ(ui.dialogs[1].initialFolder, fs::current_path().string() + "/");
}

}  // namespace
}  // namespace apptest
