// A host that works /dev/usb/lp0 with plain system calls, step by step, for the tests of
// the simulator's usblp model, and reports what each call gave on standard output, one
// line per step:
//
//   usblp_probe STEP...
//     open | open-blocking    open the node (non-blocking or blocking): "open: ok" or
//                             "open: EBUSY" (the errno's name)
//     open2                   try a second open while the first is held
//     line:TEXT               one write of TEXT and CR LF
//     df:N                    one write of the DF line of an N-byte image
//     data:N                  one write of the image's next N bytes
//     nonblock | block        switch the descriptor's O_NONBLOCK on or off
//     pollout:MS              poll for POLLOUT at most MS ms
//     wait-out                poll for POLLOUT until it comes (at most 10 s)
//     reply                   wait (at most 3 s) for a reply line and report it
//     dup                     keep a second descriptor of the open
//     close-one               close the last descriptor made
//     close                   close every descriptor of the open
//     fork-close              a child process closes its copies and ends
//     sleep:MS
// Writes report "write N: R in T ms" or "write N: EAGAIN in T ms"; polls report the
// events and the time. The image is Pattern(N, 11) (tests/tools/dialogue_host.h). Without
// a "close" step the probe ends holding the node, and the system closes it as it exits.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/dialogue_host.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kNode = "/dev/usb/lp0";

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string ErrnoName(int error) {
  switch (error) {
    case EAGAIN:
      return "EAGAIN";
    case EBUSY:
      return "EBUSY";
    case EIO:
      return "EIO";
    case ENODEV:
      return "ENODEV";
    case ENOENT:
      return "ENOENT";
    case EINTR:
      return "EINTR";
    case EBADF:
      return "EBADF";
    default:
      return std::to_string(error);
  }
}

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string Events(short revents) {
  std::string text;
  if (revents & POLLIN) text += " IN";
  if (revents & POLLOUT) text += " OUT";
  if (revents & POLLERR) text += " ERR";
  if (revents & POLLHUP) text += " HUP";
  return text.empty() ? " none" : text;
}

class Probe {
 public:
  int Run(const std::vector<std::string>& steps) {
    for (const std::string& step : steps) {
      if (!Step(step)) {
        Say("bad step: " + step);
        return 2;
      }
    }
    return 0;
  }

 private:
  bool Step(const std::string& step) {
    size_t colon = step.find(':');
    std::string name = step.substr(0, colon);
    std::string value = colon == std::string::npos ? "" : step.substr(colon + 1);
    long number = std::atol(value.c_str());
    if (name == "open" || name == "open-blocking") return Open(name, name == "open");
    if (name == "open2") return Open(name, true, false);
    if (name == "line") return Write(value + "\r\n");
    if (name == "df") {
      image_ = simtest::Pattern(static_cast<size_t>(number), 11);
      sent_ = 0;
      return Write(simtest::DfLine(image_));
    }
    if (name == "data") {
      size_t end = std::min(image_.size(), sent_ + static_cast<size_t>(number));
      std::string bytes(image_.begin() + sent_, image_.begin() + end);
      long written = WriteReport(bytes);
      if (written > 0) sent_ += static_cast<size_t>(written);
      return true;
    }
    if (name == "nonblock" || name == "block") {
      int flags = fcntl(Fd(), F_GETFL);
      flags = name == "nonblock" ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
      return fcntl(Fd(), F_SETFL, flags) == 0;
    }
    if (name == "pollout") return PollOut(static_cast<int>(number));
    if (name == "wait-out") return PollOut(10000);
    if (name == "reply") return Reply();
    if (name == "dup") {
      fds_.push_back(dup(Fd()));
      return fds_.back() >= 0;
    }
    if (name == "close-one") {
      close(fds_.back());
      fds_.pop_back();
      Say("closed one");
      return true;
    }
    if (name == "close") {
      for (int fd : fds_)
        close(fd);
      fds_.clear();
      Say("closed");
      return true;
    }
    if (name == "fork-close") return ForkClose();
    if (name == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(number));
      return true;
    }
    return false;
  }

  int Fd() const { return fds_.empty() ? -1 : fds_.back(); }

  bool Open(const std::string& name, bool nonblock, bool keep = true) {
    int fd = open(kNode, O_RDWR | O_CLOEXEC | O_NOCTTY | (nonblock ? O_NONBLOCK : 0));
    if (fd < 0) {
      Say(name + ": " + ErrnoName(errno));
      return true;
    }
    Say(name + ": ok");
    if (keep) {
      fds_.push_back(fd);
    } else {
      close(fd);
    }
    return true;
  }

  long WriteReport(const std::string& bytes) {
    auto start = Clock::now();
    ssize_t n = write(Fd(), bytes.data(), bytes.size());
    int error = errno;
    std::string result = n >= 0 ? std::to_string(n) : ErrnoName(error);
    Say("write " + std::to_string(bytes.size()) + ": " + result + " in " +
        std::to_string(MsSince(start)) + " ms");
    return n;
  }

  bool Write(const std::string& bytes) {
    WriteReport(bytes);
    return true;
  }

  bool PollOut(int timeoutMs) {
    auto start = Clock::now();
    pollfd entry{Fd(), POLLOUT, 0};
    int ready = poll(&entry, 1, timeoutMs);
    std::string what = ready < 0    ? " " + ErrnoName(errno)
                       : ready == 0 ? " timeout"
                                    : Events(entry.revents);
    Say("pollout:" + what + " after " + std::to_string(MsSince(start)) + " ms");
    return true;
  }

  bool Reply() {
    auto end = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < end) {
      size_t crlf = pending_.find("\r\n");
      if (crlf != std::string::npos) {
        Say("reply: " + pending_.substr(0, crlf));
        pending_.erase(0, crlf + 2);
        return true;
      }
      pollfd entry{Fd(), POLLIN, 0};
      if (poll(&entry, 1, 10) <= 0 || !(entry.revents & POLLIN)) continue;
      char buffer[256];
      ssize_t n = read(Fd(), buffer, sizeof buffer);
      if (n > 0) pending_.append(buffer, static_cast<size_t>(n));
    }
    Say("reply: (none)");
    return true;
  }

  bool ForkClose() {
    pid_t child = fork();
    if (child == 0) {
      for (int fd : fds_)
        close(fd);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Say("child closed");
    return true;
  }

  std::vector<int> fds_;
  std::vector<uint8_t> image_;
  size_t sent_ = 0;
  std::string pending_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> steps(argv + 1, argv + argc);
  return Probe().Run(steps);
}
