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

// An update that may not start because no printer can be chosen: says why on err (and
// to json), and returns the exit status.
int RefusePrinterChoice(const std::string& problem, std::ostream& err, JsonEvents* json);

}  // namespace app
