// The command line of vrq-update, for scripts, tests and factory use. Without arguments
// the program shows its window.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

inline constexpr int kExitSuccess = 0;  // "Update Success!", the maker's success, --list
inline constexpr int kExitFailure = 1;  // an error box, or the operator declined
inline constexpr int kExitUsage = 2;    // the command line itself is wrong
inline constexpr int kExitInterrupted = 130;  // stopped by SIGINT
inline constexpr int kExitTerminated = 143;   // stopped by SIGTERM or SIGHUP

struct CommandLine {
  bool maker = false;  // --maker: the window, in maker mode
  bool headless = false;
  bool yes = false;
  bool list = false;
  bool help = false;
  bool version = false;
  std::optional<std::string> package;  // --package FILE
  std::optional<std::string> make;     // --make FILE
  std::string error;                   // set when the command line is not understood
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText(const std::string& programName);

}  // namespace app
