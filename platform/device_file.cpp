#include "platform/device_file.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

DeviceFile DeviceFile::Open(const std::string& path) {
  Descriptor fd(RetryOnInterrupt(
      [&] { return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); }));
  int error = fd.IsOpen() ? 0 : errno;
  return DeviceFile(std::move(fd), error);
}

DeviceFile DeviceFile::Duplicate() const {
  Descriptor fd = fd_.Duplicate();
  int error = fd.IsOpen() ? 0 : errno;
  return DeviceFile(std::move(fd), error);
}

namespace {

// One poll() of fd for event: its revents, 0 on a time-out, -1 when poll() failed. A
// signal ends the wait as a time-out.
int PollOnce(int fd, short event, int timeoutMs) {
  pollfd entry{fd, event, 0};
  int count = poll(&entry, 1, timeoutMs);
  if (count < 0) return errno == EINTR ? 0 : -1;
  return count == 0 ? 0 : entry.revents;
}

constexpr int kBroken = POLLHUP | POLLERR | POLLNVAL;

}  // namespace

WaitResult WaitReadable(int fd, int timeoutMs) {
  int revents = PollOnce(fd, POLLIN, timeoutMs);
  if (revents < 0) return WaitResult::kFailed;
  if (revents == 0) return WaitResult::kTimeout;
  return (revents & POLLIN) ? WaitResult::kReadable : WaitResult::kHangup;
}

// A device that has gone reports POLLHUP, and usblp POLLOUT with it (its killed write
// counts as complete): that is no write taken.
WaitResult WaitWritten(int fd, int timeoutMs) {
  int revents = PollOnce(fd, POLLOUT, timeoutMs);
  if (revents < 0) return WaitResult::kFailed;
  if (revents == 0) return WaitResult::kTimeout;
  if (revents & kBroken) return WaitResult::kHangup;
  return (revents & POLLOUT) ? WaitResult::kWritten : WaitResult::kTimeout;
}

IoResult ReadSome(int fd, void* data, size_t size) {
  ssize_t n = RetryOnInterrupt([&] { return ::read(fd, data, size); });
  return n < 0 ? IoResult{-1, errno} : IoResult{static_cast<long>(n), 0};
}

IoResult WriteSome(int fd, const void* data, size_t size) {
  ssize_t n = RetryOnInterrupt([&] { return ::write(fd, data, size); });
  return n < 0 ? IoResult{-1, errno} : IoResult{static_cast<long>(n), 0};
}

bool IsDeviceGoneError(int error) {
  switch (error) {
    case ENODEV:
    case ENXIO:
    case EIO:
    case EBADF:
    case ESHUTDOWN:
    case EPIPE:
      return true;
    default:
      return false;
  }
}

}  // namespace platform
