#include "tests/hidlib/hid_emulator.h"

#include <ftw.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hidtest {
namespace {

// A vendor-defined collection with 64-byte input and output reports and no report ids.
constexpr uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x81, 0x02,        //   input (data, variable, absolute)
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x91, 0x02,        //   output (data, variable, absolute)
    0xC0,              // end collection
};

struct HidDeviceRecord {
  const char* port;  // USB port path, e.g. "1-2"
  unsigned vendor;
  unsigned product;
  int minor;  // hidraw number
  const char* name;
};

std::string Hex(const uint8_t* bytes, size_t size) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    text += pair;
  }
  return text;
}

// The umockdev description of a USB HID device with its hidraw node.
std::string DescribeHidDevice(const HidDeviceRecord& d) {
  char ids[64];
  const std::string usb = std::string("/devices/pci0000:00/0000:00:14.0/usb1/") + d.port;
  const std::string interface = usb + "/" + d.port + ":1.0";
  std::snprintf(ids, sizeof ids, "0003:%04X:%04X.%04X", d.vendor, d.product, d.minor + 1);
  const std::string hid = interface + "/" + ids;
  const std::string minor = std::to_string(d.minor);
  std::string text;
  std::snprintf(ids, sizeof ids, "%x/%x/100", d.vendor, d.product);
  text += "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=" + ids + "\n";
  std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", d.vendor, d.product);
  text += ids;
  text += "A: bcdDevice=0100\nA: busnum=1\nA: devnum=" + std::to_string(d.minor + 3) +
          "\nA: devpath=" + std::string(d.port).substr(2) + "\nA: manufacturer=Emulated" +
          "\nA: product=" + d.name + "\nA: serial=EMU" + minor + "\n\n";
  text += "P: " + interface +
          "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=03\n"
          "A: bInterfaceNumber=00\n\n";
  std::snprintf(ids, sizeof ids, "%08X:%08X", d.vendor, d.product);
  text += "P: " + hid + "\nE: SUBSYSTEM=hid\nE: HID_ID=0003:" + ids + "\nE: HID_NAME=" + d.name +
          "\nE: HID_UNIQ=EMU" + minor + "\nE: HID_PHYS=usb-0000:00:14.0-" +
          std::string(d.port).substr(2) +
          "/input0\nH: report_descriptor=" + Hex(kReportDescriptor, sizeof kReportDescriptor) +
          "\n\n";
  text += "P: " + hid + "/hidraw/hidraw" + minor + "\nN: hidraw" + minor +
          "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw" + minor +
          "\nE: MAJOR=243\nE: MINOR=" + minor + "\nA: dev=243:" + minor + "\nL: device=../../../" +
          hid.substr(hid.rfind('/') + 1) + "\n";
  return text;
}

constexpr HidDeviceRecord kPrinter{"1-2", 0x0471, 0x0055, 0, "VRQ VRQPrinter"};
constexpr HidDeviceRecord kKeyboard{"1-3", 0x046D, 0xC31C, 1, "Emulated Keyboard"};

void PutLittleEndian32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void ReexecUnderUmockdev(char** argv) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr) return;
  std::string value = "libumockdev-preload.so.0";
  if (preload != nullptr && *preload != '\0') value += std::string(":") + preload;
  ::setenv("LD_PRELOAD", value.c_str(), 1);
  // A sanitizer runtime would object to not being the first library loaded.
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::string options = "verify_asan_link_order=0";
  if (asan != nullptr && *asan != '\0') options = std::string(asan) + ":" + options;
  ::setenv("ASAN_OPTIONS", options.c_str(), 1);
  ::execv("/proc/self/exe", argv);
  std::perror("re-executing under libumockdev-preload.so.0");
  std::exit(127);
}

HidEmulator::HidEmulator(bool withPrinter) {
  testbed_ = umockdev_testbed_new();
  if (testbed_ == nullptr) {
    Fail("umockdev_testbed_new failed");
    return;
  }
  ok_ = !withPrinter || AddPrinter();
}

bool HidEmulator::AddDevice(const std::string& description, const char* what) {
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &error)) {
    Fail(std::string("adding the ") + what + ": " + (error ? error->message : "?"));
    g_clear_error(&error);
    return false;
  }
  return true;
}

bool HidEmulator::AddPrinter() {
  if (!AddDevice(DescribeHidDevice(kPrinter), "printer")) return false;
  GError* error = nullptr;
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&HidEmulator::OnIoctl), this);
  g_signal_connect(handler_, "handle-write", G_CALLBACK(&HidEmulator::OnWrite), this);
  if (!umockdev_testbed_attach_ioctl(testbed_, "/dev/hidraw0", handler_, &error)) {
    Fail(std::string("attaching the ioctl handler: ") + (error ? error->message : "?"));
    g_clear_error(&error);
    return false;
  }
  return true;
}

HidEmulator::~HidEmulator() {
  if (testbed_ != nullptr && handler_ != nullptr) {
    umockdev_testbed_detach_ioctl(testbed_, "/dev/hidraw0", nullptr);
  }
  if (handler_ != nullptr) g_object_unref(handler_);
  if (testbed_ != nullptr) g_object_unref(testbed_);
}

bool HidEmulator::Fail(const std::string& what) {
  error_ = what;
  ok_ = false;
  return false;
}

bool HidEmulator::OpenToAllUsers() {
  // chmod -R a+rwX: read and write for everyone, search on folders. A device node is a
  // link to the pty behind it, which needs opening up too.
  const auto open = [](const char* path, const struct stat* st, int, FTW*) {
    if (S_ISLNK(st->st_mode)) {
      struct stat target {};
      const bool pty = ::stat(path, &target) == 0 && S_ISCHR(target.st_mode);
      return pty ? ::chmod(path, 0666) : 0;
    }
    const mode_t search = S_ISDIR(st->st_mode) ? 0111 : 0;
    return ::chmod(path, (st->st_mode & 07777) | 0666 | search);
  };
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  const bool opened = ::nftw(root, open, 16, FTW_PHYS) == 0;
  g_free(root);
  return opened || Fail("opening the testbed to all users failed");
}

bool HidEmulator::AddKeyboard() {
  return AddDevice(DescribeHidDevice(kKeyboard), "keyboard");
}

int HidEmulator::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  auto* emulator = static_cast<HidEmulator*>(self);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == _IOC_NR(HIDIOCGINPUT(0))) {
    emulator->AnswerInputReport(client, _IOC_SIZE(request));
    return TRUE;
  }
  UMockdevIoctlData* data = nullptr;
  if (request == HIDIOCGRAWINFO) {
    data = umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_devinfo), nullptr);
    hidraw_devinfo info{BUS_USB, static_cast<__s16>(kPrinter.vendor),
                        static_cast<__s16>(kPrinter.product)};
    if (data != nullptr) std::memcpy(data->data, &info, sizeof info);
  } else if (request == HIDIOCGRDESCSIZE) {
    data = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), nullptr);
    const int size = sizeof kReportDescriptor;
    if (data != nullptr) std::memcpy(data->data, &size, sizeof size);
  } else if (request == HIDIOCGRDESC) {
    data = umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_report_descriptor), nullptr);
    if (data != nullptr) {
      auto* descriptor = reinterpret_cast<hidraw_report_descriptor*>(data->data);
      descriptor->size = sizeof kReportDescriptor;
      std::memcpy(descriptor->value, kReportDescriptor, sizeof kReportDescriptor);
    }
  } else {
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
  }
  umockdev_ioctl_client_complete(client, data != nullptr ? 0 : -1, data != nullptr ? 0 : EFAULT);
  if (data != nullptr) g_object_unref(data);
  return TRUE;
}

void HidEmulator::AnswerInputReport(UMockdevIoctlClient* client, unsigned long size) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, nullptr);
  if (data == nullptr) {
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  Report report{};
  bool fail = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++fetches_;
    fail = failInput_;
    if (!rawReports_.empty()) {
      report = rawReports_.front();
      rawReports_.pop_front();
    } else {
      const size_t n = std::min(input_.size(), static_cast<size_t>(chunk_));
      report[1] = static_cast<uint8_t>(n);
      PutLittleEndian32(&report[2], credit_);
      std::copy_n(input_.begin(), n, report.begin() + 6);
      input_.erase(input_.begin(), input_.begin() + static_cast<long>(n));
    }
  }
  report[0] = data->data[0];  // the report id the host asked for
  const size_t length = std::min(size, report.size());
  if (!fail) std::memcpy(data->data, report.data(), length);
  umockdev_ioctl_client_complete(client, fail ? -1 : static_cast<long>(length), fail ? EIO : 0);
  g_object_unref(data);
}

int HidEmulator::OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  auto* emulator = static_cast<HidEmulator*>(self);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  Report report{};
  std::memcpy(report.data(), arg->data, std::min<size_t>(arg->data_len, report.size()));
  {
    std::lock_guard<std::mutex> lock(emulator->mutex_);
    emulator->written_.push_back(report);
  }
  umockdev_ioctl_client_complete(client, arg->data_len, 0);
  return TRUE;
}

void HidEmulator::SetCredit(uint32_t credit) {
  std::lock_guard<std::mutex> lock(mutex_);
  credit_ = credit;
}

void HidEmulator::QueueInput(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  input_.insert(input_.end(), bytes.begin(), bytes.end());
}

void HidEmulator::SetInputChunk(int chunk) {
  std::lock_guard<std::mutex> lock(mutex_);
  chunk_ = std::clamp(chunk, 0, 59);
}

void HidEmulator::QueueRawReport(const Report& report) {
  std::lock_guard<std::mutex> lock(mutex_);
  rawReports_.push_back(report);
}

void HidEmulator::FailInputReports(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  failInput_ = fail;
}

std::vector<Report> HidEmulator::Reports() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

std::vector<int> HidEmulator::PayloadLengths() const {
  std::vector<int> lengths;
  for (const Report& report : Reports())
    lengths.push_back(report[1]);
  return lengths;
}

std::vector<uint8_t> HidEmulator::Payload() const {
  std::vector<uint8_t> bytes;
  for (const Report& report : Reports()) {
    bytes.insert(bytes.end(), report.begin() + 2,
                 report.begin() + 2 + std::min(report[1], uint8_t{63}));
  }
  return bytes;
}

int HidEmulator::InputFetches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fetches_;
}

size_t HidEmulator::QueuedInput() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return input_.size();
}

void HidEmulator::ClearRecord() {
  std::lock_guard<std::mutex> lock(mutex_);
  written_.clear();
  fetches_ = 0;
}

}  // namespace hidtest
