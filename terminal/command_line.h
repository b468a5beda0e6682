// The command line of vrq-update, for scripts, tests and factory use: one table of
// options (getopt_long), and the one place where what they ask for becomes a mode.
// Without arguments the program shows its window.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "terminal/exit_status.h"

namespace app {

// What the program does; decided once, from every option given.
enum class Mode {
  kWindow,       // no option: the window, in the mode its settings file says
  kMakerWindow,  // --maker: the window in maker mode
  kHelp,         // --help, -h
  kVersion,      // --version, -V
  kCheck,        // --check [FILE]: the package, without a printer
  kList,         // --list: the printers attached
  kAll,          // --all: every printer attached, one child process each
  kMake,         // --make FILE: the maker, without a window
  kUpdate,       // an update without a window (--package, --device, --headless...)
};

struct CommandLine {
  Mode mode = Mode::kWindow;
  bool yes = false;            // --yes, -y: the update is confirmed beforehand
  bool json = false;           // --json: events and outcome as JSON lines on standard output
  bool verbose = false;        // --verbose: the dialogue on standard error
  bool allowWarnings = false;  // --allow-warnings: the maker takes a package with warnings
  std::optional<std::string> package;    // --package FILE
  std::optional<std::string> make;       // --make FILE
  std::optional<std::string> device;     // --device PRINTER: port path, node or serial
  std::optional<std::string> checkFile;  // --check FILE
  std::string error;                     // set when the command line is not understood

  // The workflow runs with the terminal front end in place of the window.
  bool Headless() const {
    return mode == Mode::kUpdate || mode == Mode::kMake || mode == Mode::kAll;
  }
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText(const std::string& programName);

}  // namespace app
