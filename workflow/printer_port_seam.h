// The printer as the command channel needs it: discovery of the attached printers and
// one port that opens the first of them. The production adapter sits on the USB
// transport; tests plug in a scripted printer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "workflow/printer_vocabulary.h"

namespace app {

// How long a write (and the wait for its end before a close) goes on while the printer
// takes nothing: the longest the dialogue waits for a reply (a block's "OK").
inline constexpr uint32_t kWriteStallLimitMs = wait::kBlockReplyMs;

struct PrinterInfo {
  uint32_t portNumber = 0;
  std::string id;        // vendor and product id, eight upper-case hex digits
  std::string openPath;  // what Open() takes: the node, "/dev/usb/lp0"
  // The printer's identity: the USB port path ("1-1.4") names the socket it is plugged
  // into and stays the same while it restarts, whereas its node may change then.
  std::string portPath;
  std::string serial;    // USB serial number, empty when the printer has none
  std::string nodeName;  // the node's own name, "lp0"
};

// True when name is one a user may give this printer by: its USB port path, its node
// ("/dev/usb/lp0" or "lp0") or its serial number (never an empty one).
inline bool NamesPrinter(const PrinterInfo& printer, const std::string& name) {
  if (name.empty()) return false;
  return name == printer.portPath || name == printer.openPath || name == printer.nodeName ||
         (!printer.serial.empty() && name == printer.serial);
}

// Why the printer could not be had at the last attempt to open it.
struct OpenFailure {
  enum class Reason {
    kNone,               // the last attempt worked, or none was made
    kNoPrinter,          // no printer of the vendor on USB (on the port asked for)
    kNotHeldByUsblp,     // one is on USB, but usblp does not hold it: it has no node
    kPermissionDenied,   // its node is not this user's to open (EACCES, EPERM)
    kBusy,               // another program has its node open (EBUSY)
    kCannotOpen,         // its node would not open for another reason: error says why
    kReaderDidNotStart,  // the node opened, but the port's reader did not start
  };
  Reason reason = Reason::kNone;
  int error = 0;         // errno of the failed open, else 0
  std::string path;      // the node tried, empty when none was
  std::string portPath;  // the only USB port looked at (DiscoverOnPort), else empty
  // For the detail line below the system's message: the cause and what to do about it,
  // in one line or two (joined by "\n"); empty when the port cannot tell.
  std::string detail;
};

class PrinterPort {
 public:
  virtual ~PrinterPort() = default;
  // Runs discovery afresh; the printers found, in the order the port would use them.
  virtual std::vector<PrinterInfo> Discover() = 0;
  // Runs discovery for the one USB port path only: its printer, or none. Another printer
  // is never listed, whatever node either has. Cheap enough for every tick of a wait;
  // when it finds nothing, LastOpenFailure says why in terms of that port.
  virtual std::vector<PrinterInfo> DiscoverOnPort(const std::string& portPath) {
    std::vector<PrinterInfo> printers = Discover();
    std::erase_if(printers, [&](const PrinterInfo& p) { return p.portPath != portPath; });
    return printers;
  }
  // True when the port's reader runs afterwards. An open port stays on its device.
  virtual bool Open(const std::string& openPath) = 0;
  virtual bool Close() = 0;
  // Bytes written, 0 for a failed write that may be retried, -1 when the port is not
  // open or the device is gone.
  virtual int32_t Write(const void* data, int32_t length) = 0;
  // Bytes taken from the receive buffer (0 when none wait), -1 when not open.
  virtual int32_t Read(void* buffer, int32_t length) = 0;
  // The port's reader is alive and asked to run (its Opened and Running flags).
  virtual bool IsOpen() const = 0;

  // Why the last Discover-and-Open found no usable printer; Reason::kNone after an
  // attempt that worked. For details beside the messages, never instead of them. It
  // looks at the system to tell why (udev, the processes holding the node: some
  // milliseconds), so call it when a failure is to be reported, not on every retry.
  virtual OpenFailure LastOpenFailure() const { return {}; }
  // A write waits while the printer takes no data (for up to kWriteStallLimitMs before it
  // fails), and so does Close until the printer has taken the end of the data. The hook
  // runs on the calling thread, from inside Write or Close, about every 10 ms of that
  // wait: the window sets it to repaint itself. It must not use the port or the channel.
  // An empty hook clears it.
  virtual void SetWriteWaitHook(std::function<void()> hook) { (void)hook; }
  // True when the last Close gave up waiting for the printer to take the end of what was
  // written: the driver dropped it, so the printer never got it.
  virtual bool LastCloseLostData() const { return false; }
};

}  // namespace app
