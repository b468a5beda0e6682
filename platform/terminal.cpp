#include "platform/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

std::atomic<bool> resized{false};
static_assert(std::atomic<bool>::is_always_lock_free);
struct sigaction previousResize {};

void NoteResize(int) {
  resized.store(true, std::memory_order_relaxed);
}

int ReadColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

bool StandardErrorRedraws() {
  const char* term = std::getenv("TERM");
  const char* noColor = std::getenv("NO_COLOR");
  return StandardErrorIsTerminal() && term != nullptr && *term != '\0' &&
         std::strcmp(term, "dumb") != 0 && (noColor == nullptr || *noColor == '\0');
}

TerminalWidth::TerminalWidth() {
  struct sigaction action {};
  action.sa_handler = NoteResize;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGWINCH, &action, &previousResize);
  resized = false;
  columns_ = ReadColumns();
}

TerminalWidth::~TerminalWidth() {
  sigaction(SIGWINCH, &previousResize, nullptr);
}

int TerminalWidth::Columns() {
  if (resized.exchange(false, std::memory_order_relaxed)) columns_ = ReadColumns();
  return columns_;
}

}  // namespace platform
