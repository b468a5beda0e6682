#include "platform/descriptor.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

void Descriptor::Reset(int fd) noexcept {
  int saved = errno;
  // Never retried: Linux has released the descriptor even when close() says EINTR.
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd < 0 ? -1 : fd;
  errno = saved;
}

bool Descriptor::Close() noexcept {
  if (fd_ < 0) return true;
  int rc = ::close(std::exchange(fd_, -1));
  return rc == 0 || errno == EINTR;
}

Descriptor Descriptor::Duplicate() const noexcept {
  if (fd_ < 0) {
    errno = EBADF;
    return Descriptor();
  }
  return Descriptor(::fcntl(fd_, F_DUPFD_CLOEXEC, 0));
}

Pipe Pipe::Open() noexcept {
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  return {Descriptor(ends[0]), Descriptor(ends[1])};
}

}  // namespace platform
