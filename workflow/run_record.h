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
  std::string versionLabel;     // the header's free text, as stored
  std::vector<ItemSize> items;  // in package order
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
  std::string message;  // the box's text, "" when the operation ended without a box
  std::string detail;
  std::optional<PrinterInfo> printer;   // the printer the run opened
  std::optional<PackageFacts> package;  // the package it loaded
  uint64_t startedMs = 0;
  uint64_t endedMs = 0;
  std::optional<uint64_t> flashStartedMs;
};

}  // namespace app
