#include "platform/standard_streams.h"

#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "platform/descriptor.h"

namespace platform {
namespace {

// Writes all of text, or as much as the descriptor takes before it fails; what it does
// not take is dropped.
void WriteWhatIsTaken(int fd, const char* text, size_t size) {
  while (size > 0) {
    const ssize_t n = RetryOnInterrupt([&] { return ::write(fd, text, size); });
    if (n <= 0) return;
    text += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

void IgnoreBrokenPipes() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}

SteadyOutput::int_type SteadyOutput::overflow(int_type c) {
  Send();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize SteadyOutput::xsputn(const char* text, std::streamsize count) {
  if (count >= static_cast<std::streamsize>(sizeof buffer_)) {
    Send();
    WriteWhatIsTaken(fd_, text, static_cast<size_t>(count));
    return count;
  }
  if (count > epptr() - pptr()) Send();
  traits_type::copy(pptr(), text, static_cast<size_t>(count));
  pbump(static_cast<int>(count));
  return count;
}

int SteadyOutput::sync() {
  Send();
  return 0;
}

void SteadyOutput::Send() {
  WriteWhatIsTaken(fd_, pbase(), static_cast<size_t>(pptr() - pbase()));
  setp(buffer_, buffer_ + sizeof buffer_);
}

SteadyStandardStreams::SteadyStandardStreams()
    : previousOut_(std::cout.rdbuf()), previousErr_(std::cerr.rdbuf()) {
  std::cout.flush();
  std::cerr.flush();
  std::cout.rdbuf(&out_);
  std::cerr.rdbuf(&err_);
  std::cout.clear();
  std::cerr.clear();
}

SteadyStandardStreams::~SteadyStandardStreams() {
  std::cout.flush();
  std::cerr.flush();
  std::cout.rdbuf(previousOut_);
  std::cerr.rdbuf(previousErr_);
}

}  // namespace platform
