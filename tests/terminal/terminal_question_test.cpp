// The yes/no question at the terminal, the same for one printer and for --all.
#include "terminal/terminal_question.h"

#include <gtest/gtest.h>

#include <sstream>

namespace apptest {
namespace {

using app::Confirmation;
using app::TypedLine;

TEST(TerminalQuestionTest, YesInAnyCaseWithBlanksAroundIt) {
  for (const char* yes : {"y", "Y", "yes", "YES", " y", "y ", "\tYes\r", "  yes  "})
    EXPECT_TRUE(app::IsYes(yes)) << yes;
  for (const char* no : {"", " ", "n", "no", "yess", "y y", "ye", "oui"})
    EXPECT_FALSE(app::IsYes(no)) << no;
}

app::TerminalInput Typed(std::string text) {
  return [text](int) { return TypedLine{TypedLine::State::kLine, text}; };
}

// " y" used to update one printer and decline --all; both take it as yes now.
TEST(TerminalQuestionTest, TheAnswerCountsTheSameEverywhere) {
  std::ostringstream out;
  EXPECT_EQ(app::AskAtTerminal(out, "Update all 2 printers? [y/N]", false, Typed(" y"), {}),
            Confirmation::kYes);
  EXPECT_EQ(app::AskAtTerminal(out, "Update this printer? [y/N]", false, Typed(" y"), {}),
            Confirmation::kYes);
  EXPECT_EQ(out.str(), "Update all 2 printers? [y/N] Update this printer? [y/N] ");
}

TEST(TerminalQuestionTest, TheWaitGoesOnUntilAnAnswerTheEndOrAStop) {
  std::ostringstream out;
  int looks = 0;
  const app::TerminalInput nothing = [&](int) {
    ++looks;
    return TypedLine{TypedLine::State::kNothingYet, {}};
  };
  int waits = 0;
  EXPECT_EQ(app::AskAtTerminal(out, "Q? [y/N]", false, nothing, [&] { return ++waits < 3; }),
            Confirmation::kNo);
  EXPECT_EQ(looks, 3);
  EXPECT_EQ(out.str(), "Q? [y/N] \n");
  out.str("");
  EXPECT_EQ(app::AskAtTerminal(out, "Q? [y/N]", false,
                               [](int) {
                                 return TypedLine{TypedLine::State::kEnd, {}};
                               },
                               {}),
            Confirmation::kNo);
  EXPECT_EQ(out.str(), "Q? [y/N] \n");
}

}  // namespace
}  // namespace apptest
