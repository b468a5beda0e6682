// summary.json in the flash folder: per printer, what it took of the host's data, what the
// host's closes dropped and after which command, whether it started the firmware image,
// and how many breaches of the dialogue it saw; and how long COMMAND ran.
#pragma once

#include <string>
#include <vector>

#include "tools/vrq-printer-sim/simulated_printer.h"

namespace sim {

struct SummaryEntry {
  std::string port;
  int64_t rate = 0;
  int violations = 0;
  PrinterSummary summary;
};

// commandSeconds: from COMMAND's start to its end, negative when unknown.
std::string SummaryJson(const std::vector<SummaryEntry>& printers, double commandSeconds);
bool WriteSummary(const std::string& path, const std::vector<SummaryEntry>& printers,
                  double commandSeconds, std::string& error);

}  // namespace sim
