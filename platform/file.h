// An open file with the few operations the package code needs. Move-only; the
// descriptor is held by a platform::Descriptor. Reads and writes retry interrupted calls
// and short transfers; every call reports failure by result, never by exception.
//
// Files opened for reading (or reading and writing) are the files users name: packages,
// update applications, manifests, item data. They are opened without waiting (a FIFO or
// a device node named by mistake cannot hold the open, and with it a stop) and refused
// at once unless they are regular files:
//
//   platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
//   if (!file.IsOpen()) return platform::OpenFailure(path, file.LastError());
//   // "PATH is not a regular file" or "cannot open PATH: No such file or directory"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/descriptor.h"

namespace platform {

// A point in time as seconds and nanoseconds since 1970-01-01 UTC (may be negative).
struct FileTime {
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
};

// LastError() of a file refused because its path names a folder, a FIFO, a device or a
// socket rather than a regular file. No errno says that, so it is a value of its own.
inline constexpr int kNotRegularFile = -2;
// The words for an error of this class: strerror, or "not a regular file".
std::string ErrorText(int error);
// Why path could not be opened, in words for a detail line: "PATH is not a regular
// file", or "cannot open PATH: REASON".
std::string OpenFailure(const std::string& path, int error);

class File {
 public:
  enum class Mode {
    kRead,            // existing regular file, read only
    kReadWrite,       // existing regular file, read and write
    kCreateTruncate,  // create or truncate, write only
  };

  File() = default;

  // Opens path; IsOpen() tells whether it worked and LastError() why not. No mode
  // waits in the open; kRead and kReadWrite take regular files only (kNotRegularFile
  // otherwise; a path that names a device is not even opened). New files get mode 0644
  // (less the umask). The descriptor is close-on-exec.
  static File Open(const std::string& path, Mode mode);
  // Creates path for writing with the given permission bits (exactly, whatever the
  // umask). With exclusive an existing file makes it fail; otherwise it is truncated.
  static File Create(const std::string& path, unsigned permissions, bool exclusive);
  // Takes over a descriptor that other platform code opened (below a Folder, say). An
  // empty one gives a closed File whose LastError() is error.
  static File Adopt(Descriptor fd, int error) {
    File file;
    file.fd_ = std::move(fd);
    file.error_ = file.IsOpen() ? 0 : error;
    return file;
  }

  bool IsOpen() const { return fd_.IsOpen(); }
  // The descriptor, borrowed for the calls this class does not offer; it stays owned here.
  const Descriptor& Handle() const { return fd_; }
  // errno of the last failed call on this object (or of the failed open).
  int LastError() const { return error_; }

  // Reads up to size bytes; fewer only at the end of the file. -1 on error.
  int64_t Read(void* data, size_t size);
  // Reads up to size bytes at offset without moving the position. -1 on error.
  int64_t ReadAt(void* data, size_t size, int64_t offset);
  // Writes all size bytes; returns the number written, less than size on error.
  int64_t Write(const void* data, size_t size);
  // Moves the position; whence as for lseek (0 set, 1 current, 2 end). -1 on error.
  int64_t Seek(int64_t offset, int whence);
  int64_t Position() { return Seek(0, 1); }
  // Size of the file in bytes, -1 on error.
  int64_t Size();
  // Sets last access and last write time. Linux keeps no creation time.
  bool SetTimes(FileTime lastAccess, FileTime lastWrite);
  // Closes now; false when the kernel reported a delayed write error.
  bool Close();

 private:
  explicit File(int fd) : fd_(fd) {}
  template <typename ReadCall>
  int64_t ReadFully(void* data, size_t size, ReadCall readAt);
  Descriptor fd_;
  int error_ = 0;
};

// Test seam: after this many more bytes written through any File, writes fail with
// ENOSPC as on a full disk. A negative value switches the fault off.
void InjectWriteFailureAfter(int64_t bytes);

}  // namespace platform
