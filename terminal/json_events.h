// --json: what a headless run does, as one JSON object per line for scripts. Every
// object has "event" ("step", "progress" or "outcome") and "time", the seconds since
// the run began.
//
//   {"event":"step","time":0.412,"status":"Send frw"}
//   {"event":"progress","time":9.1,"status":"Update...","section":"font",
//    "section_percent":40,"run_percent":71,"seconds_left":3.2}
//   {"event":"outcome","time":18.2,"status":"success","exit_status":0,...}
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "terminal/json_line.h"
#include "workflow/clock.h"
#include "workflow/main_window_ui.h"
#include "workflow/run_record.h"

namespace app {

class JsonEvents {
 public:
  // Progress events come at most this often.
  static constexpr uint64_t kProgressIntervalMs = 100;

  JsonEvents(std::ostream& out, Clock& clock);

  // A status text: the step the run has reached, or what the printer said.
  void Step(const std::string& status);
  // Dropped when the last progress event is less than kProgressIntervalMs old.
  void Progress(const std::string& status, const ProgressFigures& figures);
  // How the run ended: status "success", "failed" (nothing reached the printer's flash),
  // "incomplete" (it did: the update must run again), "declined", "refused" (nobody
  // could be asked) or "stopped"; the exit status; the box's text and detail; the
  // printer; the package's version and items; the durations.
  void Outcome(const RunRecord& run, int exitStatus);

 private:
  void Write(const Json& event);
  uint64_t SinceStartMs();

  std::ostream& out_;
  Clock& clock_;
  uint64_t startMs_;
  bool progressSent_ = false;
  uint64_t lastProgressMs_ = 0;
};

}  // namespace app
