#include "platform/process_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/descriptor.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------
// Small reads below /proc/PID, none of which can wait on the process or its files

struct DirCloser {
  void operator()(DIR* folder) const { ::closedir(folder); }
};
using FolderList = std::unique_ptr<DIR, DirCloser>;

// The entries of the folder at name below at; null with errno set when it cannot be read.
FolderList OpenList(int at, const char* name) {
  Descriptor fd(RetryOnInterrupt(
      [&] { return ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
  if (!fd.IsOpen()) return nullptr;
  DIR* folder = ::fdopendir(fd.Get());
  if (folder == nullptr) return nullptr;
  (void)fd.Release();  // the listing owns it now
  return FolderList(folder);
}

std::optional<int> PidOf(const char* name) {
  int pid = 0;
  int digits = 0;
  for (; name[digits] != '\0'; ++digits) {
    if (name[digits] < '0' || name[digits] > '9' || digits == 9) return std::nullopt;
    pid = pid * 10 + (name[digits] - '0');
  }
  if (digits == 0) return std::nullopt;
  return pid;
}

// The text of the link at name below at; empty when there is none (or it is gone).
std::string LinkText(int at, const char* name) {
  char text[PATH_MAX];
  const ssize_t length = ::readlinkat(at, name, text, sizeof text);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof text) return std::string();
  return std::string(text, static_cast<size_t>(length));
}

// The start of the file at name below at. Non-blocking, so that nothing but a /proc file
// (which never blocks an open) can keep the scan waiting.
std::string Head(int at, const char* name) {
  Descriptor fd(RetryOnInterrupt([&] {
    return ::openat(at, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  }));
  if (!fd.IsOpen()) return std::string();
  char text[512];
  const ssize_t length = RetryOnInterrupt([&] { return ::read(fd.Get(), text, sizeof text); });
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

ProcessInfo Describe(int pid, int processFolder) {
  ProcessInfo info;
  info.pid = pid;
  info.command = Head(processFolder, "comm");
  if (!info.command.empty() && info.command.back() == '\n') info.command.pop_back();
  // The command line's words are separated by zero bytes.
  const std::string line = Head(processFolder, "cmdline");
  info.argv0 = line.substr(0, line.find('\0'));
  info.executable = LinkText(processFolder, "exe");
  return info;
}

// ---------------------------------------------------------------------------------------
// What a descriptor must lead to

// A file as stat() tells it apart: a device by its number, anything else by its inode.
struct FileIdentity {
  bool device = false;
  dev_t number = 0;
  ino_t inode = 0;

  static FileIdentity Of(const struct stat& info) {
    FileIdentity id;
    id.device = S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode);
    id.number = id.device ? info.st_rdev : info.st_dev;
    id.inode = id.device ? 0 : info.st_ino;
    return id;
  }
  bool operator==(const FileIdentity&) const = default;
};

// Where path leads once the symbolic links it names are followed (a udev link to its
// node, a test bed's node to its pty): the name a descriptor on it has in /proc. Done
// with readlink rather than realpath, whose wrapper in umockdev's preload corrupts
// memory; the folders on the way are device folders, not links.
std::string Resolved(const std::string& path) {
  fs::path current = path;
  for (int hop = 0; hop < 16; ++hop) {  // a loop of links ends somewhere
    const std::string text = LinkText(AT_FDCWD, current.c_str());
    if (text.empty()) break;  // no link (any more)
    const fs::path target(text);
    current = (target.is_absolute() ? target : current.parent_path() / target).lexically_normal();
  }
  return current.string();
}

class Target {
 public:
  // path is the caller's own (a node it found through udev), but it is still looked at on
  // the scanning thread.
  explicit Target(const std::string& path) {
    names_.push_back(path);
    const std::string resolved = Resolved(path);
    if (resolved != path) names_.push_back(resolved);
    for (const std::string& name : names_) {
      struct stat info {};
      if (::stat(name.c_str(), &info) == 0) identities_.push_back(FileIdentity::Of(info));
    }
  }

  bool IsNamedBy(const std::string& linkText) const {
    return std::find(names_.begin(), names_.end(), linkText) != names_.end();
  }

  // For a link whose text names the target: whether it leads to the same file. Where the
  // target itself cannot be looked at, the name alone tells.
  bool IsReachedThrough(int fdFolder, const char* link) const {
    if (identities_.empty()) return true;
    struct stat info {};
    if (::fstatat(fdFolder, link, &info, 0) != 0) return false;  // closed meanwhile
    return std::find(identities_.begin(), identities_.end(), FileIdentity::Of(info)) !=
           identities_.end();
  }

 private:
  std::vector<std::string> names_;
  std::vector<FileIdentity> identities_;
};

// ---------------------------------------------------------------------------------------
// The scan, on its own thread

// What the scanning thread and its caller share; the caller may leave before the scan
// ends, so the thread keeps its own reference.
struct ScanState {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  HolderScan scan;  // under mutex
  std::atomic<bool> givenUp{false};
};

class Scanner {
 public:
  Scanner(const std::string& path, const std::string& procRoot, Clock::time_point stopAt,
          std::shared_ptr<ScanState> state)
      : target_(path), procRoot_(procRoot), stopAt_(stopAt), state_(std::move(state)) {}

  void Run() {
    const bool complete = ScanAll();
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->scan.timedOut = !complete;
    state_->done = true;
    state_->finished.notify_all();
  }

 private:
  enum class Holding { kYes, kNo, kUnreadable, kGone, kOutOfTime };

  bool OutOfTime() const { return state_->givenUp.load() || Clock::now() >= stopAt_; }

  // False when the deadline came first.
  bool ScanAll() {
    const FolderList processes = OpenList(AT_FDCWD, procRoot_.c_str());
    if (!processes) return true;  // nothing to look at
    const int rootFd = ::dirfd(processes.get());
    while (const dirent* entry = ::readdir(processes.get())) {
      const std::optional<int> pid = PidOf(entry->d_name);
      if (!pid) continue;
      if (OutOfTime()) return false;
      const Descriptor folder(RetryOnInterrupt([&] {
        return ::openat(rootFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      }));
      if (!folder.IsOpen()) continue;  // ended meanwhile
      switch (HoldsTarget(folder.Get())) {
        case Holding::kYes: {
          ProcessInfo holder = Describe(*pid, folder.Get());
          const std::lock_guard<std::mutex> lock(state_->mutex);
          state_->scan.holders.push_back(std::move(holder));
          break;
        }
        case Holding::kUnreadable: {
          const std::lock_guard<std::mutex> lock(state_->mutex);
          ++state_->scan.unreadable;
          break;
        }
        case Holding::kOutOfTime:
          return false;
        case Holding::kNo:
        case Holding::kGone:
          break;
      }
    }
    return true;
  }

  // Reads every link of the process's fd folder as text; follows only those that name
  // the target.
  Holding HoldsTarget(int processFolder) const {
    const FolderList fds = OpenList(processFolder, "fd");
    if (!fds) return errno == ENOENT ? Holding::kGone : Holding::kUnreadable;
    const int fdFolder = ::dirfd(fds.get());
    int sinceClockLook = 0;
    while (const dirent* entry = ::readdir(fds.get())) {
      if (entry->d_name[0] == '.') continue;
      // A process may hold thousands of descriptors; the clock is looked at now and then.
      if (++sinceClockLook == 256) {
        if (OutOfTime()) return Holding::kOutOfTime;
        sinceClockLook = 0;
      }
      const std::string text = LinkText(fdFolder, entry->d_name);
      if (target_.IsNamedBy(text) && target_.IsReachedThrough(fdFolder, entry->d_name)) {
        return Holding::kYes;
      }
    }
    return Holding::kNo;
  }

  const Target target_;
  const std::string procRoot_;
  const Clock::time_point stopAt_;
  const std::shared_ptr<ScanState> state_;
};

// The scan from start to end; whatever happens, the caller hears that it has ended.
void RunScan(const std::string& path, const std::string& procRoot, Clock::time_point stopAt,
             const std::shared_ptr<ScanState>& state) noexcept {
  try {
    Scanner(path, procRoot, stopAt, state).Run();
  } catch (...) {
    // Out of memory, most likely: what was found so far is all there is.
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->scan.timedOut = true;
    state->done = true;
    state->finished.notify_all();
  }
}

HolderScan Collected(ScanState& state) {
  HolderScan scan = state.scan;
  std::sort(scan.holders.begin(), scan.holders.end(),
            [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
  return scan;
}

}  // namespace

HolderScan FindProcessesHolding(const std::string& path, const std::string& procRoot,
                                std::chrono::milliseconds deadline) {
  const Clock::time_point stopAt = Clock::now() + deadline;
  auto state = std::make_shared<ScanState>();
  try {
    // Detached on purpose: a thread stuck in the kernel on somebody else's file can be
    // neither interrupted nor joined. It owns copies of what it uses, stops at its next
    // look at the clock once given up, and the kernel ends it with the process.
    std::thread([path, procRoot, stopAt, state] {
      RunScan(path, procRoot, stopAt, state);
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: scan here, still within the deadline's looks at the clock.
    RunScan(path, procRoot, stopAt, state);
  }
  std::unique_lock<std::mutex> lock(state->mutex);
  if (!state->finished.wait_until(lock, stopAt, [&] { return state->done; })) {
    state->givenUp = true;
    state->scan.timedOut = true;
  }
  return Collected(*state);
}

}  // namespace platform
