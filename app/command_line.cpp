#include "app/command_line.h"

namespace app {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::optional<std::string>& into) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        line.error = arg + " needs a file";
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
    } else {
      line.error = "unknown argument " + arg;
    }
    if (!line.error.empty()) return line;
  }
  if (line.package && line.make) line.error = "--package and --make exclude each other";
  if (line.maker && (line.headless || line.package || line.make || line.list || line.yes)) {
    line.error = "--maker opens the window; it goes with no other option";
  }
  if (line.package || line.make) line.headless = true;
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
         "  --yes             answer the question whether to pick a package file with OK\n"
         "  --list            list the printers found: port number, id, device node\n"
         "  --help            show this text\n"
         "  --version         show the version\n"
         "\n"
         "Exit status: 0 on success, 1 when the run ended with an error or was declined,\n"
         "2 for a wrong command line, 130 or 143 when SIGINT or SIGTERM (SIGHUP) stopped it.\n"
         "While the printer is being written, a first Ctrl-C only warns; a second one stops.\n";
}

}  // namespace app
