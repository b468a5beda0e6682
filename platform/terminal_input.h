// Lines typed by the operator at the terminal on standard input, read without blocking
// the program for longer than asked, so that its timer and events go on meanwhile.
#pragma once

#include <string>

namespace platform {

// True when standard input is a terminal (someone can type an answer there).
bool StandardInputIsTerminal();

class TerminalLineReader {
 public:
  enum class Result { kLine, kNothingYet, kEnd };

  // Waits up to timeoutMs for a whole line on standard input; kLine puts it, without its
  // line break, into line. kEnd: end of input or an error. A signal ends the wait early
  // with kNothingYet.
  Result Poll(int timeoutMs, std::string& line);

 private:
  std::string pending_;
};

}  // namespace platform
