#include "tools/fwp-tool/fwp_tool.h"

namespace fwptool {
namespace {

constexpr const char* kHelp = R"(usage: fwp-tool COMMAND ...

Makes, lists and extracts VRQPrinter update packages (.fwp).

  fwp-tool build [OPTIONS] OUTPUT     write a package from a manifest and/or --item options
  fwp-tool list PACKAGE               print the header and every record; extracts nothing
  fwp-tool extract [-v] PACKAGE DIR   extract with the updater's own reader into DIR
                                      (created when missing); one line per item:
                                      STATUS TYPE FILENAME (-v adds mode, commands, times)
  fwp-tool pack FILE OUTPUT           write FILE as packed item data (reserved word, U,
                                      window-codec stream), for codec tests
  fwp-tool --help | --version

Exit status: 0 success; 1 the package is damaged or could not be read or written
(extract: the updater's reader did not read the whole package); 2 command-line error.

build options:
  -m, --manifest FILE       read items and header values from FILE (see below)
  --item TYPE:FILE[:MODE[:COMMANDS]]
                            add an item (repeatable; after the manifest's items);
                            COMMANDS may hold colons and the escapes below
  --printer NAME            printer family (default "VRQPrinter", at most 32 bytes)
  --kind KIND               package kind (default "Update", at most 1024 bytes)
  --version-label TEXT      free version text (at most 512 bytes)
  --packed | --stored       pack the items with the window codec, or store them (default)
  --pack-mode N             write the raw pack mode byte N (-128..127); items are packed
                            only for 1, written as they are for any other value
test options (they write damaged packages on purpose):
  --magic TEXT              header magic instead of "OP FILE 1.00"
  --unsafe-names            allow item names with "/" or "..", or empty names
  --no-end-marker           leave out the four zero bytes behind the last record
  --truncate N              cut the finished file to N bytes
  --patch OFFSET:HEX        overwrite bytes at OFFSET (decimal or 0x..) with HEX pairs
                            (repeatable; applied before --truncate)

Manifest: a text file of KEY = VALUE lines; '#' or ';' starts a comment line. Keys
before the first [item] line (or under [package]) set the header; every [item] line
starts an item. Command-line options win over the manifest's header keys.
  printer = NAME            kind = KIND            version = TEXT
  pack = packed | stored | N
  [item]
  type = frw                item type (required)
  file = frw.bin            the item's data (required); relative to the manifest's folder
  name = frw.bin            FileName in the package (default: base name of file)
  mode = 1                  Mode text
  commands = CONNECT        Commands text; "commands += TEXT" adds a line (joined with
  commands += START FRW     CR LF), so this item's Commands is "CONNECT\r\nSTART FRW"
  ctime = 2024-05-01T12:00:00Z   creation time
  atime = 2024-05-01T12:00:00Z   last access time
  mtime = 133589000000000000     last write time
Text values may be put in double quotes (keeps blanks at the ends) and may use the
escapes \r \n \t \0 \\ \" \xHH. Times are UTC dates YYYY-MM-DD[THH:MM:SS[.fffffff]][Z]
or plain counts of 100 ns since 1601-01-01; by default atime and mtime are those of
the item's file and ctime is its last write time (Linux keeps no creation time).
)";

constexpr const char* kVersion = "fwp-tool 1.0.0";

}  // namespace

int UsageError(std::ostream& err, const std::string& message) {
  err << "fwp-tool: " << message << "\n(see fwp-tool --help)\n";
  return kExitUsage;
}

bool TakeOption(const std::vector<std::string>& args, size_t& i, const std::string& name,
                std::string& value, bool& missing) {
  const std::string& arg = args[i];
  if (arg.rfind(name + "=", 0) == 0) {
    value = arg.substr(name.size() + 1);
    return true;
  }
  if (arg != name) return false;
  if (i + 1 >= args.size()) {
    missing = true;
    return true;
  }
  value = args[++i];
  return true;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return UsageError(err, "no command given");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    out << kHelp;
    return kExitOk;
  }
  if (command == "--version") {
    out << kVersion << "\n";
    return kExitOk;
  }
  if (command == "build") return RunBuild(rest, out, err);
  if (command == "list") return RunList(rest, out, err);
  if (command == "extract") return RunExtract(rest, out, err);
  if (command == "pack") return RunPack(rest, out, err);
  return UsageError(err, "unknown command \"" + command + "\"");
}

}  // namespace fwptool
