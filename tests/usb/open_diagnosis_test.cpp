// DiagnoseOpenFailure: each cause of a failed open, with the facts it looks at put in by
// the test, and the vendor's devices as udev shows them on emulated trees.
#include "usb/open_diagnosis.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/descriptor.h"
#include "tools/vrq-printer-sim/printer_bed.h"

namespace usb {
namespace {

using ::testing::HasSubstr;

class OpenDiagnosisTest : public ::testing::Test {
 protected:
  OpenDiagnosisTest() {
    sources_.vendorDevices = [this] { return devices_; };
    sources_.holders = [this](const std::string& path) {
      askedFor_.push_back(path);
      return holders_;
    };
    sources_.installedRule = [this] { return rule_; };
  }

  OpenDiagnosis NotListed(const std::string& portPath = "") {
    OpenAttempt attempt;
    attempt.portPath = portPath;
    return DiagnoseOpenFailure(attempt, sources_);
  }

  OpenDiagnosis NodeFailed(int error, OpenProblem problem = OpenProblem::kCannotOpenNode) {
    OpenAttempt attempt;
    attempt.printerListed = true;
    attempt.problem = problem;
    attempt.error = error;
    attempt.node = "/dev/usb/lp0";
    return DiagnoseOpenFailure(attempt, sources_);
  }

  static VendorDevice Printer(const std::string& port, const std::string& driver) {
    VendorDevice device;
    device.portPath = port;
    device.product = "0055";
    device.printerInterface = true;
    device.driver = driver;
    return device;
  }

  DiagnosisSources sources_;
  std::vector<VendorDevice> devices_;
  platform::HolderScan holders_;
  std::string rule_;
  std::vector<std::string> askedFor_;
};

TEST_F(OpenDiagnosisTest, NoPrinterOfTheVendorOnUsbAtAllOrOnThePortAskedFor) {
  OpenDiagnosis none = NotListed();
  EXPECT_EQ(none.cause, OpenCause::kNotOnUsb);
  EXPECT_EQ(none.detail,
            "no printer of vendor 0471 is on USB: check that the printer is switched on and "
            "its USB cable plugged in");

  devices_ = {Printer("1-1.5", "usbfs")};
  OpenDiagnosis pinned = NotListed("1-1.4");
  EXPECT_EQ(pinned.cause, OpenCause::kNotOnUsb);
  EXPECT_THAT(pinned.detail, HasSubstr("is on USB port 1-1.4: check"));
}

TEST_F(OpenDiagnosisTest, OnUsbButNotHeldByUsblpNamesTheDriverOrTheProgramThatHasIt) {
  devices_ = {Printer("1-1.4", "usb-storage")};
  OpenDiagnosis driver = NotListed();
  EXPECT_EQ(driver.cause, OpenCause::kNotHeldByUsblp);
  EXPECT_EQ(driver.detail,
            "the printer on USB port 1-1.4 has no /dev/usb/lp node because usblp does not hold "
            "it: its printer interface is bound to the driver \"usb-storage\"\n"
            "unbind it from usb-storage (or blacklist usb-storage), load usblp (sudo modprobe "
            "usblp), then unplug the printer and plug it in again");

  devices_ = {Printer("1-1.4", "")};
  OpenDiagnosis unbound = NotListed();
  EXPECT_EQ(unbound.cause, OpenCause::kNotHeldByUsblp);
  EXPECT_THAT(unbound.detail, HasSubstr("no driver holds its printer interface\nload usblp"));

  // A libusb program (ipp-usb) claimed it: found by who holds the USB device's own node.
  devices_ = {Printer("1-1.4", "usbfs")};
  devices_[0].usbNode = "/dev/bus/usb/001/005";
  holders_.holders = {{812, "ipp-usb", "/usr/sbin/ipp-usb", "/usr/sbin/ipp-usb"}};
  OpenDiagnosis claimed = NotListed();
  EXPECT_EQ(claimed.cause, OpenCause::kNotHeldByUsblp);
  EXPECT_EQ(claimed.detail,
            "the printer on USB port 1-1.4 has no /dev/usb/lp node because usblp does not hold "
            "it: ipp-usb (pid 812) has claimed its printer interface\n"
            "stop it (for ipp-usb: sudo systemctl stop ipp-usb), then unplug the printer and "
            "plug it in again");
  EXPECT_EQ(askedFor_, std::vector<std::string>{"/dev/bus/usb/001/005"});
  holders_.holders.clear();
  EXPECT_THAT(NotListed().detail, HasSubstr("a program that uses libusb (such as ipp-usb"));
  holders_.timedOut = true;
  EXPECT_THAT(NotListed().detail,
              HasSubstr("a program that uses libusb (such as ipp-usb or a print spooler) has "
                        "claimed its printer interface (could not find which program holds it in "
                        "time)\nstop it"));
}

TEST_F(OpenDiagnosisTest, ADeviceWithoutPrinterInterfaceOrWithANodeNotYetMadeSaysSo) {
  VendorDevice other = Printer("1-1.6", "");
  other.printerInterface = false;
  other.product = "0099";
  devices_ = {other};
  EXPECT_THAT(NotListed().detail,
              HasSubstr("the device of vendor 0471 on USB port 1-1.6 (product 0099) has no "
                        "printer interface"));

  // The printer beside it is the one that tells.
  VendorDevice waiting = Printer("1-1.4", "usblp");
  waiting.lpName = "lp3";
  devices_ = {other, waiting};
  EXPECT_THAT(NotListed().detail, HasSubstr("held by usblp, but udev has not made its node "
                                            "/dev/usb/lp3"));
}

TEST_F(OpenDiagnosisTest, PermissionDeniedNamesTheNodeTheRuleTheTriggerAndTheLpGroup) {
  OpenDiagnosis denied = NodeFailed(EACCES);
  EXPECT_EQ(denied.cause, OpenCause::kPermissionDenied);
  EXPECT_EQ(denied.detail,
            "permission denied on /dev/usb/lp0: this user may not open the printer\n"
            "install the udev rule 70-vrq-printer.rules that comes with vrq-update (into "
            "/lib/udev/rules.d), then run \"sudo udevadm trigger\" or unplug the printer and "
            "plug it in again; or add the user to the lp group (sudo adduser $USER lp) and log "
            "in again");

  rule_ = "/usr/lib/udev/rules.d/70-vrq-printer.rules";
  OpenDiagnosis installed = NodeFailed(EPERM);
  EXPECT_EQ(installed.cause, OpenCause::kPermissionDenied);
  EXPECT_THAT(installed.detail,
              HasSubstr("\nthe udev rule /usr/lib/udev/rules.d/70-vrq-printer.rules gives the "
                        "printer to the user at the desktop; run \"sudo udevadm trigger\""));
}

TEST_F(OpenDiagnosisTest, BusyNodeNamesWhoHoldsItAndHowToStopIt) {
  holders_.holders = {{4711, "usb", "usb://VRQ/Printer?serial=VRQ1", "/usr/lib/cups/backend/usb"}};
  OpenDiagnosis spooler = NodeFailed(EBUSY);
  EXPECT_EQ(spooler.cause, OpenCause::kBusy);
  EXPECT_EQ(spooler.detail,
            "/dev/usb/lp0 is in use by another program: usb (pid 4711)\n"
            "it is the print spooler's (CUPS) USB backend: pause the printer's queue "
            "(cupsdisable QUEUE) or stop CUPS (sudo systemctl stop cups) while the update runs");
  EXPECT_EQ(askedFor_, std::vector<std::string>{"/dev/usb/lp0"});

  holders_.holders = {{812, "ipp-usb", "ipp-usb", "/usr/sbin/ipp-usb"}};
  EXPECT_THAT(NodeFailed(EBUSY).detail, HasSubstr("ipp-usb (pid 812)\nstop ipp-usb"));
  holders_.holders = {{99, "vrq-update", "vrq-update", "/opt/vrq/bin/vrq-update"},
                      {120, "cat", "cat", "/usr/bin/cat"}};
  EXPECT_THAT(NodeFailed(EBUSY).detail,
              HasSubstr("vrq-update (pid 99), cat (pid 120)\nanother vrq-update has the printer"));
  holders_.holders = {{120, "cat", "cat", "/usr/bin/cat"}};
  EXPECT_THAT(NodeFailed(EBUSY).detail, HasSubstr("cat (pid 120)\nend it (kill 120)"));
  // A CUPS upgrade replaced the backend's file while it ran.
  holders_.holders = {{4711, "usb", "usb://x", "/usr/lib/cups/backend/usb (deleted)"}};
  EXPECT_THAT(NodeFailed(EBUSY).detail, HasSubstr("usb (pid 4711)\nit is the print spooler's"));

  holders_.holders.clear();
  holders_.unreadable = 3;
  OpenDiagnosis unseen = NodeFailed(EBUSY);
  EXPECT_EQ(unseen.cause, OpenCause::kBusy);
  EXPECT_THAT(unseen.detail, HasSubstr("one this user may not see (\"sudo fuser -v "
                                       "/dev/usb/lp0\" names it)\nif it is the print spooler"));

  // The scan ran out of time before it found anybody.
  holders_.timedOut = true;
  OpenDiagnosis late = NodeFailed(EBUSY);
  EXPECT_EQ(late.cause, OpenCause::kBusy);
  EXPECT_EQ(late.detail,
            "/dev/usb/lp0 is in use by another program: could not find which program holds it "
            "in time\nif it is the print spooler, pause the printer's queue or stop CUPS (sudo "
            "systemctl stop cups); if it is ipp-usb, stop it (sudo systemctl stop ipp-usb)");
}

// The advice goes by the program file the kernel ran, never by the name a process gave
// itself; the name is shown as the process gave it, made harmless for a terminal.
TEST_F(OpenDiagnosisTest, BusyNodeAdviceIsNotEarnedByTheNameAProcessChose) {
  const struct {
    platform::ProcessInfo holder;
    const char* shown;
  } impostors[] = {
      {{99, "vrq-update", "vrq-update", "/usr/bin/python3"}, "vrq-update (pid 99)"},
      {{4711, "usb", "usb://VRQ/Printer", "/home/mallory/usb"}, "usb (pid 4711)"},
      {{4711, "usb", "usb://VRQ/Printer", "/tmp/usr/lib/cups/backend/usb"}, "usb (pid 4711)"},
      {{812, "ipp-usb", "/usr/sbin/ipp-usb", "/usr/sbin/ipp-usb-helper"}, "ipp-usb (pid 812)"},
      // Another user's process: its program file cannot be read.
      {{4711, "usb", "usb://VRQ/Printer", ""}, "usb (pid 4711)"},
      {{99, "vrq-update", "vrq-update", ""}, "vrq-update (pid 99)"},
      {{99, "", "vrq-update", "vrq-update"}, "vrq-update (pid 99)"},
  };
  for (const auto& impostor : impostors) {
    SCOPED_TRACE(impostor.holder.executable);
    holders_.holders = {impostor.holder};
    const std::string pid = std::to_string(impostor.holder.pid);
    EXPECT_EQ(NodeFailed(EBUSY).detail,
              "/dev/usb/lp0 is in use by another program: " + std::string(impostor.shown) +
                  "\nend it (kill " + pid + ") or wait until it has ended");
  }

  holders_.holders = {{7, "\x1b]0;owned\a\r\nok\x7f\xc2\x85\xff caf\xc3\xa9", "", "/usr/bin/cat"}};
  EXPECT_THAT(NodeFailed(EBUSY).detail,
              HasSubstr("program: \\x1B]0;owned\\x07\\x0D\\x0Aok\\x7F\\xC2\\x85\\xFF caf\xc3\xa9 "
                        "(pid 7)\nend it (kill 7)"));
}

TEST_F(OpenDiagnosisTest, OtherFailuresSayWhatHappenedToTheNode) {
  OpenDiagnosis gone = NodeFailed(ENODEV);
  EXPECT_EQ(gone.cause, OpenCause::kOther);
  EXPECT_THAT(gone.detail, HasSubstr("/dev/usb/lp0 went away as it was opened"));
  EXPECT_THAT(NodeFailed(EIO).detail, HasSubstr("cannot open /dev/usb/lp0: Input/output error"));
  EXPECT_THAT(NodeFailed(0, OpenProblem::kReaderDidNotStart).detail,
              HasSubstr("reading from it did not start within 5 s"));
  EXPECT_TRUE(askedFor_.empty());  // /proc is looked at only for a busy node
}

// The same facts from udev, on emulated device trees.
TEST(FindVendorDevices, SeesThePrintersOnUsbWhicheverDriverHoldsThem) {
  sim::PrinterBed bed;
  ASSERT_TRUE(bed.IsValid()) << bed.Error();
  sim::PrinterRecord held;
  sim::PrinterRecord claimed;
  claimed.hubPort = 5;
  claimed.driver = "usbfs";
  sim::PrinterRecord unbound;
  unbound.hubPort = 6;
  unbound.driver = "";
  sim::PrinterRecord otherVendor;
  otherVendor.hubPort = 7;
  otherVendor.lp = 1;
  otherVendor.idVendor = "04b8";
  for (const auto& record : {held, claimed, unbound, otherVendor})
    ASSERT_TRUE(bed.Plug(record)) << bed.Error();

  std::vector<VendorDevice> devices = FindVendorDevices();
  ASSERT_EQ(devices.size(), 3u);
  std::sort(devices.begin(), devices.end(),
            [](const VendorDevice& a, const VendorDevice& b) { return a.portPath < b.portPath; });
  EXPECT_EQ(devices[0].portPath, "1-1.4");
  EXPECT_EQ(devices[0].driver, "usblp");
  EXPECT_EQ(devices[0].lpName, "lp0");
  EXPECT_EQ(devices[0].lpNode, "/dev/usb/lp0");
  EXPECT_EQ(devices[1].driver, "usbfs");
  EXPECT_TRUE(devices[1].printerInterface);
  EXPECT_EQ(devices[1].lpName, "");
  EXPECT_EQ(devices[2].portPath, "1-1.6");
  EXPECT_EQ(devices[2].driver, "");
  EXPECT_EQ(devices[2].product, "0055");

  // What the user is then told for the unbound one, from the system's own facts.
  OpenAttempt attempt;
  attempt.portPath = "1-1.6";
  OpenDiagnosis diagnosis = DiagnoseOpenFailure(attempt);
  EXPECT_EQ(diagnosis.cause, OpenCause::kNotHeldByUsblp);
  EXPECT_THAT(diagnosis.detail, HasSubstr("no driver holds its printer interface"));
}

// The node in the emulated tree leads to a pty: a process that holds the node is found by
// that, and told apart by its program file.
TEST(FindProcessesHolding, FindsTheProcessThatHoldsTheEmulatedNode) {
  sim::PrinterBed bed;
  ASSERT_TRUE(bed.IsValid()) << bed.Error();
  ASSERT_TRUE(bed.Plug(sim::PrinterRecord{})) << bed.Error();
  const platform::Descriptor node(::open("/dev/usb/lp0", O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(node.IsOpen());

  const platform::HolderScan scan = platform::FindProcessesHolding("/dev/usb/lp0");
  EXPECT_FALSE(scan.timedOut);
  const auto self = std::find_if(scan.holders.begin(), scan.holders.end(),
                                 [](const auto& holder) { return holder.pid == ::getpid(); });
  ASSERT_NE(self, scan.holders.end());
  EXPECT_EQ(self->executable, std::filesystem::read_symlink("/proc/self/exe").string());

  OpenAttempt attempt;
  attempt.printerListed = true;
  attempt.problem = OpenProblem::kCannotOpenNode;
  attempt.error = EBUSY;
  attempt.node = "/dev/usb/lp0";
  const std::string pid = std::to_string(::getpid());
  EXPECT_THAT(DiagnoseOpenFailure(attempt).detail, HasSubstr(self->command + " (pid " + pid + ")"));
}

}  // namespace
}  // namespace usb
