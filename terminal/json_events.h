// --json: what a headless run does, as one JSON object per line for scripts. The objects
// follow one schema, kept in docs/outcome.schema.json: every one has "schema" (1),
// "event" ("step", "progress", "outcome" or, after --all, "summary") and "time", the
// seconds since the run began.
//
//   {"schema":1,"event":"step","time":0.412,"status":"Send frw"}
//   {"schema":1,"event":"progress","time":9.1,"status":"Update...","section":"font",
//    "section_percent":40,"run_percent":71,"seconds_left":3.2}
//   {"schema":1,"event":"outcome","time":18.2,"program_version":"1.0.0",
//    "status":"success","exit_status":0,"message":"Update Success!",...}
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "terminal/json_line.h"
#include "workflow/clock.h"
#include "workflow/main_window_ui.h"
#include "workflow/run_record.h"

namespace app {

// The schema every JSON object names in "schema".
inline constexpr int kJsonSchema = 1;

// This program's version, as "program_version" names it.
const char* ProgramVersion();

// How a run ended, as the outcome's "status" says it: "success"; "failed" (nothing reached
// the printer's flash) or "failed_after_image" (it did: the update must run again);
// "stopped" or "stopped_after_image" likewise; "declined" (the operator said no);
// "refused" (the run could not start: the command line, the printer choice, nobody to
// confirm).
std::string OutcomeStatus(const RunRecord& run);

// The SHA-256 of the package as the operator named it (a linked package's own bytes
// within its update application), 64 hex digits; "" when it cannot be read.
std::string PackageSha256(const PackageFacts& package);

// The outcome object of a run that ended with exitStatus, timeMs after it began: status,
// exit status, the message the operator was told (never empty) and its detail, the
// package's warnings, the printer, the package (path, SHA-256, version label, items) and
// the durations.
Json OutcomeJson(const RunRecord& run, int exitStatus, uint64_t timeMs);

class JsonEvents {
 public:
  // Progress events come at most this often.
  static constexpr uint64_t kProgressIntervalMs = 100;

  JsonEvents(std::ostream& out, Clock& clock);

  // A status text: the step the run has reached, or what the printer said.
  void Step(const std::string& status);
  // Dropped when the last progress event is less than kProgressIntervalMs old.
  void Progress(const std::string& status, const ProgressFigures& figures);
  // How the run ended (OutcomeJson); the members of extra, an object, come last.
  void Outcome(const RunRecord& run, int exitStatus, const Json& extra = Json::object());
  // Any other object of the schema, as it is.
  void Write(const Json& object);
  uint64_t SinceStartMs();

 private:
  std::ostream& out_;
  Clock& clock_;
  uint64_t startMs_;
  bool progressSent_ = false;
  uint64_t lastProgressMs_ = 0;
};

}  // namespace app
