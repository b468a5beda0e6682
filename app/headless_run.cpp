#include "app/headless_run.h"

namespace app {

int RunHeadlessOperation(TMainForm& form, const CommandLine& line) {
  form.SetMakerMode(line.make.has_value());
  form.RunOperation(line.make.value_or(std::string()));
  return ExitStatusOf(form);
}

int ExitStatusOf(const TMainForm& form) {
  switch (form.LastRunStopped()) {
    case StopCause::kInterrupt:
      return kExitInterrupted;
    case StopCause::kTermination:
      return kExitTerminated;
    case StopCause::kWindowClosed:
    case StopCause::kNone:
      break;
  }
  return form.LastRunSucceeded() ? kExitSuccess : kExitFailure;
}

}  // namespace app
