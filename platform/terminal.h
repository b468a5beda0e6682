// What the terminal front end needs to know about where its output goes.
#pragma once

namespace platform {

// True when standard error is a terminal.
bool StandardErrorIsTerminal();

// True when lines on standard error may be redrawn in place with escape sequences: it is
// a terminal, TERM names one that is not "dumb", and NO_COLOR is not set (non-empty).
// Otherwise output is written as plain lines, as for a log.
bool StandardErrorRedraws();

// The width of the terminal on standard error, in columns: read at construction
// (TIOCGWINSZ) and again after each SIGWINCH, which it catches while it lives. One at a
// time in a process.
class TerminalWidth {
 public:
  TerminalWidth();
  // Gives SIGWINCH its previous action back.
  ~TerminalWidth();
  TerminalWidth(const TerminalWidth&) = delete;
  TerminalWidth& operator=(const TerminalWidth&) = delete;

  // The columns now; 0 when unknown (no terminal, or one that gives no size).
  int Columns();

 private:
  int columns_ = 0;
};

}  // namespace platform
