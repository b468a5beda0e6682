// SIGINT, SIGTERM and SIGHUP turned into counts that the program looks at when it can:
// a run that is writing a printer must not die half way, and one that is not must still
// clean up before it goes. The handlers only count (an atomic add, safe in a handler);
// interrupted system calls are restarted.
#pragma once

namespace platform {

class StopSignals {
 public:
  // Catches the three signals for as long as it lives; one at a time in a process.
  StopSignals();
  // Gives the signals their previous actions back.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Signals caught since construction.
  int Interrupts() const;    // SIGINT
  int Terminations() const;  // SIGTERM and SIGHUP
};

}  // namespace platform
