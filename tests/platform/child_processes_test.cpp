// Children for --all: each in a session of its own, with SIGPIPE at its default although
// this program ignores it, and still running when the program that started them is gone.
#include "platform/child_processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/standard_streams.h"

namespace {

std::vector<std::string> LinesOf(platform::ChildProcesses& children) {
  std::vector<std::string> lines;
  for (int i = 0; i < 500 && !children.AllExited(); ++i) {
    for (const auto& event : children.Poll(100)) {
      if (event.kind == platform::ChildProcesses::Event::Kind::kOutputLine)
        lines.push_back(event.text);
    }
  }
  return lines;
}

TEST(ChildProcessesTest, AChildLeadsASessionOfItsOwnWithSigpipeAtItsDefault) {
  platform::IgnoreBrokenPipes();
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  platform::ChildProcesses children;
  std::string error;
  // The shell's own pid, session and process group, and its ignored signals.
  ASSERT_EQ(children.Start("/bin/sh",
                           {"-c",
                            "echo $$; cut -d' ' -f5,6 /proc/$$/stat; "
                            "grep -E '^Sig(Ign|Blk)' /proc/$$/status"},
                           error),
            0)
      << error;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  const std::vector<std::string> lines = LinesOf(children);
  ASSERT_EQ(lines.size(), 4u);
  const std::string pid = lines[0];
  EXPECT_EQ(lines[1], pid + " " + pid) << "process group and session";
  EXPECT_NE(std::to_string(getsid(0)), pid);
  // SIGPIPE is signal 13: bit 12 of the masks, the fourth hex digit from the right.
  for (const std::string& mask : {lines[2], lines[3]}) {
    const std::string hex = mask.substr(mask.find_last_of("\t ") + 1);
    EXPECT_EQ(std::stoull(hex, nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u) << mask;
  }
  // Nor is a signal the parent blocked while it started the child blocked in it.
  const std::string blockedMask = lines[3].substr(lines[3].find_last_of("\t ") + 1);
  EXPECT_EQ(std::stoull(blockedMask, nullptr, 16) & (1ull << (SIGINT - 1)), 0u) << lines[3];
}

// The parent dies: the child, whose pipes nobody reads any more, runs to its end.
TEST(ChildProcessesTest, AChildOutlivesTheProgramThatStartedIt) {
  char folder[] = "/tmp/child-processes-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string done = std::string(folder) + "/done";
  const pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    platform::IgnoreBrokenPipes();
    platform::ChildProcesses children;
    std::string error;
    if (children.Start("/bin/sh", {"-c", "trap '' PIPE; sleep 0.5; echo gone; touch " + done},
                       error) != 0)
      _exit(1);
    _exit(0);  // without the destructor: as kill -9 would
  }
  int status = 0;
  waitpid(parent, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  bool finished = false;
  for (int i = 0; i < 50 && !finished; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    finished = access(done.c_str(), F_OK) == 0;
  }
  EXPECT_TRUE(finished);
  unlink(done.c_str());
  rmdir(folder);
}

}  // namespace
