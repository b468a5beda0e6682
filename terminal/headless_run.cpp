#include "terminal/headless_run.h"

namespace app {

int RunHeadlessOperation(TMainForm& form, const CommandLine& line, JsonEvents* json) {
  const bool make = line.mode == Mode::kMake;
  form.SetMakerMode(make);
  form.RunOperation(make ? line.make.value_or(std::string()) : std::string());
  const int status = ExitStatusOf(form.LastRun());
  if (json != nullptr) json->Outcome(form.LastRun(), status);
  return status;
}

int RefusePrinterChoice(const std::string& problem, std::ostream& err, JsonEvents* json) {
  RunRecord refused;
  refused.refused = true;
  refused.detail = problem;
  err << "vrq-update: " << problem << '\n';
  const int status = ExitStatusOf(refused);
  if (json != nullptr) json->Outcome(refused, status);
  return status;
}

}  // namespace app
