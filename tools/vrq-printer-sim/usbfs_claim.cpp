#include "tools/vrq-printer-sim/usbfs_claim.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/descriptor.h"
#include "tools/vrq-printer-sim/signal_relay.h"

extern char** environ;

namespace sim {

namespace {

// The program that does the holding: sleep, which waits for ever with nothing to do.
std::string FindSleep() {
  for (const char* path : {"/usr/bin/sleep", "/bin/sleep"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return std::string();
}

// The environment without the preloads: the holder needs no emulated devices.
std::vector<char*> PlainEnvironment() {
  std::vector<char*> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "LD_PRELOAD=", 11) != 0) env.push_back(*entry);
  }
  env.push_back(nullptr);
  return env;
}

}  // namespace

bool UsbfsClaim::Start(const std::string& program, const std::string& node,
                       const std::string& folder, std::string& error) {
  std::string sleep = FindSleep();
  if (sleep.empty()) {
    error = "cannot find sleep to play " + program;
    return false;
  }
  // The process's name in /proc is that of the file it runs: a link named program.
  mkdir(folder.c_str(), 0755);
  std::string link = folder + "/" + program;
  unlink(link.c_str());
  if (symlink(sleep.c_str(), link.c_str()) != 0) {
    error = "cannot make " + link + ": " + std::strerror(errno);
    return false;
  }
  platform::Descriptor held(open(node.c_str(), O_RDWR));
  if (!held.IsOpen()) {
    error = "cannot open " + node + ": " + std::strerror(errno);
    return false;
  }
  std::vector<char*> env = PlainEnvironment();
  std::string name = program;
  std::string forever = "infinity";
  char* argv[] = {name.data(), forever.data(), nullptr};
  pid_t pid = fork();
  if (pid < 0) {
    error = std::string("cannot start ") + program + ": " + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    ResetSignalsForCommand();
    execve(link.c_str(), argv, env.data());
    _exit(127);
  }
  pid_ = pid;
  return true;
}

UsbfsClaim::~UsbfsClaim() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

}  // namespace sim
