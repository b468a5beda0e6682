#include "tests/hidlib/client_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace hidtest {

namespace {

// Both ends of a new pipe, close-on-exec; empty when it cannot be made.
bool MakePipe(platform::Descriptor& readEnd, platform::Descriptor& writeEnd) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  readEnd.Reset(ends[0]);
  writeEnd.Reset(ends[1]);
  return true;
}

}  // namespace

ClientProcess::ClientProcess(const std::vector<std::string>& command) {
  // A client that died must fail the test, not end it by SIGPIPE on the next command.
  ::signal(SIGPIPE, SIG_IGN);
  char outputTemplate[] = "/tmp/hidlib-client-output.XXXXXX";
  const platform::Descriptor output(::mkostemp(outputTemplate, O_CLOEXEC));
  if (!output.IsOpen()) return;
  outputPath_ = outputTemplate;
  platform::Descriptor childCommands, childAnswers;
  if (!MakePipe(childCommands, commands_) || !MakePipe(answers_, childAnswers)) return;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, childCommands.Get(), 0);
  posix_spawn_file_actions_adddup2(&actions, output.Get(), 1);
  posix_spawn_file_actions_adddup2(&actions, output.Get(), 2);
  posix_spawn_file_actions_adddup2(&actions, childAnswers.Get(), 3);
  std::vector<char*> argv;
  for (const std::string& word : command)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  if (command.empty() ||
      ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
}

ClientProcess::~ClientProcess() {
  commands_.Reset();  // end of input: the client ends
  Reap();
  if (!outputPath_.empty()) ::unlink(outputPath_.c_str());
}

void ClientProcess::Reap() {
  if (pid_ <= 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
}

void ClientProcess::Send(const std::string& command) {
  const std::string line = command + "\n";
  if (commands_.IsOpen()) static_cast<void>(::write(commands_.Get(), line.data(), line.size()));
}

std::string ClientProcess::Answer() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{answers_.Get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return {};
    char buffer[4096];
    const ssize_t got = ::read(answers_.Get(), buffer, sizeof buffer);
    if (got <= 0) return {};
    pending_.append(buffer, static_cast<size_t>(got));
  }
}

std::string ClientProcess::Call(const std::string& command) {
  Send(command);
  return Answer();
}

long ClientProcess::Number(const std::string& command) {
  const std::string answer = Call(command);
  char* end = nullptr;
  const long value = std::strtol(answer.c_str(), &end, 10);
  return (answer.empty() || *end != '\0') ? -999 : value;
}

void ClientProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string ClientProcess::Output() const {
  std::ifstream in(outputPath_, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace hidtest
