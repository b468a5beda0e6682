// The lock that keeps the machine awake during an update: taken for the printer before
// anything is sent to it, held through the printer's restart and the flash sections, and
// given back, before the operator is told the outcome, however the run ends.
#include "workflow/stay_awake.h"

#include <stdexcept>

#include "workflow_fixture.h"

namespace apptest {
namespace {

using ::testing::ElementsAre;

// What happened to the locks the workflow asked for.
struct LockLog {
  std::vector<std::string> whys;
  int held = 0;
  int released = 0;
  std::vector<std::string> linesWhenTaken;  // what the printer had received by then
  size_t boxesWhenReleased = 0;
  size_t noticesWhenReleased = 0;
  bool printerOpenWhenReleased = false;
};

class StayAwakeTest : public WorkflowTest {
 protected:
  class FakeLock final : public app::AwakeLock {
   public:
    explicit FakeLock(StayAwakeTest& test) : test_(test) { ++test_.log.held; }
    ~FakeLock() override {
      --test_.log.held;
      ++test_.log.released;
      test_.log.boxesWhenReleased = test_.ui.boxes.size();
      test_.log.noticesWhenReleased = test_.ui.notices.size();
      test_.log.printerOpenWhenReleased = test_.channel.IsPrinterChannelOpen();
    }

   private:
    StayAwakeTest& test_;
  };

  StayAwakeTest() {
    WritePackage({Item("frw", "fw.bin", {1, 2, 3}), Item("font", "f.bin", Bytes(300000))});
    UseLocks(true);
  }

  // Builds the form with a way to keep awake that grants locks, or never does.
  void UseLocks(bool granted) {
    auto image = [this]() -> std::optional<std::span<const uint8_t>> {
      return std::span<const uint8_t>(libraryImage);
    };
    auto stayAwake = [this, granted](const std::string& why) -> std::unique_ptr<app::AwakeLock> {
      log.whys.push_back(why);
      log.linesWhenTaken = printer.lines;
      if (!granted) return nullptr;
      return std::make_unique<FakeLock>(*this);
    };
    form = std::make_unique<app::TMainForm>(ui, channel, clock,
                                            app::WorkflowEnvironment{exe, image, false, stayAwake});
  }

  LockLog log;
};

TEST_F(StayAwakeTest, TakenForThePrinterBeforeItsFirstByteAndHeldUntilTheRunIsOver) {
  int heldWhileFlashing = -1;
  printer.onLine = [&](const std::string& line) {
    if (line.rfind("SETIT", 0) == 0) heldWhileFlashing = log.held;
  };
  form->Button1Click();

  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_THAT(log.whys, ElementsAre("Updating the firmware of the printer at /dev/usb/lp0"));
  EXPECT_THAT(log.linesWhenTaken, ElementsAre());
  // Through the printer's restart after the firmware image, into the sections.
  EXPECT_EQ(heldWhileFlashing, 1);
  EXPECT_EQ(log.held, 0);
  EXPECT_EQ(log.released, 1);
  EXPECT_FALSE(log.printerOpenWhenReleased);
  EXPECT_EQ(log.boxesWhenReleased, 0u);
}

// Every way a run that has the printer can end, each with a fresh printer and form.
struct Ending {
  const char* name;
  std::function<void(StayAwakeTest&, app::TMainForm&)> arrange;
};

void PrintTo(const Ending& ending, std::ostream* out) {
  *out << ending.name;
}

class StayAwakeEndingTest : public StayAwakeTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(StayAwakeEndingTest, GivesTheLockBackBeforeTheOperatorIsTold) {
  GetParam().arrange(*this, *form);
  form->Button1Click();
  EXPECT_FALSE(form->LastRunSucceeded());
  EXPECT_EQ(log.whys.size(), 1u);
  EXPECT_EQ(log.held, 0);
  EXPECT_EQ(log.released, 1);
  EXPECT_FALSE(log.printerOpenWhenReleased);
  EXPECT_EQ(log.boxesWhenReleased, 0u);
  EXPECT_EQ(log.noticesWhenReleased, 0u);
  EXPECT_EQ(ui.boxes.size() + ui.notices.size(), 1u);
}

const Ending kEndings[] = {
    {"FailsBeforeTheImage",
     [](StayAwakeTest& t, app::TMainForm&) { t.printer.connectReply = "busy\r\n"; }},
    {"FailsAfterTheImage",
     [](StayAwakeTest& t, app::TMainForm&) { t.printer.ckidReply = "NG\r\n"; }},
    {"FailsInABlock",
     [](StayAwakeTest& t, app::TMainForm&) {
       t.printer.blockReply = [](const BlockSeen&) { return "ERR\r\n"; };
     }},
    {"AnErrorThrownInside",
     [](StayAwakeTest& t, app::TMainForm&) {
       t.printer.onLine = [](const std::string& line) {
         if (line == "BUZZER TP=1") throw std::runtime_error("printer port broke");
       };
     }},
    {"TheWindowClosedMidBlock",
     [](StayAwakeTest& t, app::TMainForm& form) {
       t.ui.answerOk = true;
       t.printer.onLine = [&form](const std::string& line) {
         if (line.rfind("SETIT", 0) == 0) form.FormCloseQuery();
       };
     }},
};

INSTANTIATE_TEST_SUITE_P(Rows, StayAwakeEndingTest, ::testing::ValuesIn(kEndings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StayAwakeTest, NotAskedForWithoutAPrinterNorByTheMaker) {
  printer.present = false;
  form->Button1Click();
  EXPECT_THAT(BoxTexts(), ElementsAre("Error: Can not open usb port!"));

  form->SetMakerMode(true);
  form->RunOperation(ui.chosenFile.value());
  EXPECT_THAT(BoxTexts(), ElementsAre("Error: Can not open usb port!",
                                      "Information: make new update application Success"));
  EXPECT_THAT(log.whys, ElementsAre());
}

TEST_F(StayAwakeTest, WithoutALockTheUpdateGoesOnAndSaysNothingOfIt) {
  UseLocks(false);
  form->Button1Click();
  EXPECT_THAT(log.whys, ::testing::SizeIs(1));
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_THAT(ui.notices, ElementsAre());
  EXPECT_EQ(ui.statuses.back(), "Update Success!");
}

}  // namespace
}  // namespace apptest
