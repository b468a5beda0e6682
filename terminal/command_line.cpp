#include "terminal/command_line.h"

#include <getopt.h>

#include <cstdint>

namespace app {
namespace {

// Every option, as getopt_long reads it and as the modes refer to it.
enum Option : uint32_t {
  kHelp = 1 << 0,
  kVersion = 1 << 1,
  kCheck = 1 << 2,
  kList = 1 << 3,
  kMaker = 1 << 4,
  kAll = 1 << 5,
  kMake = 1 << 6,
  kPackage = 1 << 7,
  kDevice = 1 << 8,
  kHeadless = 1 << 9,
  kYes = 1 << 10,
  kJson = 1 << 11,
  kVerbose = 1 << 12,
  kAllowWarnings = 1 << 13,
  kHistory = 1 << 14,
  kSkipUpdated = 1 << 15,
};

struct OptionEntry {
  const char* name;
  char shortName;     // 0: none
  const char* value;  // what its value is, for the messages; nullptr: it takes none
  Option option;
};

constexpr OptionEntry kOptions[] = {
    {"help", 'h', nullptr, kHelp},
    {"version", 'V', nullptr, kVersion},
    {"check", 0, nullptr, kCheck},  // its FILE is optional: see TakeCheckFile
    {"list", 0, nullptr, kList},
    {"maker", 0, nullptr, kMaker},
    {"all", 0, nullptr, kAll},
    {"make", 0, "a file", kMake},
    {"package", 0, "a file", kPackage},
    {"device", 0, "a printer: its USB port path, node or serial number", kDevice},
    {"headless", 0, nullptr, kHeadless},
    {"yes", 'y', nullptr, kYes},
    {"json", 0, nullptr, kJson},
    {"verbose", 0, nullptr, kVerbose},
    {"allow-warnings", 0, nullptr, kAllowWarnings},
    {"history", 0, nullptr, kHistory},
    {"skip-updated", 0, nullptr, kSkipUpdated},
};

// The modes, in the order in which their options win, with the options each goes with.
struct ModeRule {
  Mode mode;
  uint32_t askedBy;  // any of these options asks for the mode
  uint32_t takes;    // the other options it goes with
};

constexpr uint32_t kUpdateOptions =
    kPackage | kDevice | kHeadless | kYes | kJson | kVerbose | kSkipUpdated;
constexpr ModeRule kModes[] = {
    {Mode::kHelp, kHelp, ~0u},
    {Mode::kVersion, kVersion, ~0u},
    {Mode::kCheck, kCheck, kHeadless | kJson},
    {Mode::kList, kList, kJson},
    {Mode::kHistory, kHistory, kDevice | kJson},
    {Mode::kMakerWindow, kMaker, 0},
    {Mode::kAll, kAll, kUpdateOptions},
    {Mode::kMake, kMake, kHeadless | kYes | kJson | kVerbose | kAllowWarnings},
    {Mode::kUpdate, kPackage | kDevice | kHeadless | kJson | kVerbose | kSkipUpdated,
     kUpdateOptions},
    {Mode::kWindow, 0, kYes},
};

const OptionEntry& SpecOf(Option option) {
  for (const OptionEntry& entry : kOptions) {
    if (entry.option == option) return entry;
  }
  return kOptions[0];
}

std::string Names(uint32_t options) {
  std::string names;
  for (const OptionEntry& entry : kOptions) {
    if ((options & entry.option) == 0) continue;
    if (!names.empty()) names += ", ";
    names += std::string("--") + entry.name;
  }
  return names;
}

std::optional<std::string>* ValueOf(CommandLine& line, Option option) {
  switch (option) {
    case kMake:
      return &line.make;
    case kPackage:
      return &line.package;
    case kDevice:
      return &line.device;
    default:
      return nullptr;
  }
}

// The mode that the options given ask for, or why they ask for none.
void DecideMode(uint32_t given, CommandLine& line) {
  for (const ModeRule& rule : kModes) {
    if (rule.askedBy != 0 && (given & rule.askedBy) == 0) continue;
    line.mode = rule.mode;
    const uint32_t others = given & ~rule.askedBy & ~rule.takes;
    if (others == 0) return;
    const std::string asking = rule.askedBy != 0 ? Names(given & rule.askedBy) : "--yes";
    line.error = asking + " and " + Names(others) + " do not go together";
    if (rule.takes == 0) line.error = asking + " goes with no other option";
    return;
  }
}

// One printer is updated at a time, unless --all takes several.
void CheckDevices(CommandLine& line) {
  if (!line.error.empty() || line.devices.size() < 2) return;
  if (line.mode == Mode::kUpdate) {
    line.error =
        "--device may be given once for an update of one printer; give --all to "
        "update several";
  }
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  std::vector<option> table;
  std::string shortNames = "+:";  // stop at the first operand; ':' reports a missing value
  for (const OptionEntry& entry : kOptions) {
    table.push_back({entry.name, entry.value != nullptr ? required_argument : no_argument, nullptr,
                     static_cast<int>(entry.option)});
    if (entry.shortName != 0) shortNames += entry.shortName;
  }
  table.push_back({nullptr, 0, nullptr, 0});

  std::vector<std::string> words = {"vrq-update"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  optind = 0;  // a fresh scan (GNU), also when the parser ran before
  opterr = 0;
  uint32_t given = 0;
  for (int id; line.error.empty() && (id = getopt_long(argc, argv.data(), shortNames.c_str(),
                                                       table.data(), nullptr)) != -1;) {
    if (id == '?' || id == ':') {
      const std::string word = argv[optind - 1];
      line.error = id == '?' ? "unknown option " + word : word + " needs a value";
      break;
    }
    Option option = static_cast<Option>(id);
    for (const OptionEntry& entry : kOptions) {
      if (id == entry.shortName) option = entry.option;
    }
    const OptionEntry& entry = SpecOf(option);
    // A flag may come twice; an option with a value (or --check, whose value is
    // optional) only once, but for --device, which names several printers for --all.
    if ((given & option) != 0 && (entry.value != nullptr || option == kCheck) &&
        option != kDevice) {
      line.error = std::string("--") + entry.name + " given twice";
      break;
    }
    given |= option;
    if (std::optional<std::string>* value = ValueOf(line, option)) {
      if (*optarg == '\0') line.error = std::string("--") + entry.name + " needs " + entry.value;
      if (option == kDevice) line.devices.push_back(optarg);
      if (!*value) *value = optarg;
    } else if (option == kCheck && optind < argc && argv[optind][0] != '-' &&
               argv[optind][0] != '\0') {
      // The file is optional: an update application checks its own package.
      line.checkFile = argv[optind++];
    }
  }
  if (!line.error.empty()) return line;
  for (; optind < argc; ++optind) {
    // After "--", a file for --check may begin with "-".
    if ((given & kCheck) != 0 && !line.checkFile && *argv[optind] != '\0') {
      line.checkFile = argv[optind];
      continue;
    }
    line.error = std::string("unexpected argument ") + argv[optind];
    return line;
  }
  line.yes = (given & kYes) != 0;
  line.json = (given & kJson) != 0;
  line.verbose = (given & kVerbose) != 0;
  line.allowWarnings = (given & kAllowWarnings) != 0;
  line.skipUpdated = (given & kSkipUpdated) != 0;
  DecideMode(given, line);
  CheckDevices(line);
  return line;
}

std::string UsageText(const std::string& programName) {
  return "Usage: " + programName + R"( [OPTIONS]
Updates the firmware, boot loader, system data and fonts of a VRQPrinter on
USB, or, in maker mode, links an update package to a copy of this program.
Without options the window opens; its mode comes from the settings file beside
the program (section [MAIN], MAKE=1 for maker mode).

  --maker           open the window in maker mode, whatever the settings file
                    says (not for an update application: it has a package)
  --headless        no window: status lines and message boxes go to standard
                    error
  --package FILE    update from this package file (implies --headless)
  --make FILE       make the update application for the package FILE, beside
                    it and named as it with .run in place of its extension
                    (pkg.fwp gives pkg.run; implies --headless)
  --allow-warnings  with --make: make it also of a package that loads with
                    warnings (a packed stream that ends early and leaves zeros)
  -y, --yes         update without asking "Update this printer? [y/N]" first
                    (needed where standard input is no terminal)
  --device PRINTER  update the printer whose USB port path (such as 1-1.4),
                    node (/dev/usb/lp0 or lp0) or serial number is PRINTER,
                    tried in that order: the first kind any printer matches
                    decides; port:PATH, node:NODE and serial:TEXT match only
                    that kind; needed when several printers are attached;
                    with --all or --history it may be given several times
  --all             update every printer attached (or those --device names),
                    all at once, one process each that only this program's
                    stops reach: it finishes its printer even when this
                    program dies
  --skip-updated    leave out a printer whose newest update in the history
                    was a success with this package (same SHA-256): nothing
                    is written to it and its outcome is "unchanged"; a
                    printer without a serial number is always updated
  --history         show the update history, newest first: time, serial,
                    USB port, package, version and status of every update
                    (with --device: of those printers; with --json: one
                    array of records); kept in ~/.local/state/vrq-update/
                    history.jsonl ($XDG_STATE_HOME), for root in
                    /var/lib/vrq-update/history.jsonl
  --list            list the printers found: port number, id, node, USB port
                    path and serial number
  --json            write what happens as JSON, one object a line, on standard
                    output: steps, progress and the outcome (with --list: the
                    list; with --all: every printer's outcome and a summary;
                    with --check: the outcome), as man vrq-update describes
  --verbose         write the dialogue with the printer on standard error, each
                    line with its time (data blocks summarised)
  --check [FILE]    check FILE, or the package this program carries, as an
                    update would before it opens the printer, and tell how long
                    the flash takes; needs no printer
  -h, --help        show this text
  -V, --version     show the version (and that of the package an update
                    application carries)
Values may also follow an "=" (--package=FILE); "--" ends the options.
Texts from a printer or a package (serial numbers, version labels, item names,
replies) are shown with control characters and bytes that are not UTF-8 as
\xNN; a backslash is shown as it is. In JSON such a byte is the text \xNN.

Exit status:
  0    success: "Update Success!", the maker's success, printers listed, a
       package that --check found ready, a printer --skip-updated left out,
       the history shown
  1    failed before anything reached the printer's flash (the printer is as it
       was), or the update was declined, or --list found no printer, or --check
       found that an update would fail, or --make found warnings and no
       --allow-warnings was given
  2    a wrong command line; --device that names no printer or several; several
       printers and no --device; no terminal to confirm at and no --yes; an
       update application given --package or --make; several --device
       without --all; a --device that names no printer attached under --all
  3    failed after the firmware image was sent: the printer may hold incomplete
       firmware; run the update again
  130  stopped by SIGINT (Ctrl-C); 143 stopped by SIGTERM or SIGHUP
With --all: 0 when every printer was updated, otherwise the highest status of
any. While the printer is being written, a first Ctrl-C only warns; a second
one stops. Output nobody reads (a closed pipe, a full disk) never ends an update.
)";
}

}  // namespace app
