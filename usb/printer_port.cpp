// TUsbPrinter and its reader TUsbPrinterThread.
//
// The kernel's usblp allows one open of a printer node, so the port opens it once and
// gives the reader a dup() of that descriptor. The reader polls for data in 10 ms waits
// and reads at most 64 bytes at a time; the GUI thread takes bytes from the ring without
// ever waiting for the device.

#include <algorithm>
#include <chrono>
#include <thread>

#include "usb/_printer_comm.h"

namespace {

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

constexpr int kPollMs = 10;
constexpr int kPauseBeforeReadMs = 1;
constexpr int kOpenSettleMs = 200;
constexpr int kOpenWaitStepMs = 100;
constexpr int kOpenWaitSteps = 50;
constexpr int kCloseStopMs = 200;
constexpr int kCloseAfterReaderMs = 100;
constexpr int kReaderStopGraceMs = 100;

}  // namespace

// ---------------------------------------------------------------------------------------
// TUsbPrinterThread

TUsbPrinterThread::TUsbPrinterThread(int readHandle)
    : Storage(std::make_unique<uint8_t[]>(kStorageSize)), ReadHandle(readHandle) {
  ring_init(&Ring, Storage.get(), kStorageSize);
}

TUsbPrinterThread::~TUsbPrinterThread() {
  if (!terminated_) {
    Terminate();
    SleepMs(kReaderStopGraceMs);
  }
  if (thread_.joinable()) thread_.join();
}

void TUsbPrinterThread::Resume() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

int TUsbPrinterThread::TakeBuffered(void* buffer, int length) {
  if (length <= 0) return 0;
  std::lock_guard<std::recursive_mutex> hold(Printer->Lock);
  uint32_t n = ring_count(&Ring);
  if (n > 0) {
    n = std::min<uint32_t>(n, static_cast<uint32_t>(length));
    ring_read(&Ring, static_cast<uint8_t*>(buffer), n);
  }
  return static_cast<int>(n);
}

void TUsbPrinterThread::Execute() {
  TUsbPrinter& port = *Printer;
  port.Opened = true;
  uint8_t buffer[kReadSize];
  bool readPending = false;  // a read has been asked for and has not delivered yet
  while (!terminated_ && port.Running) {
    uint32_t request = RequestSize();
    if (request == 0) {
      SleepMs(kPollMs);  // the ring is at its limit: wait until bytes are taken
      continue;
    }
    if (!readPending) {
      readPending = true;
      SleepMs(kPauseBeforeReadMs);
    }
    long count = ReadPass(buffer, request, readPending);
    if (count > 0) Store(buffer, static_cast<uint32_t>(count));
  }
  port.Opened = false;
  std::lock_guard<std::recursive_mutex> hold(port.Lock);
  port.CloseHandles();
}

uint32_t TUsbPrinterThread::RequestSize() {
  std::lock_guard<std::recursive_mutex> hold(Printer->Lock);
  uint32_t room = kFillLimit - std::min(kFillLimit, ring_count(&Ring));
  return std::min(room, kReadSize);
}

// One wait of at most 10 ms, and a read when data waits. Returns the bytes read, 0 when
// this pass yields nothing. A hung-up or failing descriptor yields nothing too, but after
// a 10 ms pause, so that a gone device does not make the reader spin.
long TUsbPrinterThread::ReadPass(uint8_t* buffer, uint32_t request, bool& readPending) {
  switch (platform::WaitReadable(ReadHandle, kPollMs)) {
    case platform::WaitResult::kTimeout:
      return 0;  // still waiting: the read stays pending
    case platform::WaitResult::kReadable: {
      readPending = false;
      platform::IoResult result = platform::ReadSome(ReadHandle, buffer, request);
      if (result.count > 0) return result.count;
      SleepMs(kPollMs);
      return 0;
    }
    case platform::WaitResult::kHangup:
    case platform::WaitResult::kFailed:
      break;
  }
  readPending = false;
  SleepMs(kPollMs);
  return 0;
}

void TUsbPrinterThread::Store(const uint8_t* data, uint32_t count) {
  {
    std::lock_guard<std::recursive_mutex> hold(Printer->Lock);
    uint32_t room = kFillLimit - std::min(kFillLimit, ring_count(&Ring));
    if (!ring_is_full(&Ring) && count <= room) {
      ring_write(&Ring, data, count);
      Printer->BytesReceived += count;
      return;
    }
  }
  // Cannot happen while each request is bounded by the room, since only this thread
  // adds to the ring; the bytes are dropped.
  SleepMs(kPollMs);
}

// ---------------------------------------------------------------------------------------
// TUsbPrinter

TUsbPrinter::TUsbPrinter() : EnumForm(std::make_unique<TUsbEnumForm>()) {
  EnumForm->Subsystem = kPrinterNodeSubsystem;
}

TUsbPrinter::TUsbPrinter(platform::FdWatch& events)
    : EnumForm(std::make_unique<TUsbEnumForm>(&events)) {
  EnumForm->Subsystem = kPrinterNodeSubsystem;
  EnumForm->RegisterNotification();
}

TUsbPrinter::~TUsbPrinter() {
  Close();
  Opened = false;
  EnumForm.reset();
}

bool TUsbPrinter::Open(const std::string& path) {
  if (Opened) return true;
  Close();
  SleepMs(kOpenSettleMs);
  Opened = false;

  WriteHandle = platform::DeviceFile::Open(path);
  ReadHandle = WriteHandle.Duplicate();
  Thread = std::make_unique<TUsbPrinterThread>(ReadHandle.Fd());
  Thread->Printer = this;

  if (WriteHandle.IsOpen() && ReadHandle.IsOpen()) {
    Running = true;
    Thread->Resume();
    for (int i = 0; i < kOpenWaitSteps; ++i) {
      SleepMs(kOpenWaitStepMs);
      if (Opened) break;
    }
  }
  bool opened = Opened;
  if (!opened) Close();
  return opened;
}

bool TUsbPrinter::Close() {
  if (Thread) {
    Running = false;
    SleepMs(kCloseStopMs);
    Thread.reset();
    SleepMs(kCloseAfterReaderMs);
  }
  Running = false;
  CloseHandles();
  Opened = false;
  return true;
}

int TUsbPrinter::Write(const void* data, int length) {
  if (!Opened) return -1;
  if (length < 0) return 0;
  platform::IoResult result = platform::WriteSome(WriteHandle.Fd(), data, length);
  if (result.count >= 0) {
    BytesWritten += static_cast<uint32_t>(result.count);
    return static_cast<int>(result.count);
  }
  return platform::IsDeviceGoneError(result.error) ? -1 : 0;
}

int TUsbPrinter::Read(void* buffer, int length) {
  if (!Opened || !Thread) return -1;
  return Thread->TakeBuffered(buffer, length);
}

void TUsbPrinter::CloseHandles() {
  std::lock_guard<std::recursive_mutex> hold(Lock);
  WriteHandle.Close();
  ReadHandle.Close();
}
