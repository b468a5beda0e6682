// USB printer transport: printer discovery through udev, the port and its reader thread.
//
// The table of attached printers and its discovery, and the printer port with its reader
// thread and receive ring.
//
// Ownership: this unit defines no process-wide objects. The application's start-up
// builds the printer table and the port explicitly, in its own order, and hands them to
// whoever needs them (the command channel). The port needs the front end's event loop
// for its device-change watcher, which must outlive the port.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/device_file.h"
#include "platform/fd_watch.h"
#include "usb/Unit_UsbEnumForm.h"
#include "usb/ring_buffer.h"

namespace usb {

// ---------------------------------------------------------------------------------------
// Printer table and discovery

inline constexpr int kPrinterSlots = 32;
// The vendor whose printers the system updates, as discovery compares it.
inline constexpr const char* kPrinterVendorId = "0471";

struct _struct_printer_comm_ {
  int32_t count = 0;                         // filled slots, 0 to 32
  std::string id[kPrinterSlots];             // vendor and product id, "0471" "0055"
  uint32_t port_number[kPrinterSlots] = {};  // lp minor + 1: lp0 is port 1
  std::string device_path[kPrinterSlots];    // the lp device's sysfs path
  std::string open_path[kPrinterSlots];      // its node, what the port opens
  // What tells several printers apart. The port path is the kernel's name of the USB
  // device ("1-1.4": bus 1, hub port 1, its port 4); it stays the same while the printer
  // restarts on the same socket, whereas its lpN may change.
  std::string port_path[kPrinterSlots];
  std::string serial[kPrinterSlots];     // the USB serial number, empty when it has none
  std::string node_name[kPrinterSlots];  // "lp0"
};

// Refills the table with the printer-class USB interfaces of the vendor that usblp has
// bound and that have a device node, ordered by port number. Resets count first; the
// texts of slots it does not fill again stay as they were. More than 32 printers: the
// ones with the highest port numbers are left out. Runs on the GUI thread.
void EnumUsbPrinters(_struct_printer_comm_& table);
// The same for the one USB device on portPath: the table holds its printer, or nothing
// when no such printer is there (another printer elsewhere is never listed). Looks at
// that device alone, so it stays cheap when it runs every tick.
void EnumUsbPrintersOnPort(_struct_printer_comm_& table, const std::string& portPath);
// True when text has the form of a USB port path: a bus number, "-", and hub port
// numbers joined by "." ("1-1.4", "3-2").
bool IsUsbPortPath(const std::string& text);

// ---------------------------------------------------------------------------------------
// Printer port

class TUsbPrinter;

// The port's reader: polls the read descriptor every 10 ms, reads at most 64 bytes at a
// time and stores them in its ring, never letting the ring hold more than 29,491 bytes.
// Created suspended; Resume() starts the thread.
class TUsbPrinterThread {
 public:
  static constexpr uint32_t kStorageSize = 32768;
  static constexpr uint32_t kFillLimit = kStorageSize * 9 / 10;  // 29,491 bytes
  static constexpr uint32_t kReadSize = 64;

  // readHandle stays owned by the port; the thread only reads and polls it. Its pauses
  // are taken on clock.
  TUsbPrinterThread(int readHandle, platform::Clock& clock);
  // Requests the stop (and gives the thread 100 ms) unless requested already, then waits
  // for the thread to end. A reader that was never resumed never runs.
  ~TUsbPrinterThread();
  TUsbPrinterThread(const TUsbPrinterThread&) = delete;
  TUsbPrinterThread& operator=(const TUsbPrinterThread&) = delete;

  // Starts the thread and returns once it runs, that is once it has set the port's
  // Opened: the port's wait for its reader then never depends on how fast the system
  // schedules a new thread.
  void Resume();
  void Terminate() { TerminateRequested = true; }

  // Takes up to length bytes from the ring under the port's Lock; never waits. Returns
  // the number taken, 0 when nothing is buffered.
  int TakeBuffered(void* buffer, int length);

  std::unique_ptr<uint8_t[]> Storage;
  ring_buffer Ring;
  int ReadHandle;
  TUsbPrinter* Printer = nullptr;  // set by TUsbPrinter::Open right after construction

 private:
  void Execute();
  uint32_t RequestSize();
  long ReadPass(uint8_t* buffer, uint32_t request, bool& readPending);
  void Store(const uint8_t* data, uint32_t count);

  platform::Clock& TimeSource;
  std::atomic<bool> TerminateRequested{false};
  std::atomic<bool> Started{false};
  std::thread Handle;
};

// Why the last TUsbPrinter::Open failed.
enum class OpenProblem {
  kNone,               // it worked (or none was tried)
  kCannotOpenNode,     // the node would not open (or not twice): see LastOpenError
  kReaderDidNotStart,  // the reader did not start within its 5 s
};

// The printer port: one open of the printer's node, a dup() of it for the reader
// thread. Every wait it makes is taken on its clock. All operations run on the GUI thread.
class TUsbPrinter {
 public:
  // A write that makes no progress for this long fails: the printer has stopped taking
  // data, and waiting on would freeze the program for good. It is the longest the
  // dialogue gives the printer for a reply (a block's "OK"): a printer that is erasing its
  // flash may refuse data that long, and the limit is there to end a dead printer, not a
  // slow one. The wait for the end of the data before a close has the same bound.
  static constexpr uint32_t kWriteStallLimitMs = 60000;
  // While a write waits, OnWriteWait runs at about this interval.
  static constexpr uint32_t kWriteWaitHookMs = 10;

  // A port whose watcher is not registered (it sees no device events). Its waits are
  // taken on clock, the program's one clock.
  explicit TUsbPrinter(platform::Clock& clock);
  // A port whose watcher watches the printer nodes through the given event loop, which
  // must outlive the port.
  TUsbPrinter(platform::FdWatch& events, platform::Clock& clock);
  // Closes the port (stopping the reader) and drops the watcher.
  ~TUsbPrinter();
  TUsbPrinter(const TUsbPrinter&) = delete;
  TUsbPrinter& operator=(const TUsbPrinter&) = delete;

  // Opens the node at path and starts the reader; true when the reader runs afterwards.
  // An open port stays on its device: true at once, whatever path says. A successful
  // open takes at least 300 ms (the printer is given 200 ms to settle, the reader one
  // 100 ms look); a node that cannot be opened fails at once, with the cause in
  // LastOpenProblem and LastOpenError.
  bool Open(const std::string& path);
  // Waits until the printer has taken the end of what was written (see Drain), then
  // stops the reader (400 ms when one exists) and closes both descriptors; the bytes
  // still buffered are lost. Always true; LastCloseLostData tells whether the printer
  // took everything.
  bool Close();
  // Writes length bytes: their number once all are handed to the driver (fewer when the
  // device failed after taking some), 0 after an ordinary failure with nothing taken, -1
  // when the port is not open, the device has gone, or the printer took nothing for 60 s.
  // The driver may still be sending the last chunk when Write returns.
  int Write(const void* data, int length);
  // Takes up to length buffered bytes without waiting: their number, 0 when none are
  // buffered, -1 when the port is not open.
  int Read(void* buffer, int length);
  // Closes whichever descriptor is still open.
  void CloseHandles();

  // The reader is alive: it sets this itself when it starts and clears it when it ends.
  bool Opened() const { return opened_; }
  // The reader may keep running: set by Open, cleared by Close.
  bool Running() const { return running_; }
  // Running totals of the bytes handed to the driver and stored by the reader; never
  // reset.
  uint32_t BytesWritten() const { return bytesWritten_; }
  uint32_t BytesReceived() const { return bytesReceived_; }
  // The port's device-change watcher.
  TUsbEnumForm& EnumForm() { return *enumForm_; }
  // The descriptors of the open node: the writer's, and the reader's dup() of it.
  const platform::DeviceFile& WriteHandle() const { return writeHandle_; }
  const platform::DeviceFile& ReadHandle() const { return readHandle_; }
  // The reader of the open port; nullptr while the port is closed.
  const TUsbPrinterThread* Thread() const { return thread_.get(); }
  // Why the last Open failed; errno of the node's failed open (0 unless kCannotOpenNode).
  OpenProblem LastOpenProblem() const { return lastOpenProblem_; }
  int LastOpenError() const { return lastOpenError_; }
  // Runs on the GUI thread, from inside Write, every 10 ms or so while the printer takes
  // no data, so that the window can repaint. It must not use the port. Empty: none.
  void SetOnWriteWait(std::function<void()> hook) { onWriteWait_ = std::move(hook); }

  // How the wait for the end of the written data went.
  enum class DrainResult {
    kNothingPending,  // nothing was written since the last wait, or the node is closed
    kTaken,           // the printer took every byte
    kGone,            // the device went away first: whether it took the end is unknown
    kStalled,         // it took nothing more for 60 s after the last progress: the end is lost
  };
  // Waits until the driver reports the last write complete, taking the clock's steps
  // (OnWriteWait runs meanwhile), for at most kWriteStallLimitMs after the last progress
  // of a write: right after a write that stalled it gives up at once. Close runs it
  // before anything is closed.
  DrainResult Drain();
  // True when the last Close gave up waiting: the printer did not take the end of the data.
  bool LastCloseLostData() const { return lastCloseLostData_; }

 private:
  // The reader takes the ring's lock, counts what it stores and says when it runs.
  friend class TUsbPrinterThread;

  bool FailOpen(OpenProblem problem, int error);
  bool WaitOnPrinter(uint64_t& nextHookMs);

  std::unique_ptr<TUsbEnumForm> enumForm_;
  std::recursive_mutex lock_;        // guards the reader's ring and its final close
  std::atomic<bool> opened_{false};  // written by the reader
  std::unique_ptr<TUsbPrinterThread> thread_;
  std::atomic<uint32_t> bytesWritten_{0};
  std::atomic<uint32_t> bytesReceived_{0};
  platform::DeviceFile writeHandle_;
  platform::DeviceFile readHandle_;
  std::atomic<bool> running_{false};  // written by Open and Close
  std::function<void()> onWriteWait_;
  OpenProblem lastOpenProblem_ = OpenProblem::kNone;
  int lastOpenError_ = 0;
  platform::Clock& TimeSource;
  bool writePending_ = false;    // bytes went to the driver since the last completed drain
  uint64_t lastProgressMs_ = 0;  // when a write last handed bytes on (or began)
  bool lastCloseLostData_ = false;
};

}  // namespace usb
