#include "tools/vrq-printer-sim/printer_bed.h"

#include <fcntl.h>
#include <ftw.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/descriptor.h"

namespace sim {

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";
constexpr int kPrinterMajor = 180;  // usblp's character device major
constexpr const char* kHub = "/devices/pci0000:00/0000:00:14.0/usb1/1-1";

struct SysPaths {
  std::string device;
  std::string interface;
  std::string lp;
};

SysPaths PathsOf(const PrinterRecord& record) {
  std::string name = record.PortPath();
  SysPaths paths;
  paths.device = std::string(kHub) + "/" + name;
  paths.interface = paths.device + "/" + name + ":1.0";
  if (record.HasLpDevice()) paths.lp = paths.interface + "/usbmisc/lp" + std::to_string(record.lp);
  return paths;
}

int HubPort(const PrinterRecord& record) {
  return record.hubPort >= 0 ? record.hubPort : 4 + record.lp;
}

// The USB device's node, through which usbfs (libusb) reaches it.
std::string UsbNodeName(const PrinterRecord& record) {
  char name[32];
  std::snprintf(name, sizeof name, "/dev/bus/usb/001/%03d", HubPort(record) + 1);
  return name;
}

// The devices in umockdev's record format. The kernel writes devpath without the bus
// number ("1.4"); "1-1.4" is the sysname.
std::string DeviceRecords(const PrinterRecord& record, const SysPaths& paths) {
  int port = HubPort(record);
  std::string text;
  text += "P: " + paths.device + "\n";
  text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
  text += "E: PRODUCT=" + record.idVendor + "/" + record.idProduct + "/100\n";
  text += "A: idVendor=" + record.idVendor + "\nA: idProduct=" + record.idProduct + "\n";
  text += "E: DEVNAME=" + UsbNodeName(record) + "\n";
  text += "A: busnum=1\nA: devnum=" + std::to_string(port + 1) + "\n";
  text += "A: devpath=1." + std::to_string(port) + "\n";
  // A device without a serial number has no such attribute at all; one with bytes that
  // the record's text cannot carry (a line break, say) is written in hex.
  const bool plain = std::all_of(record.serial.begin(), record.serial.end(),
                                 [](char c) { return c >= 0x20 && c < 0x7F; });
  if (plain && !record.serial.empty()) text += "A: serial=" + record.serial + "\n";
  if (!plain) {
    text += "H: serial=";
    for (char c : record.serial) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
      text += hex;
    }
    text += "\n";
  }
  text += "\n";

  text += "P: " + paths.interface + "\n";
  text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n";
  if (!record.driver.empty()) text += "E: DRIVER=" + record.driver + "\n";
  text += "A: bInterfaceClass=" + record.interfaceClass + "\n";
  if (!record.driver.empty()) {
    text += "L: driver=../../../../../../../bus/usb/drivers/" + record.driver + "\n";
  }
  text += "\n";
  if (!record.HasLpDevice()) return text;

  std::string lp = std::to_string(record.lp);
  text += "P: " + paths.lp + "\n";
  text += "E: SUBSYSTEM=usbmisc\n";
  if (record.withNode) {
    text += "E: DEVNAME=/dev/usb/lp" + lp + "\n";
    text += "E: MAJOR=" + std::to_string(kPrinterMajor) + "\nE: MINOR=" + lp + "\n";
    text += "A: dev=" + std::to_string(kPrinterMajor) + ":" + lp + "\n";
  }
  text += "L: device=../../../" + paths.interface.substr(paths.interface.rfind('/') + 1) + "\n\n";
  return text;
}

bool HasPreload() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0755);
  }
  mkdir(path.c_str(), 0755);
}

// chmod a+rwX, as nftw's callback: folders and executables get x, everything r and w.
int OpenEntryToAll(const char* path, const struct stat* info, int type, FTW*) {
  // chmod() follows a link: the node's would change the pty's own mode.
  if (type == FTW_SL) return 0;
  mode_t mode = info->st_mode & 07777;
  mode |= S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
  if (S_ISDIR(info->st_mode) || (info->st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0) {
    mode |= S_IXUSR | S_IXGRP | S_IXOTH;
  }
  chmod(path, mode);
  return 0;
}

}  // namespace

std::string PrinterRecord::PortPath() const {
  return "1-1." + std::to_string(HubPort(*this));
}

bool EnsureUmockdevPreload(char** argv, std::string& error) {
  if (HasPreload()) return true;
  const char* old = std::getenv("LD_PRELOAD");
  std::string preload = kPreload;
  if (old != nullptr && *old != '\0') preload += std::string(":") + old;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  // AddressSanitizer insists on being first in the library list; the preload comes first.
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::string asanOptions = "verify_asan_link_order=0";
  if (asan != nullptr && *asan != '\0') asanOptions = std::string(asan) + ":" + asanOptions;
  setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
  execv("/proc/self/exe", argv);
  error = std::string("cannot restart under ") + kPreload + ": " + std::strerror(errno);
  return false;
}

void PrinterBed::TestbedUnref::operator()(_UMockdevTestbed* testbed) const {
  g_object_unref(testbed);
}

struct PrinterBed::Plugged {
  PrinterRecord record;
  SysPaths paths;
  platform::Descriptor master;
  std::string nodeLink;    // <root>/dev/usb/lpN
  std::string ptyMapLink;  // <root>/dev/.ptymap/<pty name>
  std::string ptyName;     // /dev/pts/N
  std::string usbNode;     // <root>/dev/bus/usb/001/NNN
};

PrinterBed::PrinterBed() : testbed_(umockdev_testbed_new()) {
  if (testbed_ == nullptr) {
    error_ = "umockdev cannot make a device tree";
    return;
  }
  gchar* root = umockdev_testbed_get_root_dir(testbed_.get());
  root_ = root;
  g_free(root);
}

PrinterBed::~PrinterBed() {
  for (auto& [port, printer] : printers_)
    RemoveNode(*printer);
  printers_.clear();
}

std::string PrinterBed::RootDir() const {
  return root_;
}

int PrinterBed::MasterFd(const std::string& portPath) const {
  auto it = printers_.find(portPath);
  return it == printers_.end() ? -1 : it->second->master.Get();
}

std::string PrinterBed::PtyName(const std::string& portPath) const {
  auto it = printers_.find(portPath);
  return it == printers_.end() ? std::string() : it->second->ptyName;
}

std::string PrinterBed::UsbNode(const std::string& portPath) const {
  auto it = printers_.find(portPath);
  return it == printers_.end() ? std::string() : UsbNodeName(it->second->record);
}

std::string PrinterBed::UsbNodeInTree(const std::string& portPath) const {
  auto it = printers_.find(portPath);
  return it == printers_.end() ? std::string() : it->second->usbNode;
}

// The USB device's node is a link in the tree to a plain file beside it, as the printer
// node is a link to its pty: a program holding it open shows that file in /proc, and the
// host finds it by following the node's link. Programs only hold it open here.
bool PrinterBed::MakeUsbNode(Plugged& printer) {
  std::string name = UsbNodeName(printer.record);
  MakeFolders(root_ + name.substr(0, name.rfind('/')));
  MakeFolders(root_ + "/usbfs");
  std::string flat = name.substr(std::strlen("/dev/bus/usb/"));  // "001/005" -> "001-005"
  std::replace(flat.begin(), flat.end(), '/', '-');
  std::string file = root_ + "/usbfs/" + flat;
  platform::Descriptor made(open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  printer.usbNode = root_ + name;
  unlink(printer.usbNode.c_str());
  if (!made.IsOpen() || symlink(file.c_str(), printer.usbNode.c_str()) != 0) {
    error_ = "cannot make " + printer.usbNode + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool PrinterBed::LpInUse(int lp) const {
  for (const auto& [port, printer] : printers_) {
    if (printer->record.HasLpDevice() && printer->record.lp == lp) return true;
  }
  return false;
}

int PrinterBed::LowestFreeLp() const {
  int lp = 0;
  while (LpInUse(lp))
    ++lp;
  return lp;
}

void PrinterBed::ShareWithAllUsers() {
  shared_ = true;
  OpenTreeToAll();
}

void PrinterBed::OpenTreeToAll() {
  if (shared_ && !root_.empty()) nftw(root_.c_str(), OpenEntryToAll, 16, FTW_PHYS);
}

// The node is a pty of our own rather than umockdev's, because umockdev cannot take its
// own node away on removal and refuses to make it again. The ".ptymap" link makes the
// host see a character device 180:N that is no terminal, as a real printer node.
bool PrinterBed::MakeNode(int lp, Plugged& printer) {
  int masterFd = -1;
  int slaveFd = -1;
  char name[256] = {};
  if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
    error_ = std::string("openpty: ") + std::strerror(errno);
    return false;
  }
  platform::Descriptor master(masterFd);
  {
    // The slave end is only needed to make the line raw; the host opens it by name.
    platform::Descriptor slave(slaveFd);
    termios raw{};
    tcgetattr(slave.Get(), &raw);
    cfmakeraw(&raw);
    tcsetattr(slave.Get(), TCSANOW, &raw);
  }
  if (nodeMode_ >= 0) chmod(name, static_cast<mode_t>(nodeMode_));
  fcntl(master.Get(), F_SETFD, FD_CLOEXEC);
  fcntl(master.Get(), F_SETFL, fcntl(master.Get(), F_GETFL) | O_NONBLOCK);

  std::string mapName = name;
  for (char& c : mapName)
    c = c == '/' ? '_' : c;
  MakeFolders(root_ + "/dev/usb");
  MakeFolders(root_ + "/dev/.ptymap");
  printer.ptyName = name;
  printer.nodeLink = root_ + "/dev/usb/lp" + std::to_string(lp);
  printer.ptyMapLink = root_ + "/dev/.ptymap/" + mapName;
  std::string number = std::to_string(kPrinterMajor) + ":" + std::to_string(lp);
  unlink(printer.nodeLink.c_str());
  unlink(printer.ptyMapLink.c_str());
  if (symlink(name, printer.nodeLink.c_str()) != 0 ||
      symlink(number.c_str(), printer.ptyMapLink.c_str()) != 0) {
    error_ = std::string("cannot link the printer node: ") + std::strerror(errno);
    return false;
  }
  printer.master = std::move(master);
  return true;
}

void PrinterBed::RemoveNode(Plugged& printer) {
  if (!printer.usbNode.empty()) unlink(printer.usbNode.c_str());
  if (!printer.nodeLink.empty()) unlink(printer.nodeLink.c_str());
  if (!printer.ptyMapLink.empty()) unlink(printer.ptyMapLink.c_str());
  // umockdev aborts when a device takes a device number whose link another left behind.
  if (printer.record.HasLpDevice() && printer.record.withNode) {
    std::string number = std::to_string(kPrinterMajor) + ":" + std::to_string(printer.record.lp);
    unlink((root_ + "/sys/dev/char/" + number).c_str());
  }
  printer.master.Reset();
}

bool PrinterBed::Plug(const PrinterRecord& record) {
  if (testbed_ == nullptr) return false;
  const std::string port = record.PortPath();
  if (IsPlugged(port)) {
    error_ = "a printer on " + port + " is plugged in already";
    return false;
  }
  if (record.HasLpDevice() && LpInUse(record.lp)) {
    error_ = "lp" + std::to_string(record.lp) + " is in use already";
    return false;
  }
  auto printer = std::make_unique<Plugged>();
  printer->record = record;
  printer->paths = PathsOf(record);
  if (record.HasLpDevice() && record.withNode && !MakeNode(record.lp, *printer)) return false;
  if (!MakeUsbNode(*printer)) {
    RemoveNode(*printer);
    return false;
  }

  GError* failure = nullptr;
  std::string records = DeviceRecords(record, printer->paths);
  if (!umockdev_testbed_add_from_string(testbed_.get(), records.c_str(), &failure)) {
    error_ = std::string("umockdev refused the printer: ") +
             (failure != nullptr ? failure->message : "unknown error");
    if (failure != nullptr) g_error_free(failure);
    RemoveNode(*printer);
    return false;
  }
  printers_[port] = std::move(printer);
  OpenTreeToAll();
  return true;
}

bool PrinterBed::Unplug(const std::string& portPath) {
  auto it = printers_.find(portPath);
  if (it == printers_.end()) {
    error_ = "no printer is plugged in on " + portPath;
    return false;
  }
  Plugged& printer = *it->second;
  // Children first: removing only the USB device would leave its children's links
  // behind, and plugging the printer in again would then fail.
  for (const std::string* path :
       {&printer.paths.lp, &printer.paths.interface, &printer.paths.device}) {
    if (path->empty()) continue;
    std::string sys = "/sys" + *path;
    umockdev_testbed_uevent(testbed_.get(), sys.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_.get(), sys.c_str());
  }
  RemoveNode(printer);
  printers_.erase(it);
  return true;
}

bool PrinterBed::SendEvent(const std::string& portPath, const char* action) {
  auto it = printers_.find(portPath);
  if (it == printers_.end() || it->second->paths.lp.empty()) return false;
  std::string sys = "/sys" + it->second->paths.lp;
  umockdev_testbed_uevent(testbed_.get(), sys.c_str(), action);
  return true;
}

}  // namespace sim
