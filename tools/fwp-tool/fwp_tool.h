// fwp-tool: makes, lists, checks and extracts update packages. The commands run in-process so
// that tests can drive them; main() only hands over argv and the standard streams.
#pragma once

#include <ostream>
#include <string>
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
// "--help" or "-h": every command answers them with its own help.
bool AsksForHelp(const std::string& arg);
// Prints the help of command ("" for the whole tool); returns kExitOk.
int ShowHelp(const std::string& command, std::ostream& out);

// Takes the value of an option given as "--name VALUE" or "--name=VALUE" at args[i].
// Returns false when args[i] is not that option; sets missing when it has no value.
bool TakeOption(const std::vector<std::string>& args, size_t& i, const std::string& name,
                std::string& value, bool& missing);

}  // namespace fwptool
