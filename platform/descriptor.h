// The one owner of a Linux file descriptor, and the one place that retries a system call
// interrupted by a signal (EINTR).
//
// Every descriptor the program opens (files, device nodes, shared-memory objects, pty
// masters, sockets) is held by a Descriptor from the moment the call returns it, so no
// exit path has to remember a close(). Descriptor is move-only; its destructor closes and
// never throws.
//
//   platform::Descriptor fd(platform::RetryOnInterrupt([&] { return ::open(path, flags); }));
//   if (!fd.IsOpen()) return errno;   // errno is still the open's
//   ::write(fd.Get(), ...);           // borrow it; ownership stays here
//
// Wrappers with a richer face (platform::File, platform::DeviceFile) hold one as their
// member; code outside platform/ that must call Linux itself (the HID library, the
// simulator, tests) uses it directly.
#pragma once

#include <cerrno>
#include <utility>

namespace platform {

// Runs call() again for as long as it fails with EINTR, and returns its last result.
// call is a system call wrapper that reports failure as -1 with errno set; errno after
// the return is the last call's. Not for close(): Linux releases the descriptor even when
// close() reports EINTR, so a retry could close somebody else's.
template <typename Call>
auto RetryOnInterrupt(Call call) -> decltype(call()) {
  for (;;) {
    auto result = call();
    if (!(result == -1 && errno == EINTR)) return result;
  }
}

class Descriptor {
 public:
  Descriptor() noexcept = default;
  // Takes ownership of fd; a negative fd makes an empty owner (so the result of a failed
  // open can be wrapped as it is).
  explicit Descriptor(int fd) noexcept : fd_(fd < 0 ? -1 : fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  bool IsOpen() const noexcept { return fd_ >= 0; }
  // The descriptor, -1 when empty. Ownership stays with this object.
  int Get() const noexcept { return fd_; }
  // Gives the descriptor up without closing it; this object is empty afterwards.
  [[nodiscard]] int Release() noexcept { return std::exchange(fd_, -1); }
  // Closes the descriptor held (if any) and takes fd instead; errno is left untouched, so
  // an open's errno survives the replacement of an older descriptor.
  void Reset(int fd = -1) noexcept;
  // Closes now. False when close() reported an error other than EINTR (a delayed write
  // error on NFS, say), with errno set; the descriptor is gone either way.
  bool Close() noexcept;
  // A second descriptor on the same open file, close-on-exec; empty on failure (errno set).
  Descriptor Duplicate() const noexcept;

 private:
  int fd_ = -1;
};

// Both ends of a pipe, close-on-exec, each owned from the moment pipe2() returns them.
struct Pipe {
  Descriptor readEnd;
  Descriptor writeEnd;

  // A new pipe; both ends empty when none could be made (errno set).
  static Pipe Open() noexcept;
};

}  // namespace platform
