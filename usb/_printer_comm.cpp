// USB printer transport: printer discovery through udev, the port and its reader thread.
#include "usb/_printer_comm.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>
#include <vector>

#include "platform/udev.h"

// EnumUsbPrinters: the printer-class USB interfaces of the vendor, found through udev.
// usblp makes one "lpN" device in the usbmisc class per printer interface it binds; its
// node is /dev/usb/lpN and its minor number is N.
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

// TUsbPrinter and its reader TUsbPrinterThread.
//
// The kernel's usblp allows one open of a printer node, so the port opens it once and
// gives the reader a dup() of that descriptor. The reader polls for data in 10 ms waits
// and reads at most 64 bytes at a time; the GUI thread takes bytes from the ring without
// ever waiting for the device.
//
// The node is non-blocking. A blocking write() has no time limit at all: a printer that
// stops taking data in the middle of a block would hold the GUI thread in the kernel for
// good. Write therefore offers the bytes, and when the printer takes none it waits on the
// clock in short steps, giving up after 60 s without progress.
//
// usblp completes a non-blocking write as soon as its chunk (up to 8 KiB) is queued for
// the bus, and the release of the node kills whatever is still queued. So Close first
// waits for the driver to report the last write done (POLLOUT): otherwise the end of the
// firmware image, or the last command before a close, could be lost on the way.
namespace usb {

namespace {

constexpr uint32_t kPollMs = 10;
constexpr uint32_t kPauseBeforeReadMs = 1;
constexpr uint32_t kOpenSettleMs = 200;
constexpr uint32_t kOpenWaitStepMs = 100;
constexpr int kOpenWaitSteps = 50;
constexpr uint32_t kCloseStopMs = 200;
constexpr uint32_t kCloseAfterReaderMs = 100;
constexpr uint32_t kReaderStopGraceMs = 100;
// How long a waiting write sleeps before it offers the bytes again. usblp takes a write
// in pieces of 8 KiB and refuses the next until the last has gone out, so a short step
// keeps the image moving at the printer's pace.
constexpr uint32_t kWriteRetryMs = 1;

}  // namespace

// ---------------------------------------------------------------------------------------
// TUsbPrinterThread

TUsbPrinterThread::TUsbPrinterThread(int readHandle, platform::Clock& clock)
    : Storage(std::make_unique<uint8_t[]>(kStorageSize)),
      ReadHandle(readHandle),
      TimeSource(clock) {
  ring_init(&Ring, Storage.get(), kStorageSize);
}

TUsbPrinterThread::~TUsbPrinterThread() {
  if (!TerminateRequested) {
    Terminate();
    TimeSource.SleepMs(kReaderStopGraceMs);
  }
  if (Handle.joinable()) Handle.join();
}

void TUsbPrinterThread::Resume() {
  if (Handle.joinable()) return;
  Handle = std::thread([this] { Execute(); });
  Started.wait(false);
}

int TUsbPrinterThread::TakeBuffered(void* buffer, int length) {
  if (length <= 0) return 0;
  std::lock_guard<std::recursive_mutex> hold(Printer->lock_);
  uint32_t n = ring_count(&Ring);
  if (n > 0) {
    n = std::min<uint32_t>(n, static_cast<uint32_t>(length));
    ring_read(&Ring, static_cast<uint8_t*>(buffer), n);
  }
  return static_cast<int>(n);
}

void TUsbPrinterThread::Execute() {
  TUsbPrinter& port = *Printer;
  port.opened_ = true;
  Started = true;
  Started.notify_all();
  uint8_t buffer[kReadSize];
  bool readPending = false;  // a read has been asked for and has not delivered yet
  while (!TerminateRequested && port.running_) {
    uint32_t request = RequestSize();
    if (request == 0) {
      TimeSource.SleepMs(kPollMs);  // the ring is at its limit: wait until bytes are taken
      continue;
    }
    if (!readPending) {
      readPending = true;
      TimeSource.SleepMs(kPauseBeforeReadMs);
    }
    long count = ReadPass(buffer, request, readPending);
    if (count > 0) Store(buffer, static_cast<uint32_t>(count));
  }
  port.opened_ = false;
  std::lock_guard<std::recursive_mutex> hold(port.lock_);
  port.CloseHandles();
}

uint32_t TUsbPrinterThread::RequestSize() {
  std::lock_guard<std::recursive_mutex> hold(Printer->lock_);
  uint32_t room = kFillLimit - std::min(kFillLimit, ring_count(&Ring));
  return std::min(room, kReadSize);
}

// One wait of at most 10 ms, and a read when data waits. Returns the bytes read, 0 when
// this pass yields nothing. A hung-up or failing descriptor yields nothing too, but after
// a 10 ms pause, so that a gone device does not make the reader spin.
long TUsbPrinterThread::ReadPass(uint8_t* buffer, uint32_t request, bool& readPending) {
  switch (platform::WaitReadable(ReadHandle, kPollMs)) {
    case platform::WaitResult::kReadable: {
      readPending = false;
      platform::IoResult result = platform::ReadSome(ReadHandle, buffer, request);
      if (result.count > 0) return result.count;
      TimeSource.SleepMs(kPollMs);
      return 0;
    }
    case platform::WaitResult::kTimeout:
      return 0;  // still waiting: the read stays pending
    case platform::WaitResult::kHangup:
    case platform::WaitResult::kFailed:
    case platform::WaitResult::kWritten:
      break;
  }
  readPending = false;
  TimeSource.SleepMs(kPollMs);
  return 0;
}

void TUsbPrinterThread::Store(const uint8_t* data, uint32_t count) {
  {
    std::lock_guard<std::recursive_mutex> hold(Printer->lock_);
    uint32_t room = kFillLimit - std::min(kFillLimit, ring_count(&Ring));
    if (!ring_is_full(&Ring) && count <= room) {
      ring_write(&Ring, data, count);
      Printer->bytesReceived_ += count;
      return;
    }
  }
  // Cannot happen while each request is bounded by the room, since only this thread
  // adds to the ring; the bytes are dropped.
  TimeSource.SleepMs(kPollMs);
}

// ---------------------------------------------------------------------------------------
// TUsbPrinter

TUsbPrinter::TUsbPrinter(platform::Clock& clock)
    : enumForm_(std::make_unique<TUsbEnumForm>()), TimeSource(clock) {
  enumForm_->Subsystem = kPrinterNodeSubsystem;
}

TUsbPrinter::TUsbPrinter(platform::FdWatch& events, platform::Clock& clock)
    : enumForm_(std::make_unique<TUsbEnumForm>(&events)), TimeSource(clock) {
  enumForm_->Subsystem = kPrinterNodeSubsystem;
  enumForm_->RegisterNotification();
}

TUsbPrinter::~TUsbPrinter() {
  Close();
  opened_ = false;
  enumForm_.reset();
}

bool TUsbPrinter::Open(const std::string& path) {
  if (opened_) return true;
  Close();
  // The settle time is for a printer that is there: a node that does not open (gone,
  // not ours, held by another program) is reported at once, so that a wait that retries
  // every tick still keeps to its time limit.
  platform::DeviceFile node = platform::DeviceFile::Open(path);
  if (!node.IsOpen()) return FailOpen(OpenProblem::kCannotOpenNode, node.LastError());
  TimeSource.SleepMs(kOpenSettleMs);
  opened_ = false;

  readHandle_ = node.Duplicate();
  if (!readHandle_.IsOpen()) return FailOpen(OpenProblem::kCannotOpenNode, readHandle_.LastError());
  writeHandle_ = std::move(node);
  writePending_ = false;
  lastProgressMs_ = TimeSource.NowMs();
  thread_ = std::make_unique<TUsbPrinterThread>(readHandle_.Fd(), TimeSource);
  thread_->Printer = this;
  running_ = true;
  thread_->Resume();
  for (int i = 0; i < kOpenWaitSteps; ++i) {
    TimeSource.SleepMs(kOpenWaitStepMs);
    if (opened_) break;
  }
  if (!opened_) return FailOpen(OpenProblem::kReaderDidNotStart, 0);
  lastOpenProblem_ = OpenProblem::kNone;
  lastOpenError_ = 0;
  return true;
}

bool TUsbPrinter::FailOpen(OpenProblem problem, int error) {
  Close();
  lastOpenProblem_ = problem;
  lastOpenError_ = error;
  return false;
}

bool TUsbPrinter::Close() {
  lastCloseLostData_ = Drain() == DrainResult::kStalled;
  writePending_ = false;
  if (thread_) {
    running_ = false;
    TimeSource.SleepMs(kCloseStopMs);
    thread_.reset();
    TimeSource.SleepMs(kCloseAfterReaderMs);
  }
  running_ = false;
  CloseHandles();
  opened_ = false;
  return true;
}

int TUsbPrinter::Write(const void* data, int length) {
  if (!opened_) return -1;
  if (length <= 0) return 0;
  const auto* bytes = static_cast<const uint8_t*>(data);
  int done = 0;
  lastProgressMs_ = TimeSource.NowMs();
  uint64_t nextHookMs = lastProgressMs_;
  while (done < length) {
    platform::IoResult result =
        platform::WriteSome(writeHandle_.Fd(), bytes + done, static_cast<size_t>(length - done));
    if (result.count > 0) {
      done += static_cast<int>(result.count);
      bytesWritten_ += static_cast<uint32_t>(result.count);
      writePending_ = true;
      lastProgressMs_ = TimeSource.NowMs();
      continue;
    }
    bool full = result.count == 0 || result.error == EAGAIN || result.error == EWOULDBLOCK;
    if (!full) {
      // What the printer took stays taken, as a blocking write would have reported it.
      if (done > 0) return done;
      return platform::IsDeviceGoneError(result.error) ? -1 : 0;
    }
    if (!WaitOnPrinter(nextHookMs)) return -1;
  }
  return done;
}

TUsbPrinter::DrainResult TUsbPrinter::Drain() {
  if (!writePending_ || !writeHandle_.IsOpen()) return DrainResult::kNothingPending;
  uint64_t nextHookMs = TimeSource.NowMs();
  for (;;) {
    switch (platform::WaitWritten(writeHandle_.Fd(), 0)) {
      case platform::WaitResult::kWritten:
        writePending_ = false;
        return DrainResult::kTaken;
      case platform::WaitResult::kHangup:
      case platform::WaitResult::kFailed:
        writePending_ = false;
        return DrainResult::kGone;
      case platform::WaitResult::kTimeout:
      case platform::WaitResult::kReadable:
        break;
    }
    if (!WaitOnPrinter(nextHookMs)) return DrainResult::kStalled;
  }
}

// One step of waiting for the printer to take more: false once it has taken nothing for
// the stall limit since the last progress.
bool TUsbPrinter::WaitOnPrinter(uint64_t& nextHookMs) {
  uint64_t now = TimeSource.NowMs();
  if (now - lastProgressMs_ >= kWriteStallLimitMs) return false;
  if (onWriteWait_ && now >= nextHookMs) {
    onWriteWait_();
    nextHookMs = now + kWriteWaitHookMs;
  }
  TimeSource.SleepMs(kWriteRetryMs);
  return true;
}

int TUsbPrinter::Read(void* buffer, int length) {
  if (!opened_ || !thread_) return -1;
  return thread_->TakeBuffered(buffer, length);
}

void TUsbPrinter::CloseHandles() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  writeHandle_.Close();
  readHandle_.Close();
}

}  // namespace usb
