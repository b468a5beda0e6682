// The simulator between the signals and COMMAND, as a shell would be: COMMAND starts with
// every signal at its default and none blocked, whatever the simulator inherited; the
// signals the terminal sends to the foreground group (Ctrl-C, Ctrl-\, a hang-up) reach
// COMMAND by themselves, since it stays in that group; and a signal another process sends
// to the simulator is passed on to COMMAND, once for each time it came. The simulator
// never stops COMMAND by a signal of its own.
#pragma once

#include <sys/types.h>

namespace sim {

// Catches SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1 and SIGUSR2 in the simulator.
void InstallSignalRelay();
// Sends child each signal that another process sent the simulator since the last call.
void RelaySignals(pid_t child);
// In COMMAND's process before it runs: every signal at its default action, the signal
// mask empty.
void ResetSignalsForCommand();

}  // namespace sim
