#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/descriptor.h"
#include "platform/file.h"

namespace platform {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace

std::string ExecutablePath() {
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithTrailingSlash(const std::string& folder) {
  if (folder.empty()) return "./";
  return folder.back() == '/' ? folder : folder + '/';
}

std::string WithoutTrailingSlash(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  return end == std::string::npos ? path.substr(0, 1) : path.substr(0, end + 1);
}

std::string TempFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0' && IsFolder(tmpdir)) return WithTrailingSlash(tmpdir);
  return "/tmp/";
}

namespace {

bool UnderUsr(const std::string& folder) {
  return folder == "/usr" || folder.rfind("/usr/", 0) == 0;
}

// A folder of the effective user; with privateOnly, one that neither group nor others may
// write either.
bool IsOwnFolder(const std::string& folder, bool privateOnly) {
  struct stat st {};
  return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::geteuid() && (!privateOnly || (st.st_mode & 022) == 0);
}

}  // namespace

std::vector<std::string> TempFileFolders(const std::string& ownFolder) {
  std::vector<std::string> folders;
  if (!ownFolder.empty() && !UnderUsr(WithTrailingSlash(ownFolder)) &&
      IsOwnFolder(ownFolder, false)) {
    folders.push_back(WithTrailingSlash(ownFolder));
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && IsOwnFolder(runtime, true)) {
    folders.push_back(WithTrailingSlash(runtime));
  }
  const std::string temp = TempFolder();
  if (std::find(folders.begin(), folders.end(), temp) == folders.end()) folders.push_back(temp);
  return folders;
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  struct stat st {};
  if (::stat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  File source = File::Open(from, File::Mode::kRead);
  if (!source.IsOpen()) return false;
  File target = File::Create(to, st.st_mode & 07777, failIfExists);
  if (!target.IsOpen()) return false;
  std::vector<unsigned char> chunk(1 << 16);
  bool ok = true;
  while (ok) {
    int64_t n = source.Read(chunk.data(), chunk.size());
    if (n < 0) ok = false;
    if (n <= 0) break;
    ok = target.Write(chunk.data(), static_cast<size_t>(n)) == n;
  }
  return target.Close() && ok;
}

bool CreatePrivateFolder(const std::string& path) {
  return ::mkdir(path.c_str(), 0700) == 0;
}

std::string CreateFolderPath(const std::string& path, unsigned mode) {
  if (path.empty()) return "cannot make a folder without a name";
  // Each level from the top: an existing one (or one another process makes meanwhile)
  // is passed, and only the levels made here get the mode.
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string level = path.substr(0, end);
    if (::mkdir(level.c_str(), mode) == 0) {
      ::chmod(level.c_str(), mode);
    } else if (errno != EEXIST) {
      return "cannot make the folder " + level + ": " + std::strerror(errno);
    }
    if (end == std::string::npos) break;
  }
  if (!IsFolder(path)) return "cannot make the folder " + path + ": " + std::strerror(ENOTDIR);
  return {};
}

unsigned EffectiveUserId() {
  return ::geteuid();
}

std::string UserDatabaseHome(unsigned uid) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  while (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (found == nullptr || found->pw_dir == nullptr) return {};
  return found->pw_dir;
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path) {
  DirHandle dir(::opendir(path.c_str()));
  if (!dir) return std::nullopt;
  std::vector<FolderEntry> entries;
  const std::string prefix = WithTrailingSlash(path);
  while (dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool isFolder;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      isFolder = ::lstat((prefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    } else {
      isFolder = entry->d_type == DT_DIR;
    }
    entries.push_back({std::move(name), isFolder});
  }
  return entries;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DeleteFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool RemoveFolder(const std::string& path) {
  return ::rmdir(path.c_str()) == 0;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return st.st_size;
}

bool GetFileTimes(const std::string& path, FileTime& lastAccess, FileTime& lastWrite) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  lastAccess = {st.st_atim.tv_sec, static_cast<uint32_t>(st.st_atim.tv_nsec)};
  lastWrite = {st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec)};
  return true;
}

LocalTime Now() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  tm parts{};
  time_t seconds = tv.tv_sec;
  ::localtime_r(&seconds, &parts);
  return {parts.tm_year + 1900,
          parts.tm_mon + 1,
          parts.tm_mday,
          parts.tm_hour,
          parts.tm_min,
          parts.tm_sec,
          static_cast<int>(tv.tv_usec / 1000)};
}

}  // namespace platform
