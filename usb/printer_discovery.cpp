// EnumUsbPrinters: the printer-class USB interfaces of the vendor, found through udev.
// usblp makes one "lpN" device in the usbmisc class per printer interface it binds; its
// node is /dev/usb/lpN and its minor number is N.

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "platform/udev.h"
#include "usb/_printer_comm.h"

namespace usb {

namespace {

constexpr const char* kPrinterInterfaceClass = "07";
constexpr const char* kPrinterDriver = "usblp";

struct FoundPrinter {
  std::string id;
  uint32_t portNumber = 0;
  std::string devicePath;
  std::string openPath;
  std::string portPath;
  std::string serial;
  std::string nodeName;
};

// Four hex digits, upper-cased; empty when text is anything else.
std::string UsbIdText(const std::string& text) {
  if (text.size() != 4) return std::string();
  std::string upper;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::string();
    upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return upper;
}

std::optional<FoundPrinter> ExaminePrinterNode(const platform::UdevDevice& lp) {
  std::string node = lp.DevNode();
  unsigned major = 0;
  unsigned minor = 0;
  if (node.empty() || !lp.DevNumber(major, minor)) return std::nullopt;

  platform::UdevDevice interface = lp.Ancestor("usb", "usb_interface");
  if (!interface.IsValid() || interface.Attribute("bInterfaceClass") != kPrinterInterfaceClass ||
      interface.Driver() != kPrinterDriver) {
    return std::nullopt;
  }
  platform::UdevDevice device = interface.Ancestor("usb", "usb_device");
  if (!device.IsValid()) return std::nullopt;
  std::string vendor = UsbIdText(device.Attribute("idVendor"));
  std::string product = UsbIdText(device.Attribute("idProduct"));
  if (vendor != kPrinterVendorId || product.empty()) return std::nullopt;

  return FoundPrinter{vendor + product,           minor + 1,   lp.SysPath(), node, device.SysName(),
                      device.Attribute("serial"), lp.SysName()};
}

void FillTable(_struct_printer_comm_& table, const std::vector<platform::UdevDevice>& nodes) {
  std::vector<FoundPrinter> found;
  for (const platform::UdevDevice& lp : nodes) {
    if (auto printer = ExaminePrinterNode(lp)) found.push_back(std::move(*printer));
  }
  std::stable_sort(found.begin(), found.end(), [](const FoundPrinter& a, const FoundPrinter& b) {
    return a.portNumber < b.portNumber;
  });

  for (const FoundPrinter& printer : found) {
    if (table.count >= kPrinterSlots) break;
    int slot = table.count;
    table.id[slot] = printer.id;
    table.port_number[slot] = printer.portNumber;
    table.device_path[slot] = printer.devicePath;
    table.open_path[slot] = printer.openPath;
    table.port_path[slot] = printer.portPath;
    table.serial[slot] = printer.serial;
    table.node_name[slot] = printer.nodeName;
    ++table.count;
  }
}

}  // namespace

void EnumUsbPrinters(_struct_printer_comm_& table) {
  table.count = 0;
  platform::UdevContext udev;
  if (!udev.IsValid()) return;
  FillTable(table, udev.Enumerate("usbmisc", "lp*"));
}

void EnumUsbPrintersOnPort(_struct_printer_comm_& table, const std::string& portPath) {
  table.count = 0;
  if (!IsUsbPortPath(portPath)) return;
  platform::UdevContext udev;
  if (!udev.IsValid()) return;
  platform::UdevDevice device = udev.Device("usb", portPath);
  if (!device.IsValid() || device.DevType() != "usb_device") return;
  FillTable(table, udev.Enumerate("usbmisc", "lp*", device));
}

bool IsUsbPortPath(const std::string& text) {
  size_t dash = text.find('-');
  if (dash == 0 || dash == std::string::npos || dash + 1 == text.size()) return false;
  bool digitBefore = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digitBefore = true;
      continue;
    }
    bool separator = (c == '-' && i == dash) || (c == '.' && i > dash);
    if (!separator || !digitBefore) return false;
    digitBefore = false;
  }
  return digitBefore;
}

}  // namespace usb
