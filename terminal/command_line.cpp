#include "terminal/command_line.h"

namespace app {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::optional<std::string>& into, const char* what = "a file") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        line.error = arg + " needs " + what;
      } else if (into) {
        line.error = arg + " given twice";
      } else {
        into = args[++i];
      }
    };
    if (arg == "--maker") {
      line.maker = true;
    } else if (arg == "--headless") {
      line.headless = true;
    } else if (arg == "--yes") {
      line.yes = true;
    } else if (arg == "--list") {
      line.list = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (arg == "--package") {
      value(line.package);
    } else if (arg == "--make") {
      value(line.make);
    } else if (arg == "--device") {
      value(line.device, "a printer: its USB port path, node or serial number");
    } else if (arg == "--json") {
      line.json = true;
    } else if (arg == "--verbose") {
      line.verbose = true;
    } else if (arg == "--all") {
      line.all = true;
    } else if (arg == "--check") {
      // The file is optional: an update application checks its own package.
      if (line.check) line.error = "--check given twice";
      line.check = true;
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
        line.checkFile = args[++i];
      }
    } else {
      line.error = "unknown argument " + arg;
    }
    if (!line.error.empty()) return line;
  }
  const bool choosesPrinter = line.device || line.all;
  if (line.package && line.make) line.error = "--package and --make exclude each other";
  if (line.device && line.all) line.error = "--device and --all exclude each other";
  if (choosesPrinter && (line.make || line.list)) {
    line.error = "--device and --all choose printers to update; they go with no --make or --list";
  }
  if (line.list && (line.package || line.make || line.headless || line.yes || line.verbose)) {
    line.error = "--list goes with --json only";
  }
  if (line.check && (line.package || line.make || line.list || line.maker || line.yes ||
                     line.json || line.verbose || choosesPrinter)) {
    line.error = "--check [FILE] goes with no other option";
  }
  if (line.maker && (line.headless || line.package || line.make || line.list || line.yes ||
                     line.json || line.verbose || choosesPrinter)) {
    line.error = "--maker opens the window; it goes with no other option";
  }
  if (line.package || line.make || choosesPrinter || (line.json && !line.list) || line.verbose) {
    line.headless = true;
  }
  return line;
}

std::string UsageText(const std::string& programName) {
  return "Usage: " + programName +
         " [OPTIONS]\n"
         "Updates the firmware, boot loader, system data and fonts of a VRQPrinter on USB,\n"
         "or, in maker mode, links an update package to a copy of this program.\n"
         "Without options the window opens; its mode comes from the settings file beside\n"
         "the program (section [MAIN], MAKE=1 for maker mode).\n"
         "\n"
         "  --maker           open the window in maker mode, whatever the settings file says\n"
         "                    (not for an update application: it has a package linked)\n"
         "  --headless        no window: status lines and message boxes go to standard error\n"
         "  --package FILE    update from this package file (implies --headless)\n"
         "  --make FILE       make FILE's update application, FILE.run (implies --headless)\n"
         "  --yes             update without asking \"Update this printer? [y/N]\" first\n"
         "                    (needed where standard input is no terminal)\n"
         "  --device PRINTER  update the printer whose USB port path (such as 1-1.4), node\n"
         "                    (/dev/usb/lp0 or lp0) or serial number is PRINTER; needed when\n"
         "                    several printers are attached\n"
         "  --all             update every printer attached, all at once, one process each\n"
         "  --list            list the printers found: port number, id, node, USB port path\n"
         "                    and serial number\n"
         "  --json            write what happens as JSON, one object a line, on standard\n"
         "                    output: steps, progress and the outcome (with --list: the\n"
         "                    list; with --all: every printer's outcome, at the end)\n"
         "  --verbose         write the dialogue with the printer on standard error, each\n"
         "                    line with its time (data blocks summarised)\n"
         "  --check [FILE]    check FILE, or the package this program carries, as an update\n"
         "                    would before it opens the printer, and tell how long the\n"
         "                    flash takes; needs no printer\n"
         "  --help            show this text\n"
         "  --version         show the version (and that of the package an update\n"
         "                    application carries)\n"
         "\n"
         "Exit status:\n"
         "  0    success: \"Update Success!\", the maker's success, printers listed, a\n"
         "       package that --check found ready\n"
         "  1    failed before anything reached the printer's flash (the printer is as it\n"
         "       was), or the update was declined, or --list found no printer, or --check\n"
         "       found that an update would fail\n"
         "  2    a wrong command line; --device that names no printer or several; several\n"
         "       printers and no --device; no terminal to confirm at and no --yes\n"
         "  3    failed after the firmware image was sent: the printer may hold incomplete\n"
         "       firmware; run the update again\n"
         "  130  stopped by SIGINT (Ctrl-C); 143 stopped by SIGTERM or SIGHUP\n"
         "With --all: 0 when every printer was updated, otherwise the highest status of any.\n"
         "While the printer is being written, a first Ctrl-C only warns; a second one stops.\n";
}

}  // namespace app
