#include "tools/fwp-tool/fwp_tool.h"

#ifndef VRQ_VERSION
#define VRQ_VERSION "0"
#endif

namespace fwptool {
namespace {

constexpr const char* kOverview = R"(Usage: fwp-tool COMMAND ...

Makes, lists, checks and extracts VRQPrinter update packages (.fwp). list, verify and
extract also take an update application (a copy of vrq-update with a package linked to
its end, as its maker makes them) and work on its package.

  fwp-tool build [OPTIONS] OUTPUT     write a package from a manifest and/or --item options
  fwp-tool list FILE                  print the header and every record; extracts nothing
  fwp-tool verify FILE                check everything the updater will check, without a
                                      printer: one line per finding
  fwp-tool extract [-v] FILE DIR      extract with the updater's own reader into DIR
  fwp-tool pack FILE OUTPUT           write FILE as packed item data, for codec tests
  fwp-tool --help | --version         COMMAND --help shows a command's own help

Exit status: 0 success; 1 the file is damaged or refused, or could not be read or
written; 2 a wrong command line.
)";

constexpr const char* kBuildHelp = R"(Usage: fwp-tool build [OPTIONS] OUTPUT

Writes a package from a manifest and/or --item options. Items must be of the types the
updater knows (frw, bootloader, system, font) and there must be at least one, unless
--allow-any is given.

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
test options (they write packages the updater refuses, on purpose):
  --allow-any               allow item types the updater does not know, and no items
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

constexpr const char* kListHelp = R"(Usage: fwp-tool list FILE

Prints the header fields and every record of a package, or of the package linked to an
update application together with the state of its trailer's checksums of the package
and of the program part (none, good or bad). Extracts nothing. Exit status 1 when the
package or the application is damaged.
)";

constexpr const char* kVerifyHelp = R"(Usage: fwp-tool verify FILE

Checks a package, or an update application and its linked package, completely and
without a printer: the trailer and its checksums of the package and of the program
part, the header (an update for "VRQPrinter"), every record, every item decoded, the
item names and the sizes. Prints one line per finding:
  damaged: ...    the updater would not load the package whole, or the update
                  application is damaged and must be fetched again
  refused: ...    a sound package the updater refuses (another printer or kind,
                  larger than 1 GiB)
  warning: ...    works, but deserves a look (a packed stream that ends early and
                  leaves zeros, no end marker behind the last record, no "frw" item,
                  a damaged checksum mark in the trailer)
and a last line FILE: good or FILE: damaged.
Exit status: 0 good (warnings allowed), 1 damaged, refused or unreadable, 2 usage.
)";

constexpr const char* kExtractHelp = R"(Usage: fwp-tool extract [-v] FILE DIR

Extracts a package, or the package linked to an update application, with the updater's
own reader into DIR (created when missing). Prints one line per item:
  BYTES TYPE FILENAME     BYTES: the bytes written to the item's file, -1 when it
                          could not be written
  -v, --verbose           also each item's mode, commands and times
Exit status 0 when the whole package was read, 1 when not (or when an update
application is damaged, its trailer or a checksum: nothing is extracted then).
)";

constexpr const char* kPackHelp = R"(Usage: fwp-tool pack FILE OUTPUT

Writes FILE as packed item data (reserved word, U, window-codec stream), for codec tests.
)";

}  // namespace

int UsageError(std::ostream& err, const std::string& message) {
  err << "fwp-tool: " << message << "\nTry 'fwp-tool --help' for more information.\n";
  return kExitUsage;
}

bool AsksForHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

int ShowHelp(const std::string& command, std::ostream& out) {
  if (command == "build") {
    out << kBuildHelp;
  } else if (command == "list") {
    out << kListHelp;
  } else if (command == "verify") {
    out << kVerifyHelp;
  } else if (command == "extract") {
    out << kExtractHelp;
  } else if (command == "pack") {
    out << kPackHelp;
  } else {
    out << kOverview << "\n" << kBuildHelp;
  }
  return kExitOk;
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
  if (AsksForHelp(command) || command == "help") return ShowHelp("", out);
  if (command == "--version") {
    out << "fwp-tool " << VRQ_VERSION << "\n";
    return kExitOk;
  }
  if (command == "build") return RunBuild(rest, out, err);
  if (command == "list") return RunList(rest, out, err);
  if (command == "verify") return RunVerify(rest, out, err);
  if (command == "extract") return RunExtract(rest, out, err);
  if (command == "pack") return RunPack(rest, out, err);
  return UsageError(err, "unknown command \"" + command + "\"");
}

}  // namespace fwptool
