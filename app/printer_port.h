// The printer as the command channel needs it: discovery of the attached printers and
// one port that opens the first of them. The production adapter sits on the USB
// transport; tests plug in a scripted printer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app {

struct PrinterInfo {
  uint32_t portNumber = 0;
  std::string id;        // vendor and product id, eight upper-case hex digits
  std::string openPath;  // what Open() takes
};

class PrinterPort {
 public:
  virtual ~PrinterPort() = default;
  // Runs discovery afresh; the printers found, in the order the port would use them.
  virtual std::vector<PrinterInfo> Discover() = 0;
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
};

}  // namespace app
