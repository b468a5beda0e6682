// --all --json: every printer's outcome as its child wrote it, and one summary last.
//
//   {"schema":1,"event":"outcome",...,"printer":{"port_path":"1-1.4",...},...}
//   {"schema":1,"event":"outcome",...,"printer":{"port_path":"1-1.5",...},...}
//   {"schema":1,"event":"summary","time":41.2,"program_version":"1.0.0",
//    "status":"success","exit_status":0,"message":"Update Success!","detail":"",
//    "printers":[{"port_path":"1-1.4","serial":"VRQSIM0001","status":"success",...},...]}
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/all_printers.h"
#include "terminal/json_line.h"
#include "workflow/run_record.h"

namespace app {

// The outcome of a printer whose child could not start or ended without writing one,
// from what this side saw of it: its exit status, the last line it wrote on standard
// error and whether it had begun to send the firmware image. package: the package the
// children were given, as the operator named it.
Json MissingOutcomeJson(const AllPrinters::Job& job, const PackageFacts& package, uint64_t timeMs);

// The summary after every printer's outcome: the highest exit status, and the status of
// the printer that gave it; "Update Success!" when every printer was updated.
Json AllSummaryJson(const std::vector<AllPrinters::Job>& jobs, int exitStatus, uint64_t timeMs);

// The summary of a run that started no child (no printer attached, the question
// declined, refused or stopped): run's status, message and detail, and no printers.
Json AllSummaryJson(const RunRecord& run, int exitStatus, uint64_t timeMs);

}  // namespace app
