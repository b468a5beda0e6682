#include "platform/child_processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/descriptor.h"

extern char** environ;

namespace platform {
namespace {

int StatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return 255;
}

}  // namespace

ChildProcesses::~ChildProcesses() {
  SignalAll(SIGTERM);
  std::vector<Event> ignored;
  for (size_t i = 0; i < children_.size(); ++i) {
    children_[i].out.Reset();
    children_[i].err.Reset();
    Reap(i, true, ignored);
  }
}

int ChildProcesses::Start(const std::string& program, const std::vector<std::string>& args,
                          std::string& error) {
  Pipe out = Pipe::Open();
  Pipe err = out.readEnd.IsOpen() ? Pipe::Open() : Pipe();
  if (!err.readEnd.IsOpen()) {
    error = std::strerror(errno);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.writeEnd.Get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.writeEnd.Get(), STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv)
    pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  // Only the child writes: the pipes end when it does.
  out.writeEnd.Reset();
  err.writeEnd.Reset();
  if (spawned != 0) {
    error = std::strerror(spawned);
    return -1;
  }
  children_.push_back({pid, std::move(out.readEnd), std::move(err.readEnd), {}, {}, false});
  return static_cast<int>(children_.size() - 1);
}

std::vector<ChildProcesses::Event> ChildProcesses::Poll(int timeoutMs) {
  std::vector<pollfd> fds;
  std::vector<std::pair<size_t, bool>> owners;  // child, is standard error
  for (size_t i = 0; i < children_.size(); ++i) {
    if (children_[i].out.IsOpen())
      fds.push_back({children_[i].out.Get(), POLLIN, 0}), owners.push_back({i, false});
    if (children_[i].err.IsOpen())
      fds.push_back({children_[i].err.Get(), POLLIN, 0}), owners.push_back({i, true});
  }
  std::vector<Event> events;
  // With every pipe closed this only waits, for the exits to be looked at again.
  if (poll(fds.data(), fds.size(), timeoutMs) > 0) {
    for (size_t k = 0; k < fds.size(); ++k) {
      if (fds[k].revents == 0) continue;
      Child& child = children_[owners[k].first];
      if (owners[k].second) {
        ReadFrom(owners[k].first, child.err, child.errPending, Event::Kind::kErrorLine, events);
      } else {
        ReadFrom(owners[k].first, child.out, child.outPending, Event::Kind::kOutputLine, events);
      }
    }
  }
  // A child whose pipes are closed is about to exit, or has: it is reaped without
  // waiting, and looked at again on the next poll if it has not yet.
  for (size_t i = 0; i < children_.size(); ++i) {
    if (!children_[i].out.IsOpen() && !children_[i].err.IsOpen()) Reap(i, false, events);
  }
  return events;
}

void ChildProcesses::ReadFrom(size_t index, Descriptor& pipe, std::string& pending,
                              Event::Kind kind, std::vector<Event>& events) {
  char buffer[4096];
  const ssize_t got = RetryOnInterrupt([&] { return read(pipe.Get(), buffer, sizeof buffer); });
  if (got > 0) pending.append(buffer, static_cast<size_t>(got));
  for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
    events.push_back({index, kind, pending.substr(0, end), 0});
    pending.erase(0, end + 1);
  }
  if (got <= 0) {
    if (!pending.empty()) events.push_back({index, kind, pending, 0});
    pending.clear();
    pipe.Reset();
  }
}

void ChildProcesses::Reap(size_t index, bool block, std::vector<Event>& events) {
  Child& child = children_[index];
  if (child.exited || child.pid < 0) return;
  int waitStatus = 0;
  const pid_t done =
      RetryOnInterrupt([&] { return waitpid(child.pid, &waitStatus, block ? 0 : WNOHANG); });
  if (done != child.pid) return;
  child.exited = true;
  events.push_back({index, Event::Kind::kExited, {}, StatusOf(waitStatus)});
}

bool ChildProcesses::AllExited() const {
  for (const Child& child : children_) {
    if (!child.exited) return false;
  }
  return true;
}

void ChildProcesses::InterruptAll() {
  SignalAll(SIGINT);
}

void ChildProcesses::TerminateAll() {
  SignalAll(SIGTERM);
}

void ChildProcesses::SignalAll(int sig) {
  for (const Child& child : children_) {
    if (!child.exited && child.pid > 0) kill(child.pid, sig);
  }
}

}  // namespace platform
