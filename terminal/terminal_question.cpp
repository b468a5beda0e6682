#include "terminal/terminal_question.h"

#include <cctype>

namespace app {
namespace {

// How long one look at the terminal waits; the events and the stop checks run between.
constexpr int kAnswerPollMs = 50;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

}  // namespace

bool IsYes(std::string_view answer) {
  while (!answer.empty() && IsBlank(answer.front()))
    answer.remove_prefix(1);
  while (!answer.empty() && IsBlank(answer.back()))
    answer.remove_suffix(1);
  std::string word;
  for (char c : answer)
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word == "y" || word == "yes";
}

Confirmation AskAtTerminal(std::ostream& out, const std::string& question, bool yes,
                           const TerminalInput& input, const std::function<bool()>& whileWaiting) {
  if (yes) {
    out << question << " y (--yes)\n";
    out.flush();
    return Confirmation::kYes;
  }
  if (!input) {
    out << question
        << "\n  Not updated: there is no terminal to answer at. Give --yes to update without "
           "the question.\n";
    out.flush();
    return Confirmation::kCannotAsk;
  }
  out << question << ' ';
  out.flush();
  try {
    for (;;) {
      const TypedLine typed = input(kAnswerPollMs);
      if (typed.state == TypedLine::State::kLine) {
        return IsYes(typed.text) ? Confirmation::kYes : Confirmation::kNo;
      }
      if (typed.state == TypedLine::State::kEnd || (whileWaiting && !whileWaiting())) {
        out << '\n';
        return Confirmation::kNo;
      }
    }
  } catch (...) {
    out << '\n';
    throw;
  }
}

}  // namespace app
