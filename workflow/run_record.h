// What the last operation behind the button did, for whoever reports on it afterwards
// (the exit status, the --json outcome): how it ended, how far it got with the printer,
// and what it worked on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workflow/printer_port_seam.h"
#include "workflow/stop_request.h"

namespace app {

// An item of the package as it was unpacked for the run.
struct ItemSize {
  std::string type;  // "frw", "bootloader", "system", "font"...
  std::string fileName;
  int64_t size = 0;
};

struct PackageFacts {
  // The package as the operator named it: the package file, or the update application
  // that carries it.
  std::string path;
  // Where its bytes lie in path: a linked package's offset and length; the whole file
  // when length is unset.
  int64_t offset = 0;
  std::optional<int64_t> length;
  std::string versionLabel;     // the header's free text, as stored
  std::vector<ItemSize> items;  // in package order; empty until the package was loaded
};

struct RunRecord {
  bool success = false;
  StopCause stopped = StopCause::kNone;
  // The firmware image began to go out: from here on the printer may hold incomplete
  // firmware until the update has run to its end.
  bool flashReached = false;
  // The run could not ask the operator to confirm (no terminal, no --yes): a matter of
  // the command line rather than of the printer.
  bool refused = false;
  // The operator answered no to the question before anything was sent.
  bool declined = false;
  // The box's text, or the line the operator was told instead (a stop's notice, "Not
  // updated."); "" when the operation ended without a word.
  std::string message;
  std::string detail;
  // What is odd about the package, though it loaded: the load's warnings and the
  // trailer's.
  std::vector<std::string> warnings;
  std::optional<PrinterInfo> printer;   // the printer the run opened
  std::optional<PackageFacts> package;  // the package it loaded
  uint64_t startedMs = 0;
  uint64_t endedMs = 0;
  std::optional<uint64_t> flashStartedMs;
};

}  // namespace app
