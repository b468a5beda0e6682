// Which processes hold a file open (a printer node another program has), found through
// /proc/PID/fd as fuser does.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct ProcessInfo {
  int pid = 0;
  std::string command;  // /proc/PID/comm: the program's name, at most 15 characters
  std::string argv0;    // the first word of its command line (a CUPS backend puts the
                        // device URI there)
};

struct HolderScan {
  std::vector<ProcessInfo> holders;  // by pid
  // Processes whose descriptors this user may not look at (other users' processes,
  // unless we are root): one of them may hold the file too.
  int unreadable = 0;
};

// Every process with a descriptor on path: one whose link in /proc/PID/fd reads path,
// or, for a device node, reaches the same device. procRoot is "/proc" but in tests.
HolderScan FindProcessesHolding(const std::string& path, const std::string& procRoot = "/proc");

}  // namespace platform
