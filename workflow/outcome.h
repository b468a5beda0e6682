// How the workflow's steps and operations end, with the reason next to the result: the
// operator reads the system's own text in the box and the cause in its detail line.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// One step: done, or why not.
struct StepResult {
  bool ok = true;
  std::string reason;

  static StepResult Done() { return {}; }
  static StepResult Failed(std::string why) { return {false, std::move(why)}; }
  explicit operator bool() const { return ok; }
};

// One operation behind the button, as the operator is told of it.
struct RunOutcome {
  int32_t result = 0;  // the operation's own result (-1 for the early exits it names)
  bool success = false;
  std::string message;  // the box's text; "" when the operation ends without a box
  std::string detail;   // the cause, below the text
  std::string caption = "Error";
  bool onStatusLine = false;  // the status line shows the text too
  // The operator could not be asked to confirm, and nothing answered beforehand.
  bool refused = false;
  // The operator answered no.
  bool declined = false;

  static RunOutcome Quiet(int32_t result) { return {result, false, {}, {}, {}, false, false}; }
  static RunOutcome Error(std::string text, std::string why = {}, int32_t result = 0) {
    return {result, false, std::move(text), std::move(why), "Error", false, false};
  }
  static RunOutcome Success(std::string text, std::string caption) {
    return {0, true, std::move(text), {}, std::move(caption), false, false};
  }
  static RunOutcome Declined() {
    RunOutcome outcome = Quiet(0);
    outcome.declined = true;
    return outcome;
  }
};

}  // namespace app
