#include "usb/open_diagnosis.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/fs.h"
#include "platform/printable_text.h"
#include "platform/udev.h"

namespace usb {

namespace {

constexpr const char* kRuleName = "70-vrq-printer.rules";
constexpr const char* kRestartHint = "unplug the printer and plug it in again";
constexpr const char* kNotFoundInTime = "could not find which program holds it in time";

// ---------------------------------------------------------------------------------------
// Names that processes gave themselves

// "name (pid N)": the name the process gave itself, as it gave it.
std::string Named(const platform::ProcessInfo& process) {
  const std::string& name = process.command.empty() ? process.argv0 : process.command;
  // A process may call itself anything, escape sequences and line breaks included.
  return platform::Printable(name) + " (pid " + std::to_string(process.pid) + ")";
}

// ---------------------------------------------------------------------------------------
// Facts from udev and the file system

VendorDevice DescribeDevice(const platform::UdevContext& udev, const platform::UdevDevice& usb) {
  VendorDevice found;
  found.portPath = usb.SysName();
  found.product = usb.Attribute("idProduct");
  found.usbNode = usb.DevNode();
  for (const platform::UdevDevice& interface : udev.Enumerate("usb", nullptr, usb)) {
    if (interface.DevType() != "usb_interface" || interface.Attribute("bInterfaceClass") != "07") {
      continue;
    }
    found.printerInterface = true;
    found.driver = interface.Driver();
    break;
  }
  for (const platform::UdevDevice& lp : udev.Enumerate("usbmisc", "lp*", usb)) {
    found.lpName = lp.SysName();
    found.lpNode = lp.DevNode();
    break;
  }
  return found;
}

std::string InstalledRule() {
  for (const char* folder : {"/etc/udev/rules.d/", "/run/udev/rules.d/", "/lib/udev/rules.d/",
                             "/usr/lib/udev/rules.d/", "/usr/local/lib/udev/rules.d/"}) {
    std::string path = std::string(folder) + kRuleName;
    if (platform::IsRegularFile(path)) return path;
  }
  return std::string();
}

// ---------------------------------------------------------------------------------------
// The printer is not (usably) on USB

std::string Where(const std::string& portPath) {
  return portPath.empty() ? std::string("on USB") : "on USB port " + portPath;
}

std::string NotHeldByUsblp(const VendorDevice& device, const DiagnosisSources& sources) {
  std::string printer = "the printer on USB port " + device.portPath;
  if (!device.lpName.empty()) {
    return printer + " is held by usblp, but udev has not made its node /dev/usb/" + device.lpName +
           " (yet): wait a moment and try again, or " + kRestartHint;
  }
  std::string noNode = printer + " has no /dev/usb/lp node because usblp does not hold it: ";
  if (device.driver.empty()) {
    return noNode + "no driver holds its printer interface\nload usblp (sudo modprobe usblp; " +
           "check /etc/modprobe.d for a line \"blacklist usblp\"), then " + kRestartHint;
  }
  if (device.driver != "usbfs") {
    return noNode + "its printer interface is bound to the driver \"" + device.driver +
           "\"\nunbind it from " + device.driver + " (or blacklist " + device.driver +
           "), load usblp (sudo modprobe usblp), then " + kRestartHint;
  }
  // usbfs: a program claimed the interface through libusb.
  std::string program = "a program that uses libusb (such as ipp-usb or a print spooler)";
  std::string unknown;
  if (!device.usbNode.empty()) {
    platform::HolderScan scan = sources.holders(device.usbNode);
    if (!scan.holders.empty()) {
      program = Named(scan.holders.front());
    } else if (scan.timedOut) {
      unknown = std::string(" (") + kNotFoundInTime + ")";
    }
  }
  return noNode + program + " has claimed its printer interface" + unknown +
         "\nstop it (for ipp-usb: sudo systemctl stop ipp-usb), then " + kRestartHint;
}

// The device on the port looked at that tells most: one with a printer interface.
const VendorDevice* ChooseDevice(const std::vector<VendorDevice>& devices,
                                 const std::string& portPath) {
  const VendorDevice* chosen = nullptr;
  for (const VendorDevice& device : devices) {
    if (!portPath.empty() && device.portPath != portPath) continue;
    if (device.printerInterface) return &device;
    if (chosen == nullptr) chosen = &device;
  }
  return chosen;
}

OpenDiagnosis NoPrinterListed(const OpenAttempt& attempt, const DiagnosisSources& sources) {
  const std::vector<VendorDevice> devices = sources.vendorDevices();
  const VendorDevice* device = ChooseDevice(devices, attempt.portPath);
  if (device == nullptr) {
    return {OpenCause::kNotOnUsb, "no printer of vendor " + std::string(kPrinterVendorId) + " is " +
                                      Where(attempt.portPath) +
                                      ": check that the printer is switched on and its USB "
                                      "cable plugged in"};
  }
  if (!device->printerInterface) {
    return {OpenCause::kNotHeldByUsblp,
            "the device of vendor " + std::string(kPrinterVendorId) + " on USB port " +
                device->portPath + " (product " + device->product +
                ") has no printer interface: switch it off and on, and check that it is a "
                "VRQPrinter"};
  }
  if (!device->lpNode.empty()) {
    // It was not there when discovery looked, and is now.
    return {OpenCause::kOther, "the printer on USB port " + device->portPath + " (" +
                                   device->lpNode +
                                   ") appeared while discovery was looking for it: try again"};
  }
  return {OpenCause::kNotHeldByUsblp, NotHeldByUsblp(*device, sources)};
}

// ---------------------------------------------------------------------------------------
// The node is there but would not open

std::string PermissionDenied(const std::string& node, const DiagnosisSources& sources) {
  std::string text = "permission denied on " + node + ": this user may not open the printer\n";
  std::string rule = sources.installedRule();
  if (rule.empty()) {
    text += std::string("install the udev rule ") + kRuleName +
            " that comes with vrq-update (into /lib/udev/rules.d), then run";
  } else {
    text += "the udev rule " + rule + " gives the printer to the user at the desktop; run";
  }
  return text + " \"sudo udevadm trigger\" or " + kRestartHint +
         "; or add the user to the lp group (sudo adduser $USER lp) and log in again";
}

// Which program a process runs, told by the file the kernel started it from: a process
// chooses its own name and command line (anyone can call a script "vrq-update" or put
// "usb://" in its argv[0]), but not the file behind /proc/PID/exe. Of another user's
// process that file cannot be read, and it is then just a program.
enum class Program { kSpoolerBackend, kIppUsb, kVrqUpdate, kOther };

Program ProgramOf(const platform::ProcessInfo& process) {
  std::string file = process.executable;
  // The kernel's mark for a program file replaced since it started (an upgrade).
  const std::string replaced = " (deleted)";
  if (file.size() > replaced.size() && file.ends_with(replaced)) {
    file.resize(file.size() - replaced.size());
  }
  if (file.empty() || file.front() != '/') return Program::kOther;
  // Only root can put a file there; CUPS runs its USB backend from it.
  if (file == "/usr/lib/cups/backend/usb") return Program::kSpoolerBackend;
  const std::string name = file.substr(file.rfind('/') + 1);
  if (name == "ipp-usb") return Program::kIppUsb;
  if (name == "vrq-update") return Program::kVrqUpdate;
  return Program::kOther;
}

std::string WhatToDoWith(const platform::ProcessInfo& holder) {
  switch (ProgramOf(holder)) {
    case Program::kSpoolerBackend:
      return "it is the print spooler's (CUPS) USB backend: pause the printer's queue "
             "(cupsdisable QUEUE) or stop CUPS (sudo systemctl stop cups) while the update "
             "runs";
    case Program::kIppUsb:
      return "stop ipp-usb while the update runs (sudo systemctl stop ipp-usb)";
    case Program::kVrqUpdate:
      return "another vrq-update has the printer: wait until it has ended";
    case Program::kOther:
      break;
  }
  return "end it (kill " + std::to_string(holder.pid) + ") or wait until it has ended";
}

std::string Busy(const std::string& node, const DiagnosisSources& sources) {
  platform::HolderScan scan = sources.holders(node);
  if (scan.holders.empty()) {
    std::string text = node + " is in use by another program";
    if (scan.timedOut) {
      text += std::string(": ") + kNotFoundInTime;
    } else if (scan.unreadable > 0) {
      text += ", one this user may not see (\"sudo fuser -v " + node + "\" names it)";
    }
    return text +
           "\nif it is the print spooler, pause the printer's queue or stop CUPS (sudo "
           "systemctl stop cups); if it is ipp-usb, stop it (sudo systemctl stop ipp-usb)";
  }
  std::string names;
  for (const platform::ProcessInfo& holder : scan.holders) {
    if (!names.empty()) names += ", ";
    names += Named(holder);
  }
  return node + " is in use by another program: " + names + "\n" +
         WhatToDoWith(scan.holders.front());
}

OpenDiagnosis NodeDidNotOpen(const OpenAttempt& attempt, const DiagnosisSources& sources) {
  const std::string& node = attempt.node;
  if (attempt.problem == OpenProblem::kReaderDidNotStart) {
    return {OpenCause::kOther,
            node + " opened, but reading from it did not start within 5 s: try again"};
  }
  switch (attempt.error) {
    case EACCES:
    case EPERM:
      return {OpenCause::kPermissionDenied, PermissionDenied(node, sources)};
    case EBUSY:
      return {OpenCause::kBusy, Busy(node, sources)};
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return {OpenCause::kOther, node + " went away as it was opened (" +
                                     std::strerror(attempt.error) +
                                     "): the printer left USB; check its cable and try again"};
    default:
      return {OpenCause::kOther,
              "cannot open " + node + ": " + std::strerror(attempt.error) + "; try again"};
  }
}

}  // namespace

std::vector<VendorDevice> FindVendorDevices() {
  std::vector<VendorDevice> devices;
  platform::UdevContext udev;
  if (!udev.IsValid()) return devices;
  for (const platform::UdevDevice& usb : udev.Enumerate("usb", nullptr)) {
    if (usb.DevType() != "usb_device") continue;
    std::string vendor = usb.Attribute("idVendor");
    for (char& c : vendor)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (vendor == kPrinterVendorId) devices.push_back(DescribeDevice(udev, usb));
  }
  return devices;
}

DiagnosisSources SystemDiagnosisSources() {
  return {FindVendorDevices,
          [](const std::string& path) { return platform::FindProcessesHolding(path); },
          InstalledRule};
}

OpenDiagnosis DiagnoseOpenFailure(const OpenAttempt& attempt, const DiagnosisSources& sources) {
  if (!attempt.printerListed) return NoPrinterListed(attempt, sources);
  return NodeDidNotOpen(attempt, sources);
}

}  // namespace usb
