#include "platform/folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {
namespace {

std::atomic<int64_t> g_freeSpace{-1};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

Folder Folder::Open(const std::string& path) {
  Folder folder;
  folder.fd_.Reset(
      RetryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!folder.IsOpen()) folder.error_ = errno;
  return folder;
}

bool Folder::Hold() {
  return IsOpen() && RetryOnInterrupt([&] { return ::flock(fd_.Get(), LOCK_EX | LOCK_NB); }) == 0;
}

int Folder::ParentOf(const std::string& relative, Descriptor& opened, std::string& leaf) const {
  if (!IsOpen() || relative.empty() || relative.front() == '/') {
    errno = IsOpen() ? EINVAL : EBADF;
    return -1;
  }
  int parent = fd_.Get();
  size_t start = 0;
  for (size_t slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
    const std::string part = relative.substr(start, slash - start);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      errno = EINVAL;
      return -1;
    }
    opened =
        Descriptor(RetryOnInterrupt([&] { return ::openat(parent, part.c_str(), kFolderFlags); }));
    if (!opened.IsOpen()) return -1;
    parent = opened.Get();
  }
  leaf = relative.substr(start);
  if (leaf.empty() || leaf == "." || leaf == "..") {
    errno = EINVAL;
    return -1;
  }
  return parent;
}

File Folder::CreateFile(const std::string& relative) const {
  Descriptor opened;
  std::string leaf;
  const int parent = ParentOf(relative, opened, leaf);
  if (parent < 0) return File::Adopt(Descriptor(), errno);
  // O_NONBLOCK makes the open of a planted FIFO fail instead of waiting for a reader; a
  // regular file ignores it.
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  Descriptor fd(RetryOnInterrupt([&] { return ::openat(parent, leaf.c_str(), flags, 0644); }));
  if (!fd.IsOpen()) return File::Adopt(Descriptor(), errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return File::Adopt(Descriptor(), errno);
  if (!S_ISREG(st.st_mode)) return File::Adopt(Descriptor(), EINVAL);
  return File::Adopt(std::move(fd), 0);
}

bool Folder::DeleteFile(const std::string& relative) const {
  Descriptor opened;
  std::string leaf;
  const int parent = ParentOf(relative, opened, leaf);
  return parent >= 0 && ::unlinkat(parent, leaf.c_str(), 0) == 0;
}

int64_t FreeSpace(const std::string& path) {
  if (const int64_t injected = g_freeSpace.load(); injected >= 0) return injected;
  struct statvfs st {};
  if (RetryOnInterrupt([&] { return ::statvfs(path.c_str(), &st); }) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

void InjectFreeSpace(int64_t bytes) {
  g_freeSpace.store(bytes);
}

}  // namespace platform
