// Standard output and error that nobody needs to read for a run to go on.
//
// A program that writes a printer must not end, or end differently, because the reader
// of what it says went away: a pipe closed (`| head`, a `| tee` killed by the terminal's
// Ctrl-C), a full disk under a log file, a terminal that closed. SIGPIPE is ignored, so a
// write to a closed pipe fails with EPIPE instead of killing the process, and the
// streams below drop what cannot be written and try again with the next line, where the
// standard ones would set badbit and stay silent for good.
//
//   int main() {
//     platform::IgnoreBrokenPipes();                // first, before anything is written
//     platform::SteadyStandardStreams streams;      // std::cout and std::cerr from now on
//     ...
//   }
#pragma once

#include <cstddef>
#include <streambuf>

namespace platform {

// SIGPIPE ignored from now on: a write to a pipe or socket nobody reads fails with EPIPE.
// Children started later get its default back (platform::ChildProcesses sees to it).
void IgnoreBrokenPipes();

// A buffer that writes to a descriptor and drops the bytes the descriptor does not take:
// a failed write (EPIPE, ENOSPC, EIO, EAGAIN ...) is never reported to the stream, so the
// stream never turns bad and the next write is tried again.
class SteadyOutput final : public std::streambuf {
 public:
  explicit SteadyOutput(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
  ~SteadyOutput() override { Send(); }
  SteadyOutput(const SteadyOutput&) = delete;
  SteadyOutput& operator=(const SteadyOutput&) = delete;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  void Send();

  int fd_;
  char buffer_[4096];
};

// std::cout (descriptor 1) and std::cerr (descriptor 2) through SteadyOutput for as long
// as it lives; std::cerr stays unbuffered (every output operation is written at once). The
// previous buffers come back, flushed, when it goes. One at a time in a process.
class SteadyStandardStreams {
 public:
  SteadyStandardStreams();
  ~SteadyStandardStreams();
  SteadyStandardStreams(const SteadyStandardStreams&) = delete;
  SteadyStandardStreams& operator=(const SteadyStandardStreams&) = delete;

 private:
  SteadyOutput out_{1};
  SteadyOutput err_{2};
  std::streambuf* previousOut_;
  std::streambuf* previousErr_;
};

}  // namespace platform
