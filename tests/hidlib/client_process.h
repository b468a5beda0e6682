// A child process running hidlib-client: commands go to its standard input, answers come
// back on its descriptor 3, and whatever it writes to standard output or error is kept.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/descriptor.h"

namespace hidtest {

class ClientProcess {
 public:
  explicit ClientProcess(const std::string& program)
      : ClientProcess(std::vector<std::string>{program}) {}
  // Runs command[0] with the arguments that follow (for a client started through setpriv
  // or env, the client is one of them).
  explicit ClientProcess(const std::vector<std::string>& command);
  // Ends the client (end of input, then SIGKILL if it lingers) and reaps it.
  ~ClientProcess();
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Sends one command line; the answer line, or "" when none came within 20 s.
  std::string Call(const std::string& command);
  // Sends a command without waiting; collect its answer with Answer().
  void Send(const std::string& command);
  std::string Answer();
  // Call() read as an integer (-999 when the answer is not one).
  long Number(const std::string& command);

  void Kill();
  // Everything the client wrote to standard output and standard error.
  std::string Output() const;

 private:
  void Reap();

  pid_t pid_ = -1;
  platform::Descriptor commands_;
  platform::Descriptor answers_;
  std::string outputPath_;
  std::string pending_;
};

}  // namespace hidtest
