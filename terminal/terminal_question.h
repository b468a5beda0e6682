// The yes/no question at the operator's terminal, asked before anything is sent to a
// printer: "Update this printer? [y/N]", "Update all 3 printers? [y/N]".
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "workflow/main_window_ui.h"

namespace app {

// What a look at the operator's terminal found.
struct TypedLine {
  enum class State { kLine, kNothingYet, kEnd };
  State state = State::kEnd;
  std::string text;  // kLine: the line, without its line break
};
// Looks for a typed line, waiting up to timeoutMs.
using TerminalInput = std::function<TypedLine(int timeoutMs)>;

// True for "y" or "yes" in any letter case, blanks around it ignored.
bool IsYes(std::string_view answer);

// Asks question on out and takes the answer. yes: --yes answered it beforehand, which the
// line says. Without input nobody can be asked: kCannotAsk, and the line says what to
// do. Otherwise the answer typed decides; the end of the input is a no. whileWaiting
// runs between looks at the input; it returns false to end the question with a no, or
// throws to end the run (the question's line is ended first either way).
Confirmation AskAtTerminal(std::ostream& out, const std::string& question, bool yes,
                           const TerminalInput& input, const std::function<bool()>& whileWaiting);

}  // namespace app
