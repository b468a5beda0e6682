#include "platform/device_file.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

DeviceFile::DeviceFile(DeviceFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

DeviceFile& DeviceFile::operator=(DeviceFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

DeviceFile DeviceFile::Open(const std::string& path) {
  int fd = -1;
  do {
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  return DeviceFile(fd, fd < 0 ? errno : 0);
}

DeviceFile DeviceFile::Duplicate() const {
  if (fd_ < 0) return DeviceFile(-1, EBADF);
  int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  return DeviceFile(fd, fd < 0 ? errno : 0);
}

void DeviceFile::Close() {
  // Linux releases the descriptor even when close() reports EINTR: never retry.
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
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
  ssize_t n = ::read(fd, data, size);
  return n < 0 ? IoResult{-1, errno} : IoResult{static_cast<long>(n), 0};
}

IoResult WriteSome(int fd, const void* data, size_t size) {
  ssize_t n = ::write(fd, data, size);
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
