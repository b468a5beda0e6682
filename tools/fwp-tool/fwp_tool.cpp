#include "tools/fwp-tool/fwp_tool.h"

#include <getopt.h>

#ifndef VRQ_VERSION
#define VRQ_VERSION "0"
#endif

namespace fwptool {
namespace {

constexpr const char* kOverview = R"(Usage: fwp-tool COMMAND ...

Makes, lists, checks and extracts VRQPrinter update packages (.fwp). list,
verify and extract also take an update application (a copy of vrq-update with a
package linked to its end, as its maker makes them) and work on its package.

  fwp-tool build [OPTIONS] OUTPUT     write a package from a manifest and/or
                                      --item options
  fwp-tool list FILE                  print the header and every record;
                                      extracts nothing
  fwp-tool verify FILE                check everything the updater will check,
                                      without a printer: one line per finding
  fwp-tool extract [-v] FILE DIR      extract with the updater's own reader
                                      into DIR
  fwp-tool pack FILE OUTPUT           write FILE as packed item data, for codec
                                      tests
  fwp-tool --help | --version         the tool's help (-h) or version (-V);
                                      COMMAND --help shows a command's own help

Exit status: 0 success; 1 the file is damaged or refused, or could not be read
or written; 2 a wrong command line.
)";

constexpr const char* kBuildHelp = R"(Usage: fwp-tool build [OPTIONS] OUTPUT

Writes a package from a manifest and/or --item options. Items must be of the
types the updater knows (frw, bootloader, system, font) and there must be at
least one, unless --allow-any is given.

  -m, --manifest FILE       read items and header values from FILE (see below)
  --item TYPE:FILE[:MODE[:COMMANDS]]
                            add an item (repeatable; after the manifest's
                            items); COMMANDS may hold colons and the escapes
                            below
  --printer NAME            printer family (default "VRQPrinter", at most 32
                            bytes)
  --kind KIND               package kind (default "Update", at most 1024 bytes)
  --version-label TEXT      free version text (at most 512 bytes)
  --packed | --stored       pack the items with the window codec, or store them
                            (default)
  --pack-mode N             write the raw pack mode byte N (-128..127); items
                            are packed only for 1, written as they are for any
                            other value
test options (they write packages the updater refuses, on purpose):
  --allow-any               allow item types the updater does not know, and no
                            items
  --magic TEXT              header magic instead of "OP FILE 1.00"
  --unsafe-names            allow item names with "/" or "..", or empty names
  --no-end-marker           leave out the four zero bytes behind the last
                            record
  --truncate N              cut the finished file to N bytes
  --patch OFFSET:HEX        overwrite bytes at OFFSET (decimal or 0x..) with
                            HEX pairs (repeatable; applied before --truncate)

Manifest: a text file of KEY = VALUE lines; '#' or ';' starts a comment line.
Keys before the first [item] line (or under [package]) set the header; every
[item] line starts an item. Command-line options win over the manifest's header
keys.
  printer = NAME            kind = KIND            version = TEXT
  pack = packed | stored | N
  [item]
  type = frw                item type (required)
  file = frw.bin            the item's data (required); relative to the
                            manifest's folder
  name = frw.bin            FileName in the package (default: base name of
                            file)
  mode = 1                  Mode text
  commands = CONNECT        Commands text; "commands += TEXT" adds a line
  commands += START FRW     (joined with CR LF), so this item's Commands is
                            "CONNECT\r\nSTART FRW"
  ctime = 2024-05-01T12:00:00Z   creation time
  atime = 2024-05-01T12:00:00Z   last access time
  mtime = 133589000000000000     last write time
Text values may be put in double quotes (keeps blanks at the ends) and may use
the escapes \r \n \t \0 \\ \" \xHH. Times are UTC dates
YYYY-MM-DD[THH:MM:SS[.fffffff]][Z] or plain counts of 100 ns since 1601-01-01;
by default atime and mtime are those of the item's file and ctime is its last
write time (Linux keeps no creation time).
)";

constexpr const char* kListHelp = R"(Usage: fwp-tool list FILE

Prints the header fields and every record of a package, or of the package
linked to an update application together with the state of its trailer's
checksums of the package and of the program part (none, good or bad). Extracts
nothing. Exit status 1 when the package or the application is damaged.
)";

constexpr const char* kVerifyHelp = R"(Usage: fwp-tool verify FILE

Checks a package, or an update application and its linked package, completely
and without a printer: the trailer and its checksums of the package and of the
program part, the header (an update for "VRQPrinter"), every record, every item
decoded, the item names and the sizes. Prints one line per finding:
  damaged: ...    the updater would not load the package whole, or the update
                  application is damaged and must be fetched again
  refused: ...    a sound package an update refuses (another printer or kind,
                  larger than 1 GiB, no "frw" item, an empty one or one larger
                  than the printer's loader takes); vrq-update's maker refuses
                  it too
  warning: ...    works, but deserves a look (a packed stream that ends early
                  and leaves zeros, no end marker behind the last record, a
                  damaged checksum mark in the trailer); the maker takes it
                  only with --allow-warnings
and a last line FILE: good, FILE: usable, with warnings (...), FILE: refused
or FILE: damaged.
Exit status: 0 good or usable with warnings, 1 damaged, refused or
unreadable, 2 usage.
)";

constexpr const char* kExtractHelp = R"(Usage: fwp-tool extract [-v] FILE DIR

Extracts a package, or the package linked to an update application, with the
updater's own reader into DIR (created when missing). Prints one line per item:
  BYTES TYPE FILENAME     BYTES: the bytes written to the item's file, -1 when
                          it could not be written
  -v, --verbose           also each item's mode, commands and times
Exit status 0 when the whole package was read, 1 when not (or when an update
application is damaged, its trailer or a checksum: nothing is extracted then).
)";

constexpr const char* kPackHelp = R"(Usage: fwp-tool pack FILE OUTPUT

Writes FILE as packed item data (reserved word, U, window-codec stream), for
codec tests.
)";

}  // namespace

namespace {

struct OptionEntry {
  const char* name;
  char shortName;  // 0: none
  bool takesValue;
  Option option;
  const char* commands;  // the commands that take it, each between blanks; " " is the tool
};

constexpr OptionEntry kOptions[] = {
    {"help", 'h', false, Option::kHelp, "   build list verify extract pack "},
    {"version", 'V', false, Option::kVersion, "  "},
    {"manifest", 'm', true, Option::kManifest, " build "},
    {"item", 0, true, Option::kItem, " build "},
    {"printer", 0, true, Option::kPrinter, " build "},
    {"kind", 0, true, Option::kKind, " build "},
    {"version-label", 0, true, Option::kVersionLabel, " build "},
    {"packed", 0, false, Option::kPacked, " build "},
    {"stored", 0, false, Option::kStored, " build "},
    {"pack-mode", 0, true, Option::kPackMode, " build "},
    {"allow-any", 0, false, Option::kAllowAny, " build "},
    {"magic", 0, true, Option::kMagic, " build "},
    {"unsafe-names", 0, false, Option::kUnsafeNames, " build "},
    {"no-end-marker", 0, false, Option::kNoEndMarker, " build "},
    {"truncate", 0, true, Option::kTruncate, " build "},
    {"patch", 0, true, Option::kPatch, " build "},
    {"verbose", 'v', false, Option::kVerbose, " extract "},
};

bool Takes(const OptionEntry& entry, const std::string& command) {
  return std::string(entry.commands).find(" " + command + " ") != std::string::npos;
}

}  // namespace

int UsageError(std::ostream& err, const std::string& message) {
  err << "fwp-tool: " << message << "\nTry 'fwp-tool --help' for more information.\n";
  return kExitUsage;
}

bool Arguments::Has(Option option) const {
  for (const auto& [given, value] : options) {
    if (given == option) return true;
  }
  return false;
}

std::optional<int> ReadArguments(const std::string& command, const std::vector<std::string>& args,
                                 Arguments& read, std::ostream& err) {
  std::vector<option> table;
  std::string shortNames = ":";  // ':' reports a missing value apart from an unknown option
  for (const OptionEntry& entry : kOptions) {
    table.push_back({entry.name, entry.takesValue ? required_argument : no_argument, nullptr,
                     static_cast<int>(entry.option)});
    if (entry.shortName != 0) {
      shortNames += entry.shortName;
      if (entry.takesValue) shortNames += ':';
    }
  }
  table.push_back({nullptr, 0, nullptr, 0});
  std::vector<std::string> words = {"fwp-tool " + command};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  const std::string what = command.empty() ? "option" : command + " option";
  optind = 0;  // a fresh scan (GNU), also when the tool ran before in this process
  opterr = 0;
  for (int id; (id = getopt_long(static_cast<int>(words.size()), argv.data(), shortNames.c_str(),
                                 table.data(), nullptr)) != -1;) {
    const std::string word = argv[optind - 1];
    if (id == ':') return UsageError(err, word + " needs a value");
    const OptionEntry* entry = nullptr;
    for (const OptionEntry& candidate : kOptions) {
      if (id == static_cast<int>(candidate.option) ||
          (candidate.shortName != 0 && id == candidate.shortName)) {
        entry = &candidate;
      }
    }
    if (id == '?' || entry == nullptr || !Takes(*entry, command)) {
      return UsageError(err, "unknown " + what + " \"" + word + "\"");
    }
    read.options.push_back({entry->option, entry->takesValue ? optarg : ""});
  }
  for (int i = optind; i < static_cast<int>(words.size()); ++i)
    read.operands.push_back(argv[i]);
  return std::nullopt;
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

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return UsageError(err, "no command given");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "help") return ShowHelp("", out);
  if (!command.empty() && command[0] == '-') {
    Arguments read;
    if (auto done = ReadArguments("", args, read, err)) return *done;
    if (read.Has(Option::kHelp)) return ShowHelp("", out);
    if (!read.operands.empty()) return UsageError(err, "the options go after the COMMAND");
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
