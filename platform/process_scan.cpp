#include "platform/process_scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>

namespace platform {

namespace {

namespace fs = std::filesystem;

std::optional<int> PidOf(const std::string& name) {
  if (name.empty() || name.size() > 9) return std::nullopt;
  for (char c : name) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return std::stoi(name);
}

// The character device path names, if it is one.
std::optional<dev_t> CharDevice(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
  return info.st_rdev;
}

std::string FirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The command line's words are separated by zero bytes.
std::string FirstWord(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string word;
  std::getline(in, word, '\0');
  return word;
}

enum class Holding { kYes, kNo, kUnreadable };

Holding HoldsFile(const fs::path& fdFolder, const std::string& path,
                  const std::optional<dev_t>& device) {
  std::error_code error;
  fs::directory_iterator entries(fdFolder, error);
  if (error) return Holding::kUnreadable;
  for (const fs::directory_entry& entry : entries) {
    fs::path target = fs::read_symlink(entry.path(), error);
    if (error) continue;  // closed meanwhile
    if (target == path) return Holding::kYes;
    // Only what lies in /dev is looked at through the link: a stat() of a file on a
    // network or FUSE mount could hang.
    if (device && target.string().rfind("/dev/", 0) == 0 &&
        CharDevice(entry.path().string()) == device) {
      return Holding::kYes;
    }
  }
  return Holding::kNo;
}

}  // namespace

HolderScan FindProcessesHolding(const std::string& path, const std::string& procRoot) {
  HolderScan scan;
  const std::optional<dev_t> device = CharDevice(path);
  std::error_code error;
  fs::directory_iterator processes(procRoot, error);
  if (error) return scan;
  for (const fs::directory_entry& process : processes) {
    std::optional<int> pid = PidOf(process.path().filename().string());
    if (!pid) continue;
    switch (HoldsFile(process.path() / "fd", path, device)) {
      case Holding::kYes:
        scan.holders.push_back(
            {*pid, FirstLine(process.path() / "comm"), FirstWord(process.path() / "cmdline")});
        break;
      case Holding::kUnreadable:
        // A process that ended meanwhile has no folder left; it holds nothing.
        if (fs::exists(process.path(), error)) ++scan.unreadable;
        break;
      case Holding::kNo:
        break;
    }
  }
  std::sort(scan.holders.begin(), scan.holders.end(),
            [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
  return scan;
}

}  // namespace platform
