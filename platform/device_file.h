// A character device node opened for reading and writing (the printer's /dev/usb/lpN),
// and the single-call I/O the printer port does on it. The node is non-blocking: a write
// takes what the device can take now, a read what has arrived, and waits are explicit
// (poll() for data or for the end of a write, the caller's own clock for how long).
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "platform/descriptor.h"

namespace platform {

// Result of one read() or write() call: count >= 0, or -1 with the errno in error.
struct IoResult {
  long count = -1;
  int error = 0;
};

enum class WaitResult {
  kReadable,  // data waits
  kWritten,   // the device has taken everything written to it (POLLOUT)
  kTimeout,   // nothing arrived in time
  kHangup,    // the device is gone or broken (POLLERR/POLLHUP/POLLNVAL without data)
  kFailed,    // poll() itself failed
};

// One open descriptor of a device node (move-only), with the errno of its open.
class DeviceFile {
 public:
  DeviceFile() = default;

  // Opens path for reading and writing, non-blocking, close-on-exec, never as a
  // controlling terminal. IsOpen() tells whether it worked and LastError() why not.
  static DeviceFile Open(const std::string& path);
  // A second descriptor on the same open file (close-on-exec); not open on failure.
  DeviceFile Duplicate() const;

  bool IsOpen() const { return fd_.IsOpen(); }
  int Fd() const { return fd_.Get(); }
  int LastError() const { return error_; }
  // Closes now; safe to call more than once.
  void Close() { fd_.Reset(); }

 private:
  DeviceFile(Descriptor fd, int error) : fd_(std::move(fd)), error_(error) {}
  Descriptor fd_;
  int error_ = 0;
};

// Waits up to timeoutMs for data on fd. A signal ends the wait as a time-out.
WaitResult WaitReadable(int fd, int timeoutMs);
// Waits up to timeoutMs until the device has taken every byte written to fd. usblp reports
// POLLOUT only once its last write has completed on the bus; a non-blocking write returns
// as soon as its chunk is queued. A signal ends the wait as a time-out.
WaitResult WaitWritten(int fd, int timeoutMs);
// One read() of at most size bytes (an interrupted one is retried).
IoResult ReadSome(int fd, void* data, size_t size);
// One write() of up to size bytes: it may write fewer, or fail with EAGAIN when the
// device takes nothing now (an interrupted one is retried).
IoResult WriteSome(int fd, const void* data, size_t size);
// True for the errors of a write that mean the device has gone away: the descriptor
// is useless from now on (ENODEV, ENXIO, EIO, EBADF, ESHUTDOWN, EPIPE).
bool IsDeviceGoneError(int error);

}  // namespace platform
