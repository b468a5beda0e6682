// The update procedure against the scripted printer: the dialogue, the blocks, every
// failure and what each run leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "package/linked_package.h"
#include "package/package_format.h"
#include "platform/file.h"
#include "terminal/exit_status.h"
#include "workflow_fixture.h"

namespace apptest {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> StartingWith(const std::vector<std::string>& lines,
                                      const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

std::string LE32(uint32_t value) {
  std::string bytes(4, '\0');
  fwp::PutLE32(reinterpret_cast<unsigned char*>(bytes.data()), value);
  return bytes;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class UpdateTest : public WorkflowTest {};

TEST_F(UpdateTest, FullUpdateWritesEverySectionInPackageOrder) {
  const auto firmware = std::vector<uint8_t>{1, 2, 3};
  const auto font = Bytes(200 * 1024, 2), boot = Bytes(100, 3), system = Bytes(5000, 4);
  WritePackage({Item("frw", "fw.bin", firmware, "7"), Item("font", "font.bin", font),
                Item("bootloader", "boot.bin", boot), Item("system", "sys.bin", system)});

  form->Button1Click();

  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_TRUE(form->LastRunSucceeded());
  EXPECT_THAT(ui.buttonStates, ElementsAre(false, true));
  EXPECT_THAT(ui.statuses, ElementsAre("CONNECT\r\n", "Connect Success!", "Send frw",
                                       "wait frw start", "check open usb", "Please send next!",
                                       "Check MAC ADDR...", "Update...", "Update Success!"));
  EXPECT_EQ(printer.image, "\x01\x02\x03");
  EXPECT_THAT(StartingWith(printer.lines, ""),
              ::testing::IsSupersetOf(
                  {"CONNECT", "GO", "DF 0 536870912 3 6", "CKID", "LINK", "BUZZER TP=2"}));
  EXPECT_THAT(
      StartingWith(printer.lines, "SETIT"),
      ElementsAre(::testing::StartsWith("SETIT TP=4,ADD=0,LEN=131072,"),
                  ::testing::StartsWith("SETIT TP=4,ADD=131072,LEN=73728,"),
                  "SETIT TP=0,ADD=0,LEN=100,CK=" + std::to_string(printer.blocks[2].ck) + ",MD=7",
                  ::testing::StartsWith("SETIT TP=3,ADD=0,LEN=5000,")));
  EXPECT_EQ(SectionReceived(4), font);
  EXPECT_EQ(SectionReceived(0), boot);
  EXPECT_EQ(SectionReceived(3), system);
  EXPECT_EQ(StartingWith(printer.lines, "BUZZER TP=1").size(), 3u);
  EXPECT_FALSE(ui.progressVisible);
  EXPECT_EQ(ui.progress.back(), 0);
  EXPECT_FALSE(channel.IsPrinterChannelOpen());
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

TEST_F(UpdateTest, BlocksSplitAtTheSectionSizeAndTheLastFrwModeWins) {
  WritePackage({Item("frw", "fw.bin", {7}, "1"), Item("frw", "fw2.bin", {9}, "2"),
                Item("bootloader", "boot.bin", {}), Item("system", "sys.bin", Bytes(2500000))});
  EXPECT_EQ(form->RunUpdate(), 0);
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_THAT(StartingWith(printer.lines, "DF"), ElementsAre("DF 0 536870912 1 7"));
  ASSERT_EQ(printer.blocks.size(), 3u);
  EXPECT_THAT(StartingWith(printer.lines, "BUZZER TP=1").size(), 2u);
  int adds[] = {0, 1048576, 2097152}, lens[] = {1048576, 1048576, 402848};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(printer.blocks[i].tp, 3);
    EXPECT_EQ(printer.blocks[i].add, adds[i]);
    EXPECT_EQ(printer.blocks[i].len, lens[i]);
    EXPECT_EQ(printer.blocks[i].md, 2);
  }
  EXPECT_EQ(SectionReceived(3), Bytes(2500000));
}

TEST_F(UpdateTest, AModeThatIsNoNumberGivesZeroAndAnyLinkReplyIsSuccess) {
  WritePackage({Item("frw", "fw.bin", {1}, "x1"), Item("font", "f.bin", {5, 6})});
  printer.linkReply = "whatever\r\n";
  form->RunUpdate();
  ASSERT_EQ(printer.blocks.size(), 1u);
  EXPECT_EQ(printer.blocks[0].md, 0);
  EXPECT_EQ(printer.lines.back(), "BUZZER TP=2");
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
}

// The update is complete once "LINK" is answered: a printer that then does not take the
// buzzer's line before the close is said beside the success, which stays one.
TEST_F(UpdateTest, ALastLineThePrinterDoesNotTakeIsSaidBesideTheSuccess) {
  WritePackage({Item("frw", "fw.bin", {1}), Item("font", "f.bin", {5, 6})});
  printer.loseDataAtClose = 2;
  form->Button1Click();
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_EQ(ui.boxes[0].detail, "the printer did not take the end of the data within 60 s");
  EXPECT_EQ(app::ExitStatusOf(form->LastRun()), 0);
  EXPECT_EQ(printer.closes, 2);
}

// One failure per row: how the run ends, and that it leaves nothing behind.
struct FailureCase {
  const char* name;
  std::function<void(UpdateTest&)> arrange;
  const char* box;
  const char* lastLine;     // how the last line the printer got begins; "" for none at all
  const char* detail = "";  // a part of the box's detail line
  // The firmware image went out before the failure: the printer may be half written.
  bool afterImage = false;
};

void PrintTo(const FailureCase& c, std::ostream* out) {
  *out << c.name;
}

class UpdateFailureTest : public UpdateTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateFailureTest, EndsWithItsMessageAndCleansUp) {
  const FailureCase& c = GetParam();
  WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(300000))});
  c.arrange(*this);
  form->Button1Click();
  EXPECT_THAT(BoxTexts(), ElementsAre(std::string("Error: ") + c.box));
  EXPECT_FALSE(form->LastRunSucceeded());
  EXPECT_THAT(ui.buttonStates, ElementsAre(false, true));
  if (*c.lastLine == '\0') {
    EXPECT_THAT(printer.lines, ElementsAre());
  } else {
    ASSERT_FALSE(printer.lines.empty());
    EXPECT_THAT(printer.lines.back(), ::testing::StartsWith(c.lastLine));
  }
  EXPECT_THAT(ui.boxes[0].detail, ::testing::HasSubstr(c.detail));
  EXPECT_EQ(app::ExitStatusOf(form->LastRun()), c.afterImage ? 3 : 1);
  EXPECT_EQ(form->LastRun().flashStartedMs.has_value(), c.afterImage);
  EXPECT_FALSE(channel.IsPrinterChannelOpen());
  EXPECT_FALSE(channel.ReplyPumpActive());
  EXPECT_FALSE(ui.progressVisible);
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

const FailureCase kFailures[] = {
    {"NoPrinter", [](UpdateTest& t) { t.printer.present = false; }, "Can not open usb port!", "",
     "no VRQPrinter found on USB"},
    // The port's own words for why it found no usable printer go to the detail line.
    {"NoPrinterSaysWhy",
     [](UpdateTest& t) {
       t.printer.present = false;
       t.printer.absentDetail = "no printer of vendor 0471 is on USB: check the cable";
     },
     "Can not open usb port!", "", "no printer of vendor 0471 is on USB: check the cable"},
    {"NodeHeldByAnotherProgram",
     [](UpdateTest& t) {
       t.printer.openFailure = {app::OpenFailure::Reason::kBusy, EBUSY, "/dev/usb/lp0", "",
                                "/dev/usb/lp0 is in use by another program: usb (pid 7)"};
     },
     "Can not open usb port!", "", "/dev/usb/lp0 is in use by another program: usb (pid 7)"},
    // Back from its restart, but not to be opened: that is no "did not come back".
    {"BackButNotOurs",
     [](UpdateTest& t) {
       t.printer.openFailure = {app::OpenFailure::Reason::kPermissionDenied, EACCES, "/dev/usb/lp1",
                                "", "permission denied on /dev/usb/lp1"};
       t.printer.failOpensAfterRestart = true;
     },
     "Can not Run FRW!", "DF 0 536870912 2 3",
     "the printer came back after the frw image but could not be opened: permission denied on "
     "/dev/usb/lp1",
     true},
    {"WrongPrinterName",
     [](UpdateTest& t) {
       fwp::PackageHeaderFields header;
       header.printerName = "vrqprinter";
       t.WritePackage({Item("frw", "fw.bin", {1})}, header);
     },
     "Error fwp data!", "", "made for the printer \"vrqprinter\""},
    {"NotAnUpdate",
     [](UpdateTest& t) {
       fwp::PackageHeaderFields header;
       header.packageKind = "Fonts";
       t.WritePackage({Item("frw", "fw.bin", {1})}, header);
     },
     "Error fwp data!", "", "\"Fonts\""},
    // A package file that cannot be read is no "package for another printer".
    {"MissingPackageFile", [](UpdateTest& t) { std::filesystem::remove(*t.ui.chosenFile); },
     "Error fwp data!", "", "No such file or directory"},
    {"PackageIsAFolder",
     [](UpdateTest& t) {
       std::filesystem::remove(*t.ui.chosenFile);
       std::filesystem::create_directory(*t.ui.chosenFile);
     },
     "Error fwp data!", "", "pkg.fwp is not a regular file"},
    // A FIFO named as the package is refused at once, never waited on.
    {"PackageIsAFifo",
     [](UpdateTest& t) {
       std::filesystem::remove(*t.ui.chosenFile);
       ASSERT_EQ(::mkfifo(t.ui.chosenFile->c_str(), 0600), 0);
     },
     "Error fwp data!", "", "pkg.fwp is not a regular file"},
    {"PackageThatDoesNotLoad",
     [](UpdateTest& t) {
       std::string path =
           t.WritePackage({Item("frw", "fw.bin", {1}), Item("font", "f.bin", Bytes(999))});
       std::filesystem::resize_file(path, std::filesystem::file_size(path) - 100);
     },
     "Error fwp data!", "", "record at offset"},
    {"NoFrwItem", [](UpdateTest& t) { t.WritePackage({Item("font", "f.bin", {1})}); },
     "Can not Run FRW!", ""},
    {"FrwImageTooLarge",
     [](UpdateTest& t) { t.WritePackage({Item("frw", "fw.bin", Bytes(1048577))}); },
     "Can not Run FRW!", "", "1048577 bytes"},
    {"EmptyFrwImage",
     [](UpdateTest& t) {
       t.WritePackage({Item("frw", "fw.bin", {}), Item("font", "f.bin", {1})});
     },
     "Can not Run FRW!", "", "is empty: an empty image is never an update"},
    {"NoConnectReply", [](UpdateTest& t) { t.printer.connectReply = ""; }, "Can not Run FRW!",
     "CONNECT", "no \"Connect Success!\" within 3 s"},
    // Whatever the printer answers in its place is shown, escaped, not taken for silence.
    {"ConnectAnsweredOtherwise",
     [](UpdateTest& t) { t.printer.connectReply = "Connect success!\r\n"; }, "Can not Run FRW!",
     "CONNECT", "the printer answered \"Connect success!\" instead of \"Connect Success!\""},
    {"ConnectAnsweredGarbage",
     [](UpdateTest& t) { t.printer.connectReply = "\xFE\x1B~?#garbage\r\n"; }, "Can not Run FRW!",
     "CONNECT", "the printer answered \"\\xFE\\x1B~?#garbage\" instead of \"Connect Success!\""},
    {"NeverComesBack",
     [](UpdateTest& t) {
       t.printer.restartMs = 3600000;
       t.printer.absentDetail = "no printer of vendor 0471 is on USB";
     },
     "Can not Run FRW!", "DF 0 536870912 2 3",
     "the printer did not come back after the frw image\nno printer of vendor 0471 is on USB",
     true},
    {"FrwImageTakenInPart",
     [](UpdateTest& t) {
       t.printer.onLine = [&t](const std::string& line) {
         if (line.rfind("DF ", 0) == 0) t.printer.takeAtMost = 1;
       };
     },
     "Can not Run FRW!", "DF 0 536870912 2 3", "frw image", true},
    // The close after the image waits for the printer to take its end; one that never
    // does never got the whole image.
    {"FrwImageEndNotTaken", [](UpdateTest& t) { t.printer.loseDataAtClose = 1; },
     "Can not Run FRW!", "DF 0 536870912 2 3",
     "the printer did not take the end of the frw image within 60 s", true},
    {"NoSendNext", [](UpdateTest& t) { t.printer.sendNextReply = ""; }, "Can not Run FRW!",
     "DF 0 536870912 2 3", "", true},
    {"NoMacAddress", [](UpdateTest& t) { t.printer.ckidReply = "NG\r\n"; }, "No MAC ADDR!",
     "LED TP=6", "", true},
    {"BlockRefused",
     [](UpdateTest& t) {
       t.printer.blockReply = [](const BlockSeen& b) { return b.add > 0 ? "ERR\r\n" : "OK\r\n"; };
     },
     "Write Flash Error!", "SETIT TP=4,ADD=131072,LEN=131072,", "font block at 131072", true},
    {"NoLinkReply", [](UpdateTest& t) { t.printer.linkReply.reset(); }, "Write Flash Error!",
     "BUZZER TP=3", "", true},
    {"ItemFileVanishes",
     [](UpdateTest& t) {
       t.printer.onLine = [&t](const std::string& line) {
         if (line != "CKID") return;
         for (const auto& entry : std::filesystem::recursive_directory_iterator(t.tmp)) {
           if (entry.path().filename() == "f.bin") std::filesystem::remove(entry.path());
         }
       };
     },
     "Write Flash Error!", "CKID", "f.bin", true},
    {"ErrorThrownInside",
     [](UpdateTest& t) {
       t.printer.onLine = [](const std::string& line) {
         if (line == "BUZZER TP=1") throw std::runtime_error("printer port broke");
       };
     },
     "printer port broke", "BUZZER TP=1", "", true},
    // A printer that leaves USB in the middle of a block, and one that takes no more data
    // (the port gives up on a write after 60 s): told apart when the run ends.
    {"UnpluggedInABlock", [](UpdateTest& t) { t.printer.unplugInBlock = 2; }, "Write Flash Error!",
     "SETIT TP=4,ADD=131072", "disconnected from USB while the font block at 131072", true},
    {"StopsTakingData",
     [](UpdateTest& t) {
       t.printer.onLine = [&t](const std::string& line) {
         if (line.rfind("SETIT TP=4,ADD=131072", 0) == 0) t.printer.writesFail = true;
       };
     },
     "Write Flash Error!", "SETIT TP=4,ADD=131072",
     "the printer stopped taking data during the font block at 131072", true},
};

// The window's order: the box comes over the run as it stands (the printer closed, the
// bar still shown once the firmware step began, the files still there), and the run
// gives everything back once the box is closed. A failure thrown out of the run is shown
// once the run is gone, as in the other order.
TEST_P(UpdateFailureTest, InTheWindowTheBoxComesBeforeTheCleanUp) {
  const FailureCase& c = GetParam();
  WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(300000))});
  c.arrange(*this);
  ui.outcomeOverTheRun = true;
  bool printerOpen = true;
  size_t filesLeft = 0;
  ui.whileBoxOpen = [&] {
    printerOpen = channel.IsPrinterChannelOpen();
    filesLeft = LeftOvers().size();
  };
  form->Button1Click();
  ASSERT_THAT(BoxTexts(), ElementsAre(::testing::EndsWith(c.box)));
  const std::string box = c.box;
  const bool thrown = box == "printer port broke";
  const bool barShown =
      box == "Can not Run FRW!" || box == "No MAC ADDR!" || box == "Write Flash Error!";
  EXPECT_EQ(ui.boxes[0].progressShown, barShown);
  EXPECT_FALSE(printerOpen);
  EXPECT_EQ(filesLeft > 0, !thrown);
  EXPECT_FALSE(ui.progressVisible);
  EXPECT_THAT(LeftOvers(), ElementsAre());
  EXPECT_EQ(app::ExitStatusOf(form->LastRun()), c.afterImage ? 3 : 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, UpdateFailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateTest, ThePrescribedWaitsRunOutWhenThePrinterLeavesInABlock) {
  WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(300000))});
  printer.unplugInBlock = 1;
  uint64_t goneAt = 0;
  printer.onLine = [&](const std::string& line) {
    if (line.rfind("SETIT", 0) == 0) goneAt = clock.now;
  };
  form->RunUpdate();
  EXPECT_GE(clock.now - goneAt, 60000u);
  EXPECT_LT(clock.now - goneAt, 64000u);  // half a block went out before
}

// The question comes once the printer is open and the package unpacked, before the
// printer is sent anything; a run that may not ask sends nothing either.
TEST_F(UpdateTest, TheOperatorConfirmsWhichPackageGoesToWhichPrinter) {
  fwp::PackageHeaderFields header;
  header.versionLabel = "Model 5 v2.3";
  const std::string path =
      WritePackage({Item("frw", "fw.bin", {1, 2}), Item("system", "s.bin", Bytes(5000))}, header);
  ui.confirmation = app::Confirmation::kNo;
  form->RunUpdate();
  ASSERT_EQ(ui.summaries.size(), 1u);
  const app::UpdateSummary& summary = ui.summaries[0];
  EXPECT_EQ(summary.packagePath, path);
  EXPECT_EQ(summary.versionLabel, "Model 5 v2.3");
  EXPECT_THAT(summary.items, ElementsAre(std::pair<std::string, int64_t>{"frw", 2},
                                         std::pair<std::string, int64_t>{"system", 5000}));
  EXPECT_EQ(summary.portPath, "1-1.4");
  EXPECT_EQ(summary.serial, "VRQSIM0001");
  EXPECT_EQ(summary.flashMs, 5000u + 1000u + 11u * 20u);
  EXPECT_THAT(printer.lines, ElementsAre());
  EXPECT_TRUE(ui.boxes.empty());
  // A no is said, and recorded as a no.
  EXPECT_THAT(ui.notices, ElementsAre("Not updated."));
  EXPECT_TRUE(form->LastRun().declined);
  EXPECT_EQ(form->LastRun().message, "Not updated.");
  EXPECT_EQ(app::ExitStatusOf(form->LastRun()), app::kExitFailure);
  EXPECT_THAT(LeftOvers(), ElementsAre());

  ui.confirmation = app::Confirmation::kCannotAsk;
  form->RunUpdate();
  EXPECT_THAT(printer.lines, ElementsAre());
  EXPECT_FALSE(form->LastRun().declined);
  EXPECT_EQ(app::ExitStatusOf(form->LastRun()), app::kExitUsage);
}

// What the run worked on is recorded as it learns it: the package as it was named, its
// version label and items once loaded, its warnings.
TEST_F(UpdateTest, TheRecordNamesThePackageAndItsWarnings) {
  fwp::PackageHeaderFields header;
  header.versionLabel = "v9";
  const std::string path = WritePackage({Item("frw", "fw.bin", {1, 2})}, header);
  form->Button1Click();
  const app::RunRecord& run = form->LastRun();
  ASSERT_TRUE(run.package);
  EXPECT_EQ(run.package->path, path);
  EXPECT_FALSE(run.package->length);
  EXPECT_EQ(run.package->versionLabel, "v9");
  ASSERT_EQ(run.package->items.size(), 1u);
  EXPECT_EQ(run.package->items[0].size, 2);
  EXPECT_TRUE(run.warnings.empty());

  // A package refused for its header still names itself and its label.
  header.printerName = "Other";
  WritePackage({Item("frw", "fw.bin", {1})}, header);
  form->Button1Click();
  ASSERT_TRUE(form->LastRun().package);
  EXPECT_EQ(form->LastRun().package->versionLabel, "v9");
  EXPECT_TRUE(form->LastRun().package->items.empty());

  // An update application names itself, and where its package lies in it.
  header.printerName = "VRQPrinter";
  const std::string package = WritePackage({Item("frw", "fw.bin", {1})}, header);
  const auto programSize = static_cast<int64_t>(std::filesystem::file_size(exe));
  ASSERT_GT(fwp::AppendLinkedPackage(exe, package), 0);
  ui.confirmation = app::Confirmation::kNo;
  form->Button1Click();
  ASSERT_TRUE(form->LastRun().package);
  EXPECT_EQ(form->LastRun().package->path, exe);
  EXPECT_EQ(form->LastRun().package->offset, programSize);
  EXPECT_EQ(form->LastRun().package->length,
            static_cast<int64_t>(std::filesystem::file_size(package)));
}

// A package cut at a record boundary reads as whole: the confirmation says it may be.
TEST_F(UpdateTest, TheConfirmationWarnsOfAPackageWithoutItsEndMarker) {
  const std::vector<uint8_t> image = fwp::PackageImage({}, {Item("frw", "fw.bin", {1})}, false);
  const std::string path = (dir / "cut.fwp").string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  ui.chosenFile = path;
  ui.confirmation = app::Confirmation::kNo;
  form->RunUpdate();
  ASSERT_EQ(ui.summaries.size(), 1u);
  EXPECT_THAT(ui.summaries[0].warnings,
              ElementsAre(::testing::HasSubstr("may have been cut short at a record boundary")));
  EXPECT_EQ(form->LastRun().warnings, ui.summaries[0].warnings);
}

// What was odd about the package reaches the box the run ends with as well; a sound
// package's box carries nothing of the kind.
TEST_F(UpdateTest, TheOutcomeBoxCarriesThePackagesWarnings) {
  const std::vector<uint8_t> image = fwp::PackageImage({}, {Item("frw", "fw.bin", {1})}, false);
  const std::string path = (dir / "cut.fwp").string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  ui.chosenFile = path;
  form->RunUpdate();
  ASSERT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_THAT(ui.boxes[0].warnings,
              ElementsAre(::testing::HasSubstr("may have been cut short at a record boundary")));

  ui.boxes.clear();
  WritePackage({Item("frw", "fw.bin", {1})});
  form->RunUpdate();
  ASSERT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_THAT(ui.boxes[0].warnings, ElementsAre());
}

TEST_F(UpdateTest, DecliningOrCancellingEndsQuietly) {
  WritePackage({Item("frw", "fw.bin", {1})});
  ui.answerOk = false;
  EXPECT_EQ(form->RunUpdate(), -1);
  EXPECT_TRUE(ui.dialogs.empty());
  ui.answerOk = true;
  ui.chosenFile.reset();
  EXPECT_EQ(form->RunUpdate(), -1);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0].title, "select update file");
  EXPECT_EQ(ui.dialogs[0].initialFolder, dir.string() + "/");
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(printer.discoveries, 0);
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

TEST_F(UpdateTest, AnExecutableWithoutTheLibraryImageCannotUpdate) {
  WritePackage({Item("frw", "fw.bin", {1})});
  carriesLibrary = false;
  EXPECT_EQ(form->RunUpdate(), -1);
  EXPECT_THAT(BoxTexts(), ElementsAre("Error: Create dll File Failed!"));
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

TEST_F(UpdateTest, ALibraryImageThatCannotBeWrittenSaysWhy) {
  WritePackage({Item("frw", "fw.bin", {1})});
  platform::InjectWriteFailureAfter(0);
  const int32_t result = form->RunUpdate();
  platform::InjectWriteFailureAfter(-1);
  EXPECT_EQ(result, -1);
  EXPECT_THAT(BoxTexts(), ElementsAre("Error: Create dll File Failed!"));
  EXPECT_THAT(ui.boxes[0].detail, ::testing::HasSubstr(std::strerror(ENOSPC)));
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

TEST_F(UpdateTest, ALinkedPackageIsFoundWithoutAskingAndItsCopyRemoved) {
  std::string package = WritePackage({Item("frw", "fw.bin", {1}), Item("font", "f.bin", {2})});
  ASSERT_GT(fwp::AppendLinkedPackage(exe, package), 0);
  std::filesystem::remove(package);
  std::vector<std::string> duringRun;
  printer.onLine = [&](const std::string& line) {
    if (line == "CKID") duringRun = LeftOvers();
  };
  form->RunUpdate();
  EXPECT_EQ(ui.statuses.front(), "Find update!");
  EXPECT_EQ(ui.questions, 0);
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  // Beside the executable: the library image and the extracted package; the work folder.
  EXPECT_EQ(duringRun.size(), 4u);
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

// The checksum in the trailer catches a damaged download before any printer is opened;
// an application made before there was a checksum updates as it always did.
TEST_F(UpdateTest, ADamagedUpdateApplicationIsRefusedBeforeThePrinterIsOpened) {
  std::string package = WritePackage({Item("frw", "fw.bin", Bytes(3000))});
  const auto exeSize = static_cast<int64_t>(std::filesystem::file_size(exe));
  ASSERT_GT(fwp::AppendLinkedPackage(exe, package), 0);
  auto patch = [&](int64_t offset, const std::string& bytes) {
    platform::File file = platform::File::Open(exe, platform::File::Mode::kReadWrite);
    ASSERT_EQ(file.Seek(offset, SEEK_SET), offset);
    ASSERT_EQ(file.Write(bytes.data(), bytes.size()), static_cast<int64_t>(bytes.size()));
  };
  patch(exeSize + 2100, "\xA5");
  form->RunUpdate();
  EXPECT_THAT(BoxTexts(), ElementsAre("Error: Error fwp data!"));
  EXPECT_THAT(ui.boxes[0].detail, ::testing::HasSubstr("the update application is damaged"));
  EXPECT_EQ(printer.discoveries, 0);
  EXPECT_THAT(LeftOvers(), ElementsAre());

  // Put the byte back and zero the checksum: the trailer of an older application.
  std::ifstream in(package, std::ios::binary);
  in.seekg(2100);
  patch(exeSize + 2100, std::string(1, static_cast<char>(in.get())));
  patch(static_cast<int64_t>(std::filesystem::file_size(exe)) - 16, std::string(8, '\0'));
  ui.boxes.clear();
  form->RunUpdate();
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

// An update application whose trailer, program part or package does not fit: "Find
// update!", then "Error fwp data!" with the cause, before any printer is looked for and
// without asking for a package file. The detail names the application, never a copy.
TEST_F(UpdateTest, ADamagedUpdateApplicationIsNeverTakenForAPlainProgram) {
  const std::string package = WritePackage({Item("frw", "fw.bin", Bytes(3000))});
  const std::string program = Read(exe);
  const std::string tail = "LINK FILE 1.00" + std::string(18, '\0');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {program + Read(package) + LE32(5000000) + tail,
       "the update application is damaged: its trailer gives the linked package a length of "
       "5000000 bytes"},
      {program + LE32(0) + tail, "the package linked to " + exe + " is empty"},
      {program + "not a package" + LE32(13) + tail,
       "the package linked to " + exe + " is not an update package"},
  };
  for (const auto& [bytes, reason] : cases) {
    SCOPED_TRACE(reason);
    std::ofstream(exe, std::ios::binary | std::ios::trunc) << bytes;
    ui.statuses.clear();
    ui.boxes.clear();
    EXPECT_EQ(form->RunUpdate(), 0);
    EXPECT_EQ(ui.statuses.front(), "Find update!");
    EXPECT_THAT(BoxTexts(), ElementsAre("Error: Error fwp data!"));
    EXPECT_THAT(ui.boxes[0].detail, ::testing::HasSubstr(reason));
    EXPECT_EQ(ui.questions, 0);
    EXPECT_TRUE(ui.dialogs.empty());
    EXPECT_EQ(printer.discoveries, 0);
    EXPECT_THAT(LeftOvers(), ElementsAre());
  }

  // One flipped byte of the program part, with the package intact.
  std::ofstream(exe, std::ios::binary | std::ios::trunc) << program;
  ASSERT_GT(fwp::AppendLinkedPackage(exe, package), 0);
  std::string made = Read(exe);
  made[100] = static_cast<char>(made[100] ^ 0x40);
  std::ofstream(exe, std::ios::binary | std::ios::trunc) << made;
  ui.boxes.clear();
  form->RunUpdate();
  EXPECT_THAT(BoxTexts(), ElementsAre("Error: Error fwp data!"));
  EXPECT_THAT(ui.boxes[0].detail,
              ::testing::HasSubstr("the update application is damaged: the CRC-32 of its program "
                                   "part is "));
  EXPECT_THAT(ui.boxes[0].detail, ::testing::HasSubstr("fetch the update application again"));
  EXPECT_EQ(printer.discoveries, 0);
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

// A trailer that claims a package of 3 GiB (a sparse file here) is refused where it lies:
// nothing of it is read or copied.
TEST_F(UpdateTest, AnOversizedLinkedPackageIsRefusedWithoutCopyingIt) {
  const std::string package = WritePackage({Item("frw", "fw.bin", Bytes(3000))});
  const auto programSize = static_cast<int64_t>(std::filesystem::file_size(exe));
  const int64_t claimed = int64_t{3} << 30;
  {
    std::ofstream out(exe, std::ios::binary | std::ios::app);
    out << Read(package);
  }
  std::filesystem::resize_file(exe, static_cast<uintmax_t>(programSize + claimed));
  {
    std::ofstream out(exe, std::ios::binary | std::ios::app);
    out << LE32(static_cast<uint32_t>(claimed)) << "LINK FILE 1.00" << std::string(2, '\0')
        << "CRC1" << std::string(12, '\0');
  }
  const auto start = std::chrono::steady_clock::now();
  form->RunUpdate();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_THAT(BoxTexts(), ElementsAre("Error: Error fwp data!"));
  EXPECT_THAT(ui.boxes[0].detail,
              ::testing::HasSubstr("the package linked to " + exe +
                                   " is 3221225472 bytes (3072.0 MiB), more than the 1073741824"));
  EXPECT_EQ(printer.discoveries, 0);
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

// A damaged checksum mark leaves the package unchecked, as an old application's, and the
// operator is told before anything is written.
TEST_F(UpdateTest, ADamagedChecksumMarkIsShownBeforeTheUpdate) {
  const std::string package = WritePackage({Item("frw", "fw.bin", {1})});
  ASSERT_GT(fwp::AppendLinkedPackage(exe, package), 0);
  std::string made = Read(exe);
  made[made.size() - 14] = '?';  // "CR?1"
  std::ofstream(exe, std::ios::binary | std::ios::trunc) << made;
  form->RunUpdate();
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  ASSERT_EQ(ui.summaries.size(), 1u);
  ASSERT_FALSE(ui.summaries[0].warnings.empty());
  EXPECT_THAT(ui.summaries[0].warnings[0], ::testing::HasSubstr("checksum mark"));
}

TEST_F(UpdateTest, TemporaryFilesGoToTheTempFolderWhenTheProgramsFolderIsNotWritable) {
  WritePackage({Item("frw", "fw.bin", {1})});
  MakeForm((dir / "missing" / "vrq-update").string());
  std::vector<std::string> duringRun;
  printer.onLine = [&](const std::string& line) {
    if (line == "CKID") duringRun = LeftOvers();
  };
  form->RunUpdate();
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  EXPECT_THAT(duringRun, ::testing::Contains(::testing::StartsWith("tmp/_^~")));
  EXPECT_THAT(LeftOvers(), ElementsAre());
}

}  // namespace
}  // namespace apptest

namespace apptest {
namespace {

// A run keeps the printer it opened first. While the printer restarts after its image,
// another one appears, first in discovery's order and on the node the run's printer had;
// the run waits for its own printer, back on another node, and never opens the other.
TEST_F(UpdateTest, TheRunKeepsItsPrinterThroughTheRestart) {
  WritePackage({Item("frw", "fw.bin", {1, 2}), Item("font", "f.bin", Bytes(3000))});
  const app::PrinterInfo other{1, "04710055", "/dev/usb/lp0", "1-1.5", "OTHER", "lp0"};
  size_t opensBeforeImage = 0;
  printer.onLine = [&](const std::string& line) {
    if (line.rfind("DF ", 0) != 0) return;
    opensBeforeImage = printer.openedPaths.size();
    printer.others = {other};
    printer.node = "/dev/usb/lp1";
  };
  form->RunUpdate();
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!"));
  const std::vector<std::string> afterImage(printer.openedPaths.begin() + opensBeforeImage,
                                            printer.openedPaths.end());
  EXPECT_THAT(afterImage, ::testing::Each(std::string("/dev/usb/lp1")));
  EXPECT_THAT(afterImage, ::testing::Not(ElementsAre()));
  ASSERT_TRUE(form->LastRun().printer);
  EXPECT_EQ(form->LastRun().printer->portPath, "1-1.4");

  // A printer chosen beforehand is the only one ever opened, whatever comes first.
  printer.openedPaths.clear();
  printer.node = "/dev/usb/lp1";
  channel.ChoosePort("1-1.4");
  printer.onLine = nullptr;
  form->RunUpdate();
  EXPECT_THAT(BoxTexts(), ElementsAre("Info: Update Success!", "Info: Update Success!"));
  EXPECT_THAT(printer.openedPaths, ::testing::Each(std::string("/dev/usb/lp1")));
}

}  // namespace
}  // namespace apptest
