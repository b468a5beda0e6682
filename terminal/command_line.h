// The command line of vrq-update, for scripts, tests and factory use. Without arguments
// the program shows its window.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "terminal/exit_status.h"

namespace app {

struct CommandLine {
  bool maker = false;  // --maker: the window, in maker mode
  bool headless = false;
  bool yes = false;
  bool list = false;
  bool help = false;
  bool version = false;
  bool json = false;     // --json: events and outcome as JSON lines on standard output
  bool verbose = false;  // --verbose: the dialogue on standard error
  bool all = false;      // --all: every printer attached, one child process each
  std::optional<std::string> package;  // --package FILE
  std::optional<std::string> make;     // --make FILE
  std::optional<std::string> device;   // --device PRINTER: port path, node or serial
  bool check = false;                  // --check [FILE]: the package, without a printer
  std::optional<std::string> checkFile;
  std::string error;  // set when the command line is not understood
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText(const std::string& programName);

}  // namespace app
