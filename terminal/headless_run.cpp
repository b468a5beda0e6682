#include "terminal/headless_run.h"

namespace app {
namespace {

// The words of a run that ended without a box of its own.
void SayWhyNothingHappened(RunRecord& run, bool make) {
  if (!run.message.empty() || run.success || run.stopped != StopCause::kNone) return;
  if (run.refused) {
    run.message = "Not updated: there is no terminal to answer at.";
    run.detail = "Give --yes to update without the question.";
    return;
  }
  run.message = kNotUpdated;
  if (run.detail.empty()) {
    run.detail = make ? "no package was given: give --make FILE"
                      : "this program carries no package and none was given: give --package FILE";
  }
}

}  // namespace

int RunHeadlessOperation(TMainForm& form, const CommandLine& line, JsonEvents* json) {
  const bool make = line.mode == Mode::kMake;
  form.SetMakerMode(make);
  form.RunOperation(make ? line.make.value_or(std::string()) : std::string());
  RunRecord run = form.LastRun();
  SayWhyNothingHappened(run, make);
  const int status = ExitStatusOf(run);
  if (json != nullptr) json->Outcome(run, status);
  return status;
}

int RefuseRun(const std::string& reason, std::ostream& err, JsonEvents* json) {
  RunRecord refused;
  refused.refused = true;
  refused.message = reason;
  err << "vrq-update: " << reason << '\n';
  const int status = ExitStatusOf(refused);
  if (json != nullptr) json->Outcome(refused, status);
  return status;
}

std::string UpdateApplicationRefusal(const CommandLine& line) {
  if (line.package) {
    return "this update application updates from its own package; to update from " + *line.package +
           " run vrq-update --package " + *line.package;
  }
  if (line.make) {
    return "this update application updates from its own package; to make an update "
           "application from " +
           *line.make + " run vrq-update --make " + *line.make;
  }
  return {};
}

}  // namespace app
