// Which processes hold a file open (a printer node another program has), found through
// /proc/PID/fd as fuser does, but without ever waiting on another program's files.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace platform {

struct ProcessInfo {
  int pid = 0;
  std::string command;     // /proc/PID/comm: the name it gave itself, at most 15 characters
  std::string argv0;       // the first word of its command line (a CUPS backend puts the
                           // device URI there); also the process's own choice
  std::string executable;  // where /proc/PID/exe leads: the program file the kernel ran;
                           // empty when it cannot be read (another user's process)
};

struct HolderScan {
  std::vector<ProcessInfo> holders;  // by pid
  // Processes whose descriptors this user may not look at (other users' processes,
  // unless we are root): one of them may hold the file too.
  int unreadable = 0;
  // The deadline came before the scan had looked at every process: holders and
  // unreadable count what was seen until then.
  bool timedOut = false;
};

inline constexpr std::chrono::milliseconds kHolderScanDeadline{2000};

// Every process with a descriptor on path. A descriptor counts when its link in
// /proc/PID/fd reads path, or the path that path resolves to (a udev symlink's node, a
// test bed's pty), and, where the file can be told, reaches the same file. Only such
// links are ever followed: a stat() of any other could hang on a stalled network or FUSE
// file. The scan runs on a thread of its own and is given up after deadline; whatever it
// still waits on then cannot hold the caller. procRoot is "/proc" but in tests.
HolderScan FindProcessesHolding(const std::string& path, const std::string& procRoot = "/proc",
                                std::chrono::milliseconds deadline = kHolderScanDeadline);

}  // namespace platform
