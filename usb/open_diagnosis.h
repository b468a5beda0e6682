// Why a printer could not be opened, told in the operator's terms: no printer of the
// vendor on USB; one on USB that usblp does not hold (and which driver or program does);
// a node this user may not open; a node another program has open (and which one). The
// result is the detail line shown below the system's own message, with what to do.
//
// The facts come from udev (the USB devices of the vendor and their drivers), /proc (who
// holds a node) and the file system (whether the package's udev rule is installed),
// through DiagnosisSources so that tests can put their own in. A diagnosis costs a scan
// of udev and /proc: make it once, when a failure is reported, not on every retry.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/process_scan.h"
#include "usb/_printer_comm.h"

namespace usb {

// A USB device of the vendor, whether or not usblp holds it.
struct VendorDevice {
  std::string portPath;           // "1-1.4"
  std::string product;            // idProduct as the device gives it
  bool printerInterface = false;  // it has a printer-class interface
  std::string driver;             // the driver bound to that interface, empty when none
  std::string lpName;             // "lp0" when usblp made an lp device for it
  std::string lpNode;             // that device's node, empty while it has none
  std::string usbNode;            // the USB device's own node (/dev/bus/usb/001/005)
};

// The vendor's USB devices, through udev; empty when udev cannot be asked.
std::vector<VendorDevice> FindVendorDevices();

// The failed attempt to open a printer, as the port saw it.
struct OpenAttempt {
  bool printerListed = false;                // discovery listed a printer, and its node was tried
  OpenProblem problem = OpenProblem::kNone;  // what the port met then
  int error = 0;                             // errno of the node's open
  std::string node;                          // the node tried
  std::string portPath;                      // the only port looked at; empty for any
};

enum class OpenCause {
  kNotOnUsb,          // no device of the vendor on USB (on the port looked at)
  kNotHeldByUsblp,    // on USB, but with no lp node: usblp does not hold it
  kPermissionDenied,  // the node is not this user's to open
  kBusy,              // another program has the node open
  kOther,             // gone while it was opened, the reader did not start, anything else
};

struct OpenDiagnosis {
  OpenCause cause = OpenCause::kOther;
  std::string detail;  // one or two lines (joined by "\n"): the cause and what to do
};

struct DiagnosisSources {
  std::function<std::vector<VendorDevice>()> vendorDevices;
  std::function<platform::HolderScan(const std::string& path)> holders;
  // The path of the package's udev rule where udev reads it, empty when not installed.
  std::function<std::string()> installedRule;
};

// The system's own: udev, /proc and the udev rules folders.
DiagnosisSources SystemDiagnosisSources();

OpenDiagnosis DiagnoseOpenFailure(const OpenAttempt& attempt,
                                  const DiagnosisSources& sources = SystemDiagnosisSources());

}  // namespace usb
