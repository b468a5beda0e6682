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

WaitResult WaitReadable(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  int ready = poll(&entry, 1, timeoutMs);
  if (ready < 0) return errno == EINTR ? WaitResult::kTimeout : WaitResult::kFailed;
  if (ready == 0) return WaitResult::kTimeout;
  if (entry.revents & POLLIN) return WaitResult::kReadable;
  return WaitResult::kHangup;
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
