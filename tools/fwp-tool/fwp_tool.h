// fwp-tool: makes, lists, checks and extracts update packages. The commands run in-process so
// that tests can drive them; main() only hands over argv and the standard streams.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace fwptool {

enum ExitCode {
  kExitOk = 0,
  kExitFailed = 1,  // the package is damaged, could not be read or written
  kExitUsage = 2,   // the command line is wrong
};

// args excludes the program name.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

int RunBuild(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Reports a command-line mistake and points at --help; returns kExitUsage.
int UsageError(std::ostream& err, const std::string& message);
// Prints the help of command ("" for the whole tool); returns kExitOk.
int ShowHelp(const std::string& command, std::ostream& out);

// Every option of fwp-tool, in one table (fwp_tool.cpp); each command takes some of them.
enum class Option {
  kHelp,  // -h, --help: every command answers it with its own help
  kVersion,
  kManifest,
  kItem,
  kPrinter,
  kKind,
  kVersionLabel,
  kPacked,
  kStored,
  kPackMode,
  kAllowAny,
  kMagic,
  kUnsafeNames,
  kNoEndMarker,
  kTruncate,
  kPatch,
  kVerbose,
};

// A command's arguments: its options in the order given, with their values, and the
// operands.
struct Arguments {
  std::vector<std::pair<Option, std::string>> options;
  std::vector<std::string> operands;

  bool Has(Option option) const;
};

// Reads the arguments of command ("" for the tool itself) with getopt_long over the one
// table: "--name VALUE" or "--name=VALUE", options before or after the operands, "--"
// before operands that begin with "-". nullopt when they are fine; otherwise the exit
// status of the usage error, told on err.
std::optional<int> ReadArguments(const std::string& command, const std::vector<std::string>& args,
                                 Arguments& read, std::ostream& err);

}  // namespace fwptool
