// What a command line without a window runs, and the exit status it ends with.
#pragma once

#include "app/Unit_mainform.h"
#include "app/command_line.h"

namespace app {

// Runs the operation the command line names on a created form: --make always makes,
// everything else always updates (the settings file chooses only the window's mode).
// Returns the exit status.
int RunHeadlessOperation(TMainForm& form, const CommandLine& line);

// The exit status for how the form's last operation ended.
int ExitStatusOf(const TMainForm& form);

}  // namespace app
