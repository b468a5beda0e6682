// The main window's logic: its mode from the settings file, and stopping an operation
// half way (at once before the firmware image, only on a second request while the
// printer is being written; a stopped run gives everything back).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "package/linked_package.h"
#include "workflow_fixture.h"

namespace apptest {
namespace {

using ::testing::ElementsAre;
namespace fs = std::filesystem;

TEST_F(WorkflowTest, TheSettingsFileChoosesTheMode) {
  form->FormCreate();
  EXPECT_FALSE(form->MakerMode());
  EXPECT_EQ(ui.buttonCaption, "Update");
  EXPECT_EQ(ui.caption, "vrq-update");

  std::ofstream(dir / "vrq-update.ini") << "[main]\nmake = 1\n";
  form->FormCreate();
  EXPECT_TRUE(form->MakerMode());
  EXPECT_EQ(ui.buttonCaption, "Make");
  EXPECT_EQ(ui.caption, "VRQ Update Maker");

  MakeForm((dir / "Setup2021.run").string());
  form->FormCreate();
  EXPECT_EQ(ui.caption, "Setup2021");
}

class StoppingTest : public WorkflowTest {
 protected:
  StoppingTest() {
    // Linked to the executable, so that the only question a run asks is whether to stop.
    const std::string package =
        WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(400000))});
    fwp::AppendLinkedPackage(exe, package);
    form->SetStopSource([this] { return requests; });
  }
  // What the printer was sent last, and whether a stopped run left anything behind.
  void ExpectStoppedCleanly(app::StopCause cause) {
    EXPECT_EQ(form->LastRunStopped(), cause);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(channel.IsPrinterChannelOpen());
    EXPECT_FALSE(channel.ReplyPumpActive());
    EXPECT_FALSE(ui.progressVisible);
    EXPECT_THAT(ui.buttonStates, ElementsAre(false, true));
    EXPECT_THAT(LeftOvers(), ElementsAre());
  }
  int Setits() const { return static_cast<int>(printer.blocks.size()); }

  app::StopRequests requests;
};

TEST_F(StoppingTest, BeforeTheImageAnInterruptStopsAtOnce) {
  printer.connectReply = "";  // the 3 s wait for it is where the interrupt lands
  printer.onLine = [this](const std::string& line) {
    if (line == "CONNECT") requests.interrupts = 1;
  };
  form->Button1Click();
  ExpectStoppedCleanly(app::StopCause::kInterrupt);
  EXPECT_EQ(printer.lines.back(), "CONNECT");
  EXPECT_THAT(ui.notices, ElementsAre("Stopped."));
  // The record says what the operator saw, and that nothing reached the flash.
  EXPECT_EQ(form->LastRun().message, "Stopped.");
  EXPECT_FALSE(form->LastRun().flashReached);
}

TEST_F(StoppingTest, WhileWritingAFirstInterruptOnlyWarns) {
  printer.onLine = [this](const std::string& line) {
    if (line.rfind("SETIT", 0) == 0 && Setits() == 0) requests.interrupts = 1;
  };
  // The interrupt the run warned of does not close the box it ends with.
  std::vector<bool> pending;
  ui.whileBoxOpen = [&] { pending.push_back(form->StopPending()); };
  form->Button1Click();
  EXPECT_THAT(pending, ElementsAre(false));
  EXPECT_EQ(form->LastRunStopped(), app::StopCause::kNone);
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  ASSERT_EQ(ui.notices.size(), 1u);
  EXPECT_THAT(ui.notices[0], ::testing::HasSubstr("Ctrl-C again"));
  // The window's owner closes it afterwards: the operator did ask to stop.
  EXPECT_TRUE(form->CloseRequested());
}

TEST_F(StoppingTest, WhileWritingASecondInterruptStopsAfterTheWriteInProgress) {
  printer.onLine = [this](const std::string& line) {
    // Setits() counts the blocks announced before this line.
    if (line.rfind("SETIT", 0) == 0 && Setits() == 0) requests.interrupts = 1;
    if (line.rfind("SETIT", 0) == 0 && Setits() == 1) requests.interrupts = 2;
  };
  form->Button1Click();
  ExpectStoppedCleanly(app::StopCause::kInterrupt);
  ASSERT_EQ(Setits(), 2);
  // The stop came right after the first piece of the second block's hex text.
  EXPECT_EQ(printer.blocks.back().hex.size(), 1024u);
  EXPECT_THAT(printer.lines, ::testing::Not(::testing::Contains("LINK")));
  EXPECT_THAT(ui.notices.back(), ::testing::HasSubstr("incomplete firmware"));
  EXPECT_EQ(form->LastRun().message, ui.notices.back());
  EXPECT_TRUE(form->LastRun().flashReached);
}

TEST_F(StoppingTest, ATerminationStopsEvenWhileWriting) {
  printer.onLine = [this](const std::string& line) {
    if (line == "CKID") requests.terminations = 1;
  };
  form->Button1Click();
  ExpectStoppedCleanly(app::StopCause::kTermination);
  EXPECT_EQ(printer.lines.back(), "CKID");
}

TEST_F(StoppingTest, ClosingTheWindowAsksOnlyWhileThePrinterIsWritten) {
  std::vector<bool> mayClose;
  printer.onLine = [&](const std::string& line) {
    if (line == "CONNECT" || line == "CKID") mayClose.push_back(form->FormCloseQuery());
  };
  EXPECT_TRUE(form->FormCloseQuery());  // no run: close at once

  // Before the image: no question, the run stops and the window closes after it.
  form->Button1Click();
  EXPECT_THAT(mayClose, ElementsAre(false));
  EXPECT_EQ(ui.questions, 0);
  ExpectStoppedCleanly(app::StopCause::kWindowClosed);
  EXPECT_TRUE(form->CloseRequested());
}

TEST_F(StoppingTest, ClosingWhileWritingGoesOnWhenTheOperatorSaysCancel) {
  ui.answerOk = false;
  printer.onLine = [&](const std::string& line) {
    if (line == "CKID") {
      EXPECT_FALSE(form->FormCloseQuery());
    }
  };
  form->Button1Click();
  EXPECT_EQ(ui.questions, 1);
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_FALSE(form->CloseRequested());

  ui.answerOk = true;
  ui.boxes.clear();
  ui.buttonStates.clear();
  form->Button1Click();
  EXPECT_EQ(ui.questions, 2);
  ExpectStoppedCleanly(app::StopCause::kWindowClosed);
  EXPECT_TRUE(form->CloseRequested());
}

// The window shows the box a run ends with over the run: a stop that comes while it is
// open is pending (the window closes the box then), and the run ends as it would have,
// giving everything back. Another interrupt counts as well as a termination.
TEST_F(StoppingTest, AStopWhileTheOutcomeBoxIsOpenIsPending) {
  ui.outcomeOverTheRun = true;
  for (bool terminate : {true, false}) {
    std::vector<bool> pending;
    ui.boxes.clear();
    ui.whileBoxOpen = [&] {
      pending.push_back(form->StopPending());
      if (terminate) {
        ++requests.terminations;
      } else {
        ++requests.interrupts;
      }
      pending.push_back(form->StopPending());
      EXPECT_THAT(LeftOvers(), ::testing::Not(ElementsAre()));
    };
    form->Button1Click();
    EXPECT_THAT(pending, ElementsAre(false, true));
    ASSERT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
    EXPECT_TRUE(ui.boxes[0].progressShown);
    EXPECT_EQ(form->LastRunStopped(), app::StopCause::kNone);
    EXPECT_FALSE(ui.progressVisible);
    EXPECT_THAT(LeftOvers(), ElementsAre());
    EXPECT_TRUE(form->StopPending());
    EXPECT_TRUE(form->CloseRequested());
  }
}

// A stop that closes the question for a package file, or the file dialog, stops the run
// there: nothing is opened, nothing is left, and the run reads as stopped rather than
// cancelled. The maker's dialog likewise.
TEST_F(WorkflowTest, AStopWhileAskingForAPackageStopsTheRun) {
  app::StopRequests requests;
  form->SetStopSource([&] { return requests; });
  WritePackage({Item("frw", "fw.bin", {1})});
  for (int stopAt : {1, 2}) {
    int opened = 0;
    ui.dialogs.clear();
    ui.whileBoxOpen = [&] {
      if (++opened == stopAt) ++requests.terminations;
    };
    // A question closed by the stop reads as Cancel.
    ui.answerOk = stopAt == 2;
    form->Button1Click();
    EXPECT_EQ(form->LastRunStopped(), app::StopCause::kTermination) << stopAt;
    EXPECT_EQ(ui.dialogs.size(), stopAt == 2 ? 1u : 0u);
    EXPECT_THAT(ui.notices.back(), "Stopped.");
    EXPECT_EQ(printer.opens, 0);
    EXPECT_THAT(LeftOvers(), ElementsAre());
  }

  form->SetMakerMode(true);
  ui.whileBoxOpen = [&] { ++requests.terminations; };
  form->Button1Click();
  EXPECT_EQ(form->LastRunStopped(), app::StopCause::kTermination);
  EXPECT_FALSE(fs::exists(dir / "pkg.run"));
  EXPECT_TRUE(ui.boxes.empty());
}

// An installed program: --maker stands in for the settings file, and the file dialog
// starts where the user is.
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
