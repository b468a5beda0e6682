#include "tools/vrq-printer-sim/options.h"

#include <getopt.h>

#include <cstdlib>

namespace sim {

namespace {

bool ParseMs(const char* text, int& value) {
  char* end = nullptr;
  long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || number < 0 || number > 3600000) return false;
  value = static_cast<int>(number);
  return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  enum { kFlashDir = 1000, kTranscript, kRestartMs, kFlashMs, kFault, kVerbose, kHelp, kVersion };
  static const option kLong[] = {
      {"flash-dir", required_argument, nullptr, kFlashDir},
      {"transcript", required_argument, nullptr, kTranscript},
      {"restart-ms", required_argument, nullptr, kRestartMs},
      {"flash-ms", required_argument, nullptr, kFlashMs},
      {"fault", required_argument, nullptr, kFault},
      {"verbose", no_argument, nullptr, kVerbose},
      {"help", no_argument, nullptr, kHelp},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  optind = 1;
  opterr = 0;
  int option;
  while ((option = getopt_long(argc, argv, "+", kLong, nullptr)) != -1) {
    switch (option) {
      case kFlashDir:
        options.flashDir = optarg;
        break;
      case kTranscript:
        options.transcriptFile = optarg;
        break;
      case kRestartMs:
      case kFlashMs:
        if (!ParseMs(optarg, option == kRestartMs ? options.restartMs : options.flashMs)) {
          error = std::string("not a time in milliseconds: ") + optarg;
          return false;
        }
        break;
      case kFault: {
        auto fault = ParseFault(optarg, error);
        if (!fault) return false;
        options.faults.push_back(*fault);
        break;
      }
      case kVerbose:
        options.verbose = true;
        break;
      case kHelp:
        options.help = true;
        return true;
      case kVersion:
        options.version = true;
        return true;
      default:
        error = std::string("unknown option or missing value: ") + argv[optind - 1];
        return false;
    }
  }
  for (int i = optind; i < argc; ++i)
    options.command.push_back(argv[i]);
  if (options.command.empty()) {
    error = "no COMMAND given";
    return false;
  }
  return true;
}

std::string HelpText() {
  return R"(Usage: vrq-printer-sim [OPTIONS] -- COMMAND [ARG...]

Runs COMMAND with a simulated VRQPrinter attached by USB and plays the printer's side of
the update dialogue. COMMAND sees an emulated device tree (umockdev): a USB device of
vendor 0471, product 0055, whose printer-class interface is bound to usblp, and its node
/dev/usb/lp0. COMMAND runs with libumockdev-preload.so.0 preloaded, so that udev
discovery, the printer node and hot-plug events all reach the simulated printer.

The printer answers the connect line (the first line it receives) with
"Connect Success!", takes the second line, the "DF 0 536870912 SIZE SUM" line and SIZE
raw image bytes, then restarts: it goes away ("remove" events, node gone), stays away
for --restart-ms, comes back with a fresh node and "add" events, and says
"Please send next!" about 100 ms after the host has opened the node again. It answers
"CKID" with "OK", takes "BUZZER TP=1" at the start of each section, answers each
"SETIT" block "OK" no sooner than --flash-ms after the block's last byte, or "ERROR"
when the block breaks a rule, and answers "LINK" with "OK". Every command line ends in
CR LF. The printer checks strictly what it is sent: the DF size and sum; per block the
SETIT fields (TP 0, 3 or 4; ADD following on from the previous block of the section;
LEN at most the section's block size, only the last block shorter; CK the sum of the
bytes; MD the same throughout) and the hex text (upper-case digit pairs, CR LF after
every 32nd byte and nowhere else, however it is split into writes).

Options:
  --flash-dir DIR    write what the printer received into DIR (created if missing):
                       firmware.bin    the firmware image as sent after the DF line
                       bootloader.bin  the TP=0 section, its blocks at their ADD offsets
                       system.bin      the TP=3 section
                       font.bin        the TP=4 section
                       transcript.txt  every command line received, in order, without
                                       its CR LF (other than printable ASCII shown as
                                       \xNN), and each breach of the dialogue on a line
                                       beginning with "VIOLATION:"
                     Only blocks answered "OK" are stored; a section without any stored
                     block has no file.
  --transcript FILE  also write the transcript to FILE. COMMAND finds the transcript's
                     path in the environment variable VRQ_PRINTER_SIM_TRANSCRIPT.
  --restart-ms N     how long the printer is away after the image (default 1500)
  --flash-ms N       how long the printer takes to write a block (default 50)
  --fault F          inject a fault; may be given more than once:
                       no-connect-reply   the connect line gets no answer
                       never-return       after the image the printer never comes back
                       no-send-next       it comes back but never says
                                          "Please send next!"
                       no-mac             "CKID" is answered "ERROR" instead of "OK"
                       block-error:K      block K is answered "ERROR"
                       block-silent:K     block K is not answered at all
                       unplug-block:K     the printer is pulled out halfway through
                                          block K's hex text and stays away
                       stall-block:K      the printer stops taking data halfway
                                          through block K's hex text, and stays
                                          attached
                       no-link-reply      "LINK" gets no answer
                       garbage            every answer is replaced by meaningless bytes
                     K counts the SETIT blocks of the whole run from 1; SECTION:K
                     (e.g. block-error:font:2) counts within the sections of that type
                     (bootloader, system or font).
  --verbose          report the printer's events on standard error
  --help, --version

Exit status: COMMAND's exit status (128 + N when it was killed by signal N); 125 when
the simulator itself failed, 126 when COMMAND cannot be run, 127 when it is not found.
After COMMAND ends, the number of breaches found, if any, is reported on standard error.
)";
}

}  // namespace sim
