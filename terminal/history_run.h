// The update history on the command line: --history shows it, --skip-updated leaves out
// a printer whose newest update was with the package of this run.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "history/history.h"
#include "workflow/printer_port_seam.h"
#include "workflow/run_record.h"
#include "workflow/update_history.h"

namespace app {

// --history: the records read, newest first, as a table (time, serial, USB port, package
// file, version, status) or with json as one JSON array of records; a warning on err
// for every damaged line or file that could not be read. Returns the exit status: 0, an
// empty history too.
int ShowHistory(const history::ReadOutcome& read, bool json, std::ostream& out, std::ostream& err);

// What --skip-updated found for one printer before it is opened.
struct SkipCheck {
  // The printer's newest update was a success with a package of this SHA-256: nothing is
  // written to it, and run is the outcome to report ("unchanged", exit status 0).
  bool unchanged = false;
  RunRecord run;
  // A line for the operator when the printer is updated for a reason worth telling
  // (it has no serial number); "" otherwise.
  std::string note;
  std::vector<std::string> warnings;  // what could not be read of the history
};

inline constexpr char kAlreadyUpdated[] = "Already updated with this package.";
inline constexpr char kNoSerialSoUpdated[] = "the printer has no serial number, so it is updated";

// package: the package as the operator named it, sha256 its SHA-256 ("" when it cannot
// be read: the printer is updated, and the update says why the package cannot be read).
SkipCheck CheckSkipUpdated(const PrinterInfo& printer, const PackageFacts& package,
                           const std::string& sha256, UpdateHistory& history);

}  // namespace app
