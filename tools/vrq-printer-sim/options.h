// The simulated printer's command line.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/vrq-printer-sim/faults.h"
#include "tools/vrq-printer-sim/usblp_bus.h"

namespace sim {

// Exit statuses of the simulator's own failures (otherwise it exits with COMMAND's).
inline constexpr int kExitSimulatorFailed = 125;
inline constexpr int kExitCannotRun = 126;
inline constexpr int kExitNotFound = 127;

// The environment variable through which COMMAND learns where the transcript is written.
inline constexpr const char* kTranscriptVariable = "VRQ_PRINTER_SIM_TRANSCRIPT";

// The most printers one simulator plays.
inline constexpr int kMaxPrinters = 16;

struct Options {
  std::string flashDir;
  std::string transcriptFile;
  int printers = 1;
  int restartMs = 1500;
  int flashMs = 50;
  int64_t rate = kFullSpeedRate;  // bytes per second the printers take
  int nodeMode = 0666;  // every user may open the nodes, as the udev rule lets the desktop's
  std::string user;     // run COMMAND as this user
  std::vector<Fault> faults;
  // USB serial numbers other than VRQSIM000N, by USB port path ("" for none).
  std::map<std::string, std::string> serials;
  bool timestamps = false;  // transcript lines begin with the time they were received
  bool verbose = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> command;
};

// The USB port path of printer index (from 0): 1-1.4, 1-1.5, ...
std::string PrinterPortPath(int index);

// Parses argv; false with a message in error on a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);
std::string HelpText();

}  // namespace sim
