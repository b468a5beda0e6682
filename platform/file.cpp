#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

std::atomic<int64_t> g_writeBudget{-1};

// Shrinks a write to what the injected fault still allows; 0 means "fail now".
size_t AllowedWrite(size_t size) {
  int64_t budget = g_writeBudget.load();
  if (budget < 0) return size;
  return static_cast<size_t>(std::min<int64_t>(budget, static_cast<int64_t>(size)));
}

}  // namespace

void InjectWriteFailureAfter(int64_t bytes) {
  g_writeBudget.store(bytes);
}

std::string ErrorText(int error) {
  if (error == kNotRegularFile) return "not a regular file";
  return std::strerror(error != 0 ? error : EIO);
}

std::string OpenFailure(const std::string& path, int error) {
  if (error == kNotRegularFile) return path + " is not a regular file";
  return "cannot open " + path + ": " + ErrorText(error);
}

// O_NONBLOCK keeps the open itself from waiting: a FIFO without a writer (or reader)
// would hold it forever, out of reach of any stop. Reads and writes of the regular files
// this class keeps block as usual, so the flag goes again once the file is known.
File File::Open(const std::string& path, Mode mode) {
  int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  const bool regularOnly = mode != Mode::kCreateTruncate;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::kCreateTruncate:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
  }
  File file;
  struct stat st {};
  // A device node named by mistake is not opened at all: opening one can have effects.
  if (regularOnly && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    file.error_ = kNotRegularFile;
    return file;
  }
  file.fd_ = Descriptor(RetryOnInterrupt([&] { return ::open(path.c_str(), flags, 0644); }));
  if (!file.IsOpen()) {
    file.error_ = errno;
    return file;
  }
  // What the path named when it was opened decides, whatever it named a moment before.
  const int fd = file.fd_.Get();
  if (regularOnly && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    file.fd_.Reset();
    file.error_ = kNotRegularFile;
    return file;
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    file.error_ = errno;
    file.fd_.Reset();
  }
  return file;
}

File File::Create(const std::string& path, unsigned permissions, bool exclusive) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  File file(RetryOnInterrupt([&] { return ::open(path.c_str(), flags, permissions & 07777); }));
  if (!file.IsOpen()) {
    file.error_ = errno;
  } else if (::fchmod(file.fd_.Get(), permissions & 07777) != 0) {
    file.error_ = errno;
    file.Close();
  }
  return file;
}

// Reads until size bytes came or the file ended; readAt(out, count, done) is one read of
// up to count bytes into out, done bytes into the transfer. Returns the bytes read, -1
// when nothing could be read.
template <typename ReadCall>
int64_t File::ReadFully(void* data, size_t size, ReadCall readAt) {
  auto* out = static_cast<unsigned char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = RetryOnInterrupt([&] { return readAt(out + done, size - done, done); });
    if (n < 0) {
      error_ = errno;
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t File::Read(void* data, size_t size) {
  return ReadFully(data, size, [this](void* out, size_t count, size_t) {
    return ::read(fd_.Get(), out, count);
  });
}

int64_t File::ReadAt(void* data, size_t size, int64_t offset) {
  return ReadFully(data, size, [this, offset](void* out, size_t count, size_t done) {
    return ::pread(fd_.Get(), out, count, offset + static_cast<int64_t>(done));
  });
}

int64_t File::Write(const void* data, size_t size) {
  const auto* in = static_cast<const unsigned char*>(data);
  size_t done = 0;
  while (done < size) {
    size_t allowed = AllowedWrite(size - done);
    if (allowed == 0) {
      error_ = ENOSPC;
      break;
    }
    ssize_t n = RetryOnInterrupt([&] { return ::write(fd_.Get(), in + done, allowed); });
    if (n < 0) {
      error_ = errno;
      break;
    }
    if (n == 0) {
      error_ = EIO;
      break;
    }
    if (g_writeBudget.load() >= 0) g_writeBudget.fetch_sub(n);
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t File::Seek(int64_t offset, int whence) {
  off_t pos = ::lseek(fd_.Get(), offset, whence);
  if (pos < 0) error_ = errno;
  return pos;
}

int64_t File::Size() {
  struct stat st {};
  if (::fstat(fd_.Get(), &st) != 0) {
    error_ = errno;
    return -1;
  }
  return st.st_size;
}

bool File::SetTimes(FileTime lastAccess, FileTime lastWrite) {
  timespec times[2] = {
      {static_cast<time_t>(lastAccess.seconds), static_cast<long>(lastAccess.nanoseconds)},
      {static_cast<time_t>(lastWrite.seconds), static_cast<long>(lastWrite.nanoseconds)},
  };
  if (::futimens(fd_.Get(), times) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

bool File::Close() {
  if (fd_.Close()) return true;
  error_ = errno;
  return false;
}

}  // namespace platform
