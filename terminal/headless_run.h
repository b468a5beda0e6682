// What a command line without a window runs, and the exit status it ends with.
#pragma once

#include <ostream>
#include <string>

#include "terminal/command_line.h"
#include "terminal/exit_status.h"
#include "terminal/json_events.h"
#include "workflow/Unit_mainform.h"

namespace app {

// Runs the operation the command line names on a created form: --make always makes,
// everything else always updates (the settings file chooses only the window's mode).
// Returns the exit status; json, when given, is told the outcome.
int RunHeadlessOperation(TMainForm& form, const CommandLine& line, JsonEvents* json = nullptr);

// A run that may not start (the printer choice, an option this program does not take):
// says why on err (and to json, as a refused outcome), and returns the exit status, 2.
int RefuseRun(const std::string& reason, std::ostream& err, JsonEvents* json);
// The same for a run that has no printer to choose.
inline int RefusePrinterChoice(const std::string& problem, std::ostream& err, JsonEvents* json) {
  return RefuseRun(problem, err, json);
}

// An update application was given a package file or a package to make (option
// "--package" or "--make"): it updates from its own package only. The reason, naming
// what to run instead; "" when the command line asks for neither.
std::string UpdateApplicationRefusal(const CommandLine& line);

}  // namespace app
