#include "tools/vrq-printer-sim/options.h"

#include <getopt.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace sim {

namespace {

// The slowest printer that still takes a chunk within a minute, and 400 times full speed.
constexpr long kMinRate = 200;
constexpr long kMaxRate = 500000000;

bool ParseNumber(const char* text, int base, long low, long high, int& value) {
  char* end = nullptr;
  long number = std::strtol(text, &end, base);
  if (end == text || *end != '\0' || number < low || number > high) return false;
  value = static_cast<int>(number);
  return true;
}

// TEXT of --serial PORT=TEXT as bytes: \xNN is the byte NN, \\ a backslash.
bool SerialBytes(const std::string& text, std::string& bytes) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '\\') {
      bytes += '\\';
      ++i;
    } else {
      int value = 0;
      if (i + 4 > text.size() || text[i + 1] != 'x' ||
          !ParseNumber(text.substr(i + 2, 2).c_str(), 16, 0, 255, value) ||
          !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
        return false;
      }
      bytes += static_cast<char>(value);
      i += 3;
    }
  }
  return true;
}

bool IsSimulatedPort(const Options& options, const std::string& port) {
  for (int i = 0; i < options.printers; ++i) {
    if (port == PrinterPortPath(i)) return true;
  }
  return false;
}

// Every printer a fault or --serial names is one of those simulated.
bool FaultsNamePrinters(const Options& options, std::string& error) {
  // A --serial names a printer as a fault's @PORT does.
  std::vector<Fault> faults = options.faults;
  for (const auto& [port, serial] : options.serials) {
    Fault named;
    named.printer = port;
    faults.push_back(named);
  }
  for (const Fault& fault : faults) {
    std::vector<std::string> ports;
    if (!fault.printer.empty()) ports.push_back(fault.printer);
    if (fault.kind == FaultKind::kRestartWith) ports.push_back(fault.name);
    for (const std::string& port : ports) {
      if (IsSimulatedPort(options, port)) continue;
      error = "no simulated printer is on " + port + " (they are on 1-1.4 to " +
              PrinterPortPath(options.printers - 1) + ")";
      return false;
    }
  }
  return true;
}

}  // namespace

std::string PrinterPortPath(int index) {
  return "1-1." + std::to_string(4 + index);
}

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  enum {
    kFlashDir = 1000,
    kTranscript,
    kPrinters,
    kRestartMs,
    kFlashMs,
    kRate,
    kFault,
    kSerial,
    kNodeMode,
    kUser,
    kTimestamps,
    kVerbose,
    kHelp,
    kVersion
  };
  static const option kLong[] = {
      {"flash-dir", required_argument, nullptr, kFlashDir},
      {"transcript", required_argument, nullptr, kTranscript},
      {"printers", required_argument, nullptr, kPrinters},
      {"node-mode", required_argument, nullptr, kNodeMode},
      {"user", required_argument, nullptr, kUser},
      {"restart-ms", required_argument, nullptr, kRestartMs},
      {"flash-ms", required_argument, nullptr, kFlashMs},
      {"rate", required_argument, nullptr, kRate},
      {"fault", required_argument, nullptr, kFault},
      {"serial", required_argument, nullptr, kSerial},
      {"timestamps", no_argument, nullptr, kTimestamps},
      {"verbose", no_argument, nullptr, kVerbose},
      {"help", no_argument, nullptr, kHelp},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  optind = 1;
  opterr = 0;
  int option;
  while ((option = getopt_long(argc, argv, "+hV", kLong, nullptr)) != -1) {
    if (option == 'h') option = kHelp;
    if (option == 'V') option = kVersion;
    switch (option) {
      case kFlashDir:
        options.flashDir = optarg;
        break;
      case kTranscript:
        options.transcriptFile = optarg;
        break;
      case kRestartMs:
      case kFlashMs:
        if (!ParseNumber(optarg, 10, 0, 3600000,
                         option == kRestartMs ? options.restartMs : options.flashMs)) {
          error = std::string("not a time in milliseconds: ") + optarg;
          return false;
        }
        break;
      case kRate: {
        int rate = 0;
        if (!ParseNumber(optarg, 10, kMinRate, kMaxRate, rate)) {
          error = std::string("not a rate in bytes per second from ") + std::to_string(kMinRate) +
                  " to " + std::to_string(kMaxRate) + ": " + optarg;
          return false;
        }
        options.rate = rate;
        break;
      }
      case kPrinters:
        if (!ParseNumber(optarg, 10, 1, kMaxPrinters, options.printers)) {
          error = std::string("not a number of printers from 1 to ") +
                  std::to_string(kMaxPrinters) + ": " + optarg;
          return false;
        }
        break;
      case kNodeMode:
        if (!ParseNumber(optarg, 8, 0, 0777, options.nodeMode)) {
          error = std::string("not an octal file mode: ") + optarg;
          return false;
        }
        break;
      case kUser:
        options.user = optarg;
        break;
      case kFault: {
        auto fault = ParseFault(optarg, error);
        if (!fault) return false;
        options.faults.push_back(*fault);
        break;
      }
      case kSerial: {
        const std::string text = optarg;
        const size_t equals = text.find('=');
        std::string bytes;
        if (equals == std::string::npos || !SerialBytes(text.substr(equals + 1), bytes)) {
          error = "not PORT=TEXT (\\xNN for a byte, \\\\ for a backslash): " + text;
          return false;
        }
        options.serials[text.substr(0, equals)] = bytes;
        break;
      }
      case kTimestamps:
        options.timestamps = true;
        break;
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
  return FaultsNamePrinters(options, error);
}

std::string HelpText() {
  return R"(Usage: vrq-printer-sim [OPTIONS] -- COMMAND [ARG...]

Runs COMMAND with simulated VRQPrinters attached by USB and plays the printers'
side of the update dialogue. COMMAND sees an emulated device tree (umockdev):
per printer a USB device of vendor 0471, product 0055, whose printer-class
interface is bound to usblp, and its node /dev/usb/lpN. The first printer is on
USB port 1-1.4 with serial number VRQSIM0001 and node /dev/usb/lp0, the second
on 1-1.5 with VRQSIM0002 and lp1, and so on. COMMAND runs with
libumockdev-preload.so.0 preloaded, so that udev discovery, the printer nodes
and hot-plug events all reach the simulated printers.

A printer answers the connect line (the first line it receives) with
"Connect Success!", takes the second line, the "DF 0 536870912 SIZE SUM" line
and SIZE raw image bytes, then restarts: it goes away ("remove" events, node
gone), stays away for --restart-ms, comes back on the same USB port with a
fresh node and "add" events, and says "Please send next!" about 100 ms after
the host has opened the node again. Like usblp, it takes the lowest free lpN
when it comes back, which may be the node another printer had. It answers
"CKID" with "OK", takes "BUZZER TP=1" at the start of each section, answers
each "SETIT" block "OK" no sooner than --flash-ms after the block's last byte,
or "ERROR" when the block breaks a rule, and answers "LINK" with "OK". Every
command line ends in CR LF. The printer checks strictly what it is sent: the DF
size and sum; per block the SETIT fields (TP 0, 3 or 4; ADD following on from
the previous block of the section; LEN at most the section's block size, only
the last block shorter; CK the sum of the bytes; MD the same throughout) and
the hex text (upper-case digit pairs, CR LF after every 32nd byte and nowhere
else, however it is split into writes).

The printer nodes follow usblp's rules, through vrq-printer-sim-usblp.so, which
the simulator puts into COMMAND's LD_PRELOAD before umockdev's: a second open of
a node fails with EBUSY while it is open (in any process); a write submits one
chunk of at most 8192 bytes, which the printer takes at its pace (--rate); a
non-blocking write returns at once, and the next fails with EAGAIN until the
chunk is taken; a blocking write returns when the printer has taken its last
chunk; poll() reports POLLOUT only then; and the last close of the node drops
whatever the printer has not taken yet ("lost at close" in the transcript and
summary.json), as usblp kills the transfer in flight. A program that runs
without the preload (a static one) has every byte it writes delivered at once;
--verbose says so.

COMMAND starts with every signal at its default and none blocked. It stays in
the simulator's process group, so Ctrl-C at the terminal reaches it from the
terminal; a signal another process sends the simulator (SIGINT, SIGTERM, SIGHUP,
SIGQUIT, SIGUSR1, SIGUSR2) is passed on to COMMAND as it came. The simulator
never ends COMMAND itself.

Options:
  --printers N       simulate N printers (1 to 16, default 1), each with its
                     own dialogue, faults, flash and transcript
  --flash-dir DIR    write what the printer received into DIR (created if
                     missing); with several printers, each printer's into
                     DIR/PORT/ (DIR/1-1.4/, ...):
                       firmware.bin    the firmware image as sent after the DF
                                       line
                       bootloader.bin  the TP=0 section, its blocks at their
                                       ADD offsets
                       system.bin      the TP=3 section
                       font.bin        the TP=4 section
                       transcript.txt  every command line received, in order,
                                       without its CR LF (other than printable
                                       ASCII shown as \xNN), each breach of
                                       the dialogue on a line beginning with
                                       "VIOLATION:", and each close that
                                       dropped data on a line "lost at close:
                                       N bytes after COMMAND LINE"
                     Only blocks answered "OK" are stored; a section without
                     any stored block has no file. DIR/summary.json tells, per
                     printer, the bytes it took, the bytes lost at closes and
                     after which command, whether it started the firmware
                     image, and the breaches, and how long COMMAND ran (see
                     the man page).
  --transcript FILE  also write the transcript to FILE; with several printers,
                     every printer's, each line after its port path and ": ".
                     COMMAND finds the transcript's path (the first printer's,
                     with several) in the environment variable
                     VRQ_PRINTER_SIM_TRANSCRIPT.
  --timestamps       begin every transcript line with the seconds since
                     COMMAND started, to the millisecond, and a blank
                     ("12.345 CKID"): when the printer took the line's last
                     byte, or noticed what the line reports
  --restart-ms N     how long the printer is away after the image (default
                     1500)
  --flash-ms N       how long the printer takes to write a block (default 50)
  --rate BYTES_PER_S how fast the printers take data (default 1216000, USB
                     full speed: 19 packets of 64 bytes in each 1 ms frame)
  --node-mode MODE   the permissions of the printer nodes, in octal (default
                     666, so that any user may open them; 600 lets only root)
  --user USER        run COMMAND as USER (its uid, gid and groups); the device
                     tree is opened to every user
  --serial PORT=TEXT the printer on USB port PORT has the serial number TEXT
                     (\xNN in TEXT is the byte NN, \\ a backslash; an empty
                     TEXT gives a printer without one); may be given once per
                     printer
  --fault F[@PORT]   inject a fault; may be given more than once. With @PORT it
                     hits only the printer on that USB port path, otherwise
                     every printer:
                       no-connect-reply   the connect line gets no answer
                       never-return       after the image the printer never
                                          comes back
                       no-send-next       it comes back but never says
                                          "Please send next!"
                       no-mac             "CKID" is answered "ERROR" instead of
                                          "OK"
                       block-error:K      block K is answered "ERROR"
                       block-silent:K     block K is not answered at all
                       unplug-block:K     the printer is pulled out halfway
                                          through block K's hex text and stays
                                          away
                       stall-block:K      the printer stops taking data halfway
                                          through block K's hex text, and stays
                                          attached
                       no-link-reply      "LINK" gets no answer
                       garbage            every answer is replaced by
                                          meaningless bytes
                       no-serial          the printer's USB device has no
                                          serial number
                       restart-at:MS      MS milliseconds after COMMAND
                                          started, the printer is switched off
                                          and on: it goes away for --restart-ms
                                          and comes back on the lowest free
                                          node, its dialogue starting afresh
                       restart-with:PORT  the printer is switched off and on
                                          when the printer on PORT restarts
                                          after its image; it is away half as
                                          long, so it comes back first
                       bound-to:DRIVER    the printer's interface is bound to
                                          DRIVER (usbfs is what a libusb
                                          program such as ipp-usb holds it
                                          with; none for no driver) instead of
                                          usblp: it is on USB but has no lp
                                          device or node
                       claimed:PROGRAM    a program named PROGRAM (a process
                                          the simulator starts, holding the
                                          printer's /dev/bus/usb/001/NNN open
                                          until COMMAND ends) has claimed the
                                          printer's interface through usbfs,
                                          as with bound-to:usbfs
                       nak:MS@CHUNK       the printer takes nothing for MS ms
                                          when chunk CHUNK arrives, and takes
                                          it then; CHUNK is K (the K-th chunk
                                          of the run, from 1), last (the one
                                          with the firmware image's last
                                          byte), block-last:K (the one with
                                          the last byte of block K) or
                                          after-link (the first after LINK:
                                          the closing buzzer); for one
                                          printer: nak:50@last@1-1.5
                     K counts the SETIT blocks of the whole run from 1;
                     SECTION:K (e.g. block-error:font:2) counts within the
                     sections of that type (bootloader, system or font).
  --verbose          report the printers' events on standard error
  -h, --help         show this text
  -V, --version      show the version

Exit status: COMMAND's exit status (128 + N when it was killed by signal N);
125 when the simulator itself failed, 126 when COMMAND cannot be run, 127 when
it is not found. After COMMAND ends, the number of breaches found, if any, is
reported on standard error.
)";
}

}  // namespace sim
