// Child processes of this program, each in a session of its own, with standard input
// from /dev/null and standard output and error read through pipes, line by line,
// without blocking.
//
// A child writes a printer: nothing but this program's own request may stop it. In a
// session of its own it has no controlling terminal, so the terminal's Ctrl-C and
// hang-up reach only this program, which passes them on as its stop rules say; and when
// this program dies (kill -9, a crash), the child goes on to its end, its writes to the
// pipes failing with EPIPE, which it ignores. SIGPIPE is at its default in the child, as
// a program expects it; this program ignores it itself.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/descriptor.h"

namespace platform {

class ChildProcesses {
 public:
  struct Event {
    enum class Kind { kOutputLine, kErrorLine, kExited };
    size_t child = 0;  // the index Start returned
    Kind kind = Kind::kExited;
    std::string text;  // a line without its line break
    int status = 0;    // kExited: the exit status, or 128 + the signal that ended it
  };

  ChildProcesses() = default;
  // Children still running are sent SIGTERM and waited for.
  ~ChildProcesses();
  ChildProcesses(const ChildProcesses&) = delete;
  ChildProcesses& operator=(const ChildProcesses&) = delete;

  // Starts program with args (argv[0] is program). The child's index, or -1 with the
  // reason in error.
  int Start(const std::string& program, const std::vector<std::string>& args, std::string& error);
  // Waits up to timeoutMs (negative: without limit) for lines or exits; what came. A
  // signal ends the wait early.
  std::vector<Event> Poll(int timeoutMs);
  // True once every child started has exited and its exit was reported.
  bool AllExited() const;
  // Sends SIGINT, or SIGTERM, to every child that has not exited.
  void InterruptAll();
  void TerminateAll();

 private:
  void SignalAll(int sig);
  struct Child {
    pid_t pid = -1;
    Descriptor out, err;  // the read ends of its output pipes; empty once at the end
    std::string outPending, errPending;
    bool exited = false;
  };
  void ReadFrom(size_t index, Descriptor& pipe, std::string& pending, Event::Kind kind,
                std::vector<Event>& events);
  void Reap(size_t index, bool block, std::vector<Event>& events);

  std::vector<Child> children_;
};

}  // namespace platform
