#include "platform/terminal_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool StandardInputIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

TerminalLineReader::Result TerminalLineReader::Poll(int timeoutMs, std::string& line) {
  for (;;) {
    if (const size_t end = pending_.find('\n'); end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return Result::kLine;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return Result::kNothingYet;
    if (ready < 0) return Result::kEnd;
    char buffer[256];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) return Result::kNothingYet;
    if (got <= 0) return Result::kEnd;
    pending_.append(buffer, static_cast<size_t>(got));
    timeoutMs = 0;
  }
}

}  // namespace platform
