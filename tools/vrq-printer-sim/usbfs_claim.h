// A program that holds a printer's USB device node (/dev/bus/usb/BBB/DDD) open, as one
// that has claimed the printer's interface through libusb (ipp-usb, a spooler's backend)
// does. It is a process of its own under the program's name, as the host's diagnosis
// finds it in /proc, and it holds the node until it is ended.
#pragma once

#include <sys/types.h>

#include <string>

namespace sim {

class UsbfsClaim {
 public:
  UsbfsClaim() = default;
  // Ends the program and waits for it.
  ~UsbfsClaim();
  UsbfsClaim(const UsbfsClaim&) = delete;
  UsbfsClaim& operator=(const UsbfsClaim&) = delete;

  // Starts a process named program (its argv[0] and its name in /proc) that holds node
  // (a path in the device tree) open. The link that gives it its name goes into folder.
  bool Start(const std::string& program, const std::string& node, const std::string& folder,
             std::string& error);
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace sim
