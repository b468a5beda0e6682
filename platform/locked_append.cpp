#include "platform/locked_append.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/descriptor.h"
#include "platform/file.h"

namespace platform {
namespace {

// A name that is replaced this often while we open and lock it is being played with.
constexpr int kMaxReopens = 50;
// LastError-style value of a lock not had in time.
constexpr int kLockTimedOut = -100;

std::string Failure(const std::string& doing, const std::string& path, int error) {
  if (error == kLockTimedOut) {
    return "cannot " + doing + " " + path + ": another process holds it locked";
  }
  return "cannot " + doing + " " + path + ": " + ErrorText(error);
}

// Opens the regular file path names now, never following a symbolic link and never
// opening a device or a FIFO. With create, a missing file is made, exclusively and
// with exactly permissions. An empty result leaves the reason in error.
Descriptor OpenRegular(const std::string& path, int flags, bool create, unsigned permissions,
                       int& error) {
  flags |= O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  for (int attempt = 0; attempt < kMaxReopens; ++attempt) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      error = kNotRegularFile;
      return {};
    }
    Descriptor fd(RetryOnInterrupt([&] { return ::open(path.c_str(), flags); }));
    if (!fd.IsOpen() && errno == ENOENT && create) {
      fd = Descriptor(RetryOnInterrupt(
          [&] { return ::open(path.c_str(), flags | O_CREAT | O_EXCL, permissions); }));
      if (!fd.IsOpen() && errno == EEXIST) continue;  // another process made it first
      if (fd.IsOpen()) ::fchmod(fd.Get(), permissions);
    }
    if (!fd.IsOpen()) {
      error = errno == ELOOP ? kNotRegularFile : errno;
      return {};
    }
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      error = kNotRegularFile;
      return {};
    }
    return fd;
  }
  error = EAGAIN;
  return {};
}

// Takes operation's lock (LOCK_EX or LOCK_SH), waiting at most wait for another holder.
bool Lock(int fd, int operation, std::chrono::milliseconds wait, int& error) {
  using namespace std::chrono_literals;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::chrono::microseconds pause = 100us;
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      error = errno;
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      error = kLockTimedOut;
      return false;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min<std::chrono::microseconds>(pause * 2, 2ms);
  }
}

// Whether path still names the file open at fd (a rotation renames it away while
// others wait for its lock). held receives the open file's status.
bool StillNamed(const std::string& path, int fd, struct stat& held) {
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Opens path and locks it; the file returned is the one path names while it is locked.
// A lock not had in time gives an empty result (error kLockTimedOut), unless
// withoutLock, which returns the file unlocked then.
Descriptor OpenLocked(const std::string& path, int flags, bool create, unsigned permissions,
                      int operation, std::chrono::milliseconds wait, bool withoutLock,
                      struct stat& held, int& error) {
  for (int attempt = 0; attempt < kMaxReopens; ++attempt) {
    Descriptor fd = OpenRegular(path, flags, create, permissions, error);
    if (!fd.IsOpen()) return {};
    if (!Lock(fd.Get(), operation, wait, error)) {
      if (!withoutLock || error != kLockTimedOut || ::fstat(fd.Get(), &held) != 0) return {};
      return fd;
    }
    if (StillNamed(path, fd.Get(), held)) return fd;
    // Renamed or replaced while we waited: the lock belongs to the new file.
  }
  error = EAGAIN;
  return {};
}

// Writes line to the end of the locked file fd of size bytes, in one write. A line
// the disk could not take whole is taken back again.
AppendResult WriteLine(int fd, int64_t size, std::string_view line, const std::string& path) {
  std::string joined;
  char last = '\n';
  if (size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n') {
    joined.reserve(line.size() + 1);
    joined.append(1, '\n').append(line);
    line = joined;
  }
  int error = 0;
  ssize_t done = RetryOnInterrupt([&] { return ::write(fd, line.data(), line.size()); });
  if (done < 0) error = errno;
  if (done >= 0 && static_cast<size_t>(done) < line.size()) {
    // A short write says nothing of why; the rest tells (ENOSPC, EFBIG) or goes through.
    const ssize_t rest = RetryOnInterrupt(
        [&] { return ::write(fd, line.data() + done, line.size() - static_cast<size_t>(done)); });
    error = rest < 0 ? errno : ENOSPC;
    if (rest > 0) done += rest;
  }
  if (done == static_cast<ssize_t>(line.size())) return {true, ""};
  if (::ftruncate(fd, size) != 0) {
    return {false, Failure("write", path, error) + " (and the part written stays in it)"};
  }
  return {false, Failure("write", path, error)};
}

void ReadAll(int fd, int64_t maxBytes, LockedText& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    out.problem = ErrorText(errno);
    return;
  }
  const int64_t start = std::max<int64_t>(0, st.st_size - std::max<int64_t>(0, maxBytes));
  out.cut = start > 0;
  out.text.resize(static_cast<size_t>(st.st_size - start));
  size_t got = 0;
  while (got < out.text.size()) {
    const ssize_t n = RetryOnInterrupt([&] {
      return ::pread(fd, out.text.data() + got, out.text.size() - got,
                     start + static_cast<int64_t>(got));
    });
    if (n < 0) out.problem = ErrorText(errno);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  out.text.resize(got);
}

}  // namespace

AppendResult LockedAppend(const std::string& path, std::string_view line,
                          const LockedAppendOptions& options) {
  std::string rotateProblem;
  for (int attempt = 0; attempt < kMaxReopens; ++attempt) {
    struct stat held {};
    int error = 0;
    Descriptor fd = OpenLocked(path, O_RDWR | O_APPEND, true, options.permissions, LOCK_EX,
                               options.lockWait, false, held, error);
    if (!fd.IsOpen()) return {false, Failure("write", path, error)};
    const int64_t grown = held.st_size + static_cast<int64_t>(line.size());
    if (options.rotateAt > 0 && rotateProblem.empty() && held.st_size > 0 &&
        grown > options.rotateAt) {
      // Those waiting for this lock find the name taken away and open the new file.
      if (::rename(path.c_str(), options.rotatedPath.c_str()) == 0) continue;
      rotateProblem =
          "cannot rotate " + path + " to " + options.rotatedPath + ": " + ErrorText(errno);
    }
    AppendResult result = WriteLine(fd.Get(), held.st_size, line, path);
    if (!rotateProblem.empty()) {
      result.problem =
          result.problem.empty() ? rotateProblem : result.problem + "; " + rotateProblem;
    }
    return result;
  }
  return {false, Failure("write", path, EAGAIN)};
}

std::vector<LockedText> ReadLocked(const std::vector<std::string>& paths, int64_t maxBytes,
                                   std::chrono::milliseconds lockWait) {
  std::vector<LockedText> texts(paths.size());
  Descriptor first;  // holds the lock until every file is read
  for (size_t i = 0; i < paths.size(); ++i) {
    struct stat held {};
    int error = 0;
    Descriptor fd =
        i == 0 ? OpenLocked(paths[i], O_RDONLY, false, 0, LOCK_SH, lockWait, true, held, error)
               : OpenRegular(paths[i], O_RDONLY, false, 0, error);
    if (!fd.IsOpen()) {
      texts[i].missing = error == ENOENT;
      if (!texts[i].missing) texts[i].problem = Failure("read", paths[i], error);
      continue;
    }
    ReadAll(fd.Get(), maxBytes, texts[i]);
    if (!texts[i].problem.empty())
      texts[i].problem = "cannot read " + paths[i] + ": " + texts[i].problem;
    if (i == 0) first = std::move(fd);
  }
  return texts;
}

}  // namespace platform
