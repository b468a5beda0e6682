#include "platform/replacing_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>

#include "platform/fs.h"

namespace platform {
namespace {

constexpr char kPrefix[] = "_^~";

// Makes the folder entry of a rename last: without it a power cut soon after could
// bring back the old target.
void SyncFolder(const std::string& folder) {
  Descriptor dir(
      RetryOnInterrupt([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (dir.IsOpen()) ::fsync(dir.Get());
}

bool LockedAndStillNamed(const File& file, const std::string& path) {
  const int fd = file.Handle().Get();
  if (RetryOnInterrupt([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) return false;
  struct stat held {
  }, named{};
  return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

ReplacingFile ReplacingFile::Begin(const std::string& target) {
  ReplacingFile file;
  file.target_ = target;
  const std::string base = WithTrailingSlash(FolderOf(target)) + kPrefix;
  std::random_device seed;
  std::uniform_int_distribution<unsigned> numbers(1, 0xFFFF);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", numbers(seed));
    std::string name = base + digits + ".tmp";
    File output = File::Create(name, 0600, true);
    if (!output.IsOpen()) {
      file.error_ = output.LastError();
      if (file.error_ == EEXIST) continue;
      return file;
    }
    // The lock tells a sweep of stale temporary files that this one is being written; a
    // sweep that came between the open and the lock took it for stale, so another name
    // serves then.
    if (!LockedAndStillNamed(output, name)) continue;
    file.temporary_ = std::move(name);
    file.output_ = std::move(output);
    file.error_ = 0;
    return file;
  }
  return file;
}

ReplacingFile::ReplacingFile(ReplacingFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, {})),
      output_(std::move(other.output_)),
      error_(other.error_) {}

ReplacingFile::~ReplacingFile() {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool ReplacingFile::Commit(unsigned permissions) {
  if (!output_.IsOpen()) return false;
  const int fd = output_.Handle().Get();
  if (::fchmod(fd, permissions & 07777) != 0 || ::fsync(fd) != 0) return Fail();
  if (!output_.Close()) {
    error_ = output_.LastError();
    return false;
  }
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return Fail();
  temporary_.clear();
  SyncFolder(WithTrailingSlash(FolderOf(target_)));
  return true;
}

bool ReplacingFile::Fail() {
  error_ = errno;
  return false;
}

std::optional<unsigned> PermissionBits(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<unsigned>(st.st_mode & 07777);
}

}  // namespace platform
