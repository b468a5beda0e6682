#include "platform/temp_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <utility>

#include "platform/fs.h"

namespace platform {
namespace {

constexpr unsigned kMaxNumber = 0xFFFF;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when path still names the file open on fd: a sweep may have removed a file in
// the moment between its creation and its lock.
bool StillNamed(int fd, const std::string& path) {
  struct stat held {
  }, named{};
  return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && SameFile(held, named);
}

// prefix + 1 to 4 upper-case hex digits + ".tmp" + suffix.
bool IsTempName(const std::string& name, const std::string& prefix, const std::string& suffix) {
  const std::string tail = ".tmp" + suffix;
  if (name.size() <= prefix.size() + tail.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  const size_t digits = name.size() - prefix.size() - tail.size();
  if (digits > 4) return false;
  for (size_t i = prefix.size(); i < prefix.size() + digits; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// Opens path for a look at its lock without following a link and without blocking on a
// FIFO.
Descriptor OpenForLock(const std::string& path, bool folder) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0);
  return Descriptor(RetryOnInterrupt([&] { return ::open(path.c_str(), flags); }));
}

bool TryLock(const Descriptor& fd) {
  return RetryOnInterrupt([&] { return ::flock(fd.Get(), LOCK_EX | LOCK_NB); }) == 0;
}

// Held by nobody and this user's: then the caller, holding the lock itself now, may
// remove it.
bool Unheld(const Descriptor& fd, const std::string& path, mode_t type) {
  struct stat st {};
  return fd.IsOpen() && ::fstat(fd.Get(), &st) == 0 && (st.st_mode & S_IFMT) == type &&
         st.st_uid == ::geteuid() && TryLock(fd) && StillNamed(fd.Get(), path);
}

bool WriteMark(const Descriptor& fd, const std::string& mark) {
  return RetryOnInterrupt([&] { return ::pwrite(fd.Get(), mark.data(), mark.size(), 0); }) ==
         static_cast<ssize_t>(mark.size());
}

// True when the file holds mark and nothing else.
bool HoldsExactly(const Descriptor& fd, const std::string& mark) {
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || st.st_size != static_cast<off_t>(mark.size())) return false;
  std::string text(mark.size(), '\0');
  return RetryOnInterrupt([&] { return ::pread(fd.Get(), text.data(), text.size(), 0); }) ==
             static_cast<ssize_t>(text.size()) &&
         text == mark;
}

std::vector<std::string> MatchingEntries(const std::string& folder, const std::string& prefix,
                                         const std::string& suffix, bool folders) {
  std::vector<std::string> paths;
  if (auto entries = ListFolder(folder)) {
    for (const FolderEntry& entry : *entries) {
      if (entry.isFolder == folders && IsTempName(entry.name, prefix, suffix)) {
        paths.push_back(WithTrailingSlash(folder) + entry.name);
      }
    }
  }
  return paths;
}

}  // namespace

TempFile TempFile::Create(const std::string& folder, const std::string& prefix,
                          const std::string& mark) {
  TempFile file;
  const std::string base = WithTrailingSlash(folder) + prefix;
  // Start at a random number so that two processes rarely race for the same names.
  std::random_device seed;
  const unsigned start = std::uniform_int_distribution<unsigned>(1, kMaxNumber)(seed);
  for (unsigned i = 0; i < kMaxNumber; ++i) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", (start + i - 1) % kMaxNumber + 1);
    const std::string path = base + digits + ".tmp";
    Descriptor fd(RetryOnInterrupt(
        [&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600); }));
    if (!fd.IsOpen()) {
      if (errno == EEXIST) continue;
      file.error_ = errno;
      return file;
    }
    // Between the open and the lock, a sweep may have taken the fresh file for a stale
    // one: then it holds or has removed it, and another name serves.
    if (!TryLock(fd) || !StillNamed(fd.Get(), path)) continue;
    file.lock_ = std::move(fd);
    file.path_ = path;
    if (!mark.empty() && !WriteMark(file.lock_, mark)) {
      file.error_ = errno;
      file.Remove();
    }
    return file;
  }
  file.error_ = EEXIST;
  return file;
}

TempFile TempFile::CreateInFirst(const std::vector<std::string>& folders,
                                 const std::string& prefix) {
  TempFile file;
  for (const std::string& folder : folders) {
    file = Create(folder, prefix);
    if (file.IsOpen()) break;
  }
  return file;
}

TempFile::~TempFile() {
  Remove();
}

TempFile::TempFile(TempFile&& other) noexcept
    : lock_(std::move(other.lock_)), path_(std::exchange(other.path_, {})), error_(other.error_) {}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    Remove();
    lock_ = std::move(other.lock_);
    path_ = std::exchange(other.path_, {});
    error_ = other.error_;
  }
  return *this;
}

bool TempFile::Remove() {
  if (!lock_.IsOpen()) return false;
  // Deleted while still locked, so that no sweep can take the name in between; never a
  // file that someone put in its place.
  const bool removed = StillNamed(lock_.Get(), path_) && ::unlink(path_.c_str()) == 0;
  lock_.Reset();
  path_.clear();
  return removed;
}

std::string TempFile::Release() {
  lock_.Reset();
  return std::exchange(path_, {});
}

std::vector<std::string> SweepStaleTempFiles(const std::string& folder, const std::string& prefix,
                                             const std::string& mark) {
  std::vector<std::string> removed;
  for (const std::string& path : MatchingEntries(folder, prefix, "", false)) {
    const Descriptor fd = OpenForLock(path, false);
    // The mark is read under the lock: a file just made is locked before it is marked.
    if (Unheld(fd, path, S_IFREG) && (mark.empty() || HoldsExactly(fd, mark)) &&
        ::unlink(path.c_str()) == 0) {
      removed.push_back(path);
    }
  }
  return removed;
}

std::vector<std::string> SweepStaleTempFolders(const std::string& folder, const std::string& prefix,
                                               const std::string& suffix) {
  std::vector<std::string> removed;
  for (const std::string& path : MatchingEntries(folder, prefix, suffix, true)) {
    const Descriptor fd = OpenForLock(path, true);
    if (!Unheld(fd, path, S_IFDIR)) continue;
    // The placeholder is held from before the folder exists until the folder is held
    // itself.
    const std::string placeholder = path.substr(0, path.size() - suffix.size());
    const Descriptor reserved = OpenForLock(placeholder, false);
    if (reserved.IsOpen() && !TryLock(reserved)) continue;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);  // removes links, never follows them
    if (std::filesystem::exists(path, ignored)) continue;
    removed.push_back(path);
    // The placeholder goes with its folder: the pair is this program's, whatever the
    // placeholder holds.
    struct stat st {};
    if (reserved.IsOpen() && ::fstat(reserved.Get(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == ::geteuid() && StillNamed(reserved.Get(), placeholder) &&
        ::unlink(placeholder.c_str()) == 0) {
      removed.push_back(placeholder);
    }
  }
  return removed;
}

}  // namespace platform
