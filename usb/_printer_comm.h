// The USB printer transport: the table of attached printers and its discovery, and the
// printer port with its reader thread and receive ring.
//
// Ownership: this unit defines no process-wide objects. The application's start-up
// builds the printer table and the port explicitly, in its own order, and hands them to
// whoever needs them (the command channel). The port needs the front end's event loop
// for its device-change watcher, which must outlive the port.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/device_file.h"
#include "platform/fd_watch.h"
#include "usb/Unit_UsbEnumForm.h"
#include "usb/ring_buffer.h"

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
};

// Refills the table with the printer-class USB interfaces of the vendor that usblp has
// bound and that have a device node, ordered by port number. Resets count first; the
// texts of slots it does not fill again stay as they were. More than 32 printers: the
// ones with the highest port numbers are left out. Runs on the GUI thread.
void EnumUsbPrinters(_struct_printer_comm_& table);

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

  // readHandle stays owned by the port; the thread only reads and polls it.
  explicit TUsbPrinterThread(int readHandle);
  // Requests the stop (and gives the thread 100 ms) unless requested already, then waits
  // for the thread to end. A reader that was never resumed never runs.
  ~TUsbPrinterThread();
  TUsbPrinterThread(const TUsbPrinterThread&) = delete;
  TUsbPrinterThread& operator=(const TUsbPrinterThread&) = delete;

  void Resume();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }

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

  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

// The printer port: one open of the printer's node for writing, a dup() of it for the
// reader thread. All operations run on the GUI thread.
class TUsbPrinter {
 public:
  // A port whose watcher is not registered (it sees no device events).
  TUsbPrinter();
  // A port whose watcher watches the printer nodes through the given event loop, which
  // must outlive the port.
  explicit TUsbPrinter(platform::FdWatch& events);
  // Closes the port (stopping the reader) and drops the watcher.
  ~TUsbPrinter();
  TUsbPrinter(const TUsbPrinter&) = delete;
  TUsbPrinter& operator=(const TUsbPrinter&) = delete;

  // Opens the node at path and starts the reader; true when the reader runs afterwards.
  // An open port stays on its device: true at once, whatever path says. Takes at least
  // 300 ms (the previous connection is closed first and the reader is given time).
  bool Open(const std::string& path);
  // Stops the reader (about 400 ms when one exists) and closes both descriptors; the
  // bytes still buffered are lost. Always true.
  bool Close();
  // One blocking write of length bytes: the number written (possibly fewer), 0 after
  // an ordinary failure, -1 when the port is not open or the device has gone.
  int Write(const void* data, int length);
  // Takes up to length buffered bytes without waiting: their number, 0 when none are
  // buffered, -1 when the port is not open.
  int Read(void* buffer, int length);
  // Closes whichever descriptor is still open.
  void CloseHandles();

  std::unique_ptr<TUsbEnumForm> EnumForm;
  std::recursive_mutex Lock;        // guards the reader's ring and its final close
  std::atomic<bool> Opened{false};  // the reader is alive; written by the reader
  std::unique_ptr<TUsbPrinterThread> Thread;
  std::atomic<uint32_t> BytesWritten{0};  // running totals, never reset
  std::atomic<uint32_t> BytesReceived{0};
  platform::DeviceFile WriteHandle;
  platform::DeviceFile ReadHandle;
  std::atomic<bool> Running{false};  // the reader may keep running; written by Open/Close
};
