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

ClientProcess::ClientProcess(const std::vector<std::string>& command) {
  // A client that died must fail the test, not end it by SIGPIPE on the next command.
  ::signal(SIGPIPE, SIG_IGN);
  char outputTemplate[] = "/tmp/hidlib-client-output.XXXXXX";
  const int output = ::mkostemp(outputTemplate, O_CLOEXEC);
  int toChild[2], fromChild[2];
  if (output < 0 || ::pipe2(toChild, O_CLOEXEC) != 0) return;
  if (::pipe2(fromChild, O_CLOEXEC) != 0) return;
  outputPath_ = outputTemplate;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output, 1);
  posix_spawn_file_actions_adddup2(&actions, output, 2);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 3);
  std::vector<char*> argv;
  for (const std::string& word : command)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  if (command.empty() ||
      ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  ::close(output);
  commands_ = toChild[1];
  answers_ = fromChild[0];
}

ClientProcess::~ClientProcess() {
  if (commands_ >= 0) ::close(commands_);
  commands_ = -1;
  Reap();
  if (answers_ >= 0) ::close(answers_);
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
  if (commands_ >= 0) static_cast<void>(::write(commands_, line.data(), line.size()));
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
    pollfd ready{answers_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return {};
    char buffer[4096];
    const ssize_t got = ::read(answers_, buffer, sizeof buffer);
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
