// vrq-printer-sim: runs a command with a simulated VRQPrinter attached (see --help).

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/vrq-printer-sim/options.h"
#include "tools/vrq-printer-sim/printer_bed.h"
#include "tools/vrq-printer-sim/signal_relay.h"
#include "tools/vrq-printer-sim/simulated_printer.h"
#include "tools/vrq-printer-sim/simulator.h"
#include "tools/vrq-printer-sim/summary.h"
#include "tools/vrq-printer-sim/usbfs_claim.h"
#include "tools/vrq-printer-sim/usblp_bus.h"

extern char** environ;

namespace {

// The preload library that gives the printer nodes usblp's rules, beside the simulator
// in the build, and in a folder of its own where the package installs it.
constexpr const char* kUsblpPreload = "vrq-printer-sim-usblp.so";

int Fail(const std::string& text) {
  std::fprintf(stderr, "vrq-printer-sim: %s\n", text.c_str());
  return sim::kExitSimulatorFailed;
}

struct RunAs {
  bool drop = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
};

bool LookUpUser(const std::string& name, RunAs& runAs, std::string& error) {
  if (name.empty()) return true;
  const passwd* entry = getpwnam(name.c_str());
  if (entry == nullptr) {
    error = "no such user: " + name;
    return false;
  }
  runAs = {true, entry->pw_uid, entry->pw_gid, name};
  return true;
}

std::string FindUsblpPreload() {
  std::vector<std::string> folders;
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string path(exe, static_cast<size_t>(n));
    folders.push_back(path.substr(0, path.rfind('/')));
  }
  folders.push_back(VRQ_SIM_PRELOAD_DIR);
  for (const std::string& folder : folders) {
    std::string path = folder + "/" + kUsblpPreload;
    if (access(path.c_str(), R_OK) == 0) return path;
  }
  return std::string();
}

// COMMAND's environment: the simulator's, with the model's preload in front of umockdev's.
std::vector<std::string> CommandEnvironment(const std::string& preload) {
  std::vector<std::string> env;
  std::string preloads = preload;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "LD_PRELOAD=", 11) == 0) {
      if (!preloads.empty() && (*entry)[11] != '\0') preloads += ":";
      preloads += *entry + 11;
    } else {
      env.push_back(*entry);
    }
  }
  env.push_back("LD_PRELOAD=" + preloads);
  return env;
}

// Starts COMMAND with env; it inherits the device tree. It starts as a shell would start
// it: every signal at its default, none blocked, and in the simulator's process group, so
// that the terminal's Ctrl-C reaches it.
pid_t StartCommand(const std::vector<std::string>& command, const std::vector<std::string>& env,
                   const RunAs& runAs) {
  std::vector<char*> argv;
  for (const std::string& arg : command)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : env)
    envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  pid_t child = fork();
  if (child != 0) return child;
  sim::ResetSignalsForCommand();
  if (runAs.drop && (initgroups(runAs.name.c_str(), runAs.gid) != 0 ||
                     setresgid(runAs.gid, runAs.gid, runAs.gid) != 0 ||
                     setresuid(runAs.uid, runAs.uid, runAs.uid) != 0)) {
    std::fprintf(stderr, "vrq-printer-sim: cannot become %s: %s\n", runAs.name.c_str(),
                 std::strerror(errno));
    _exit(sim::kExitCannotRun);
  }
  execvpe(argv[0], argv.data(), envp.data());
  int error = errno;
  std::fprintf(stderr, "vrq-printer-sim: cannot run %s: %s\n", argv[0], std::strerror(error));
  _exit(error == ENOENT ? sim::kExitNotFound : sim::kExitCannotRun);
}

int ExitStatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return sim::kExitSimulatorFailed;
}

bool MakeFolder(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  error = "cannot make " + path + ": " + std::strerror(errno);
  return false;
}

// Where a printer's files go: the flash folder itself for a lone printer, a folder
// named by its port path in it when there are several.
std::string FlashFolder(const sim::Options& options, const sim::SimulatedPrinter& printer) {
  if (options.flashDir.empty()) return std::string();
  if (options.printers == 1) return options.flashDir;
  return options.flashDir + "/" + printer.PortPath();
}

// Attaches every printer's transcript to its files; the first printer's path goes to
// COMMAND's environment.
bool PrepareTranscripts(const sim::Options& options,
                        std::vector<std::unique_ptr<sim::SimulatedPrinter>>& printers,
                        std::string& error) {
  std::shared_ptr<std::FILE> shared;
  if (!options.transcriptFile.empty()) {
    shared = sim::Transcript::OpenShared(options.transcriptFile);
    if (!shared) {
      error = "cannot write " + options.transcriptFile;
      return false;
    }
  }
  if (!options.flashDir.empty() && !MakeFolder(options.flashDir, error)) return false;
  std::string primary;
  for (auto& printer : printers) {
    std::string folder = FlashFolder(options, *printer);
    if (!folder.empty()) {
      std::string path = folder + "/transcript.txt";
      if (!MakeFolder(folder, error)) return false;
      if (!printer->Log().AttachFile(path)) {
        error = "cannot write " + path;
        return false;
      }
      if (primary.empty()) primary = path;
    }
    if (shared) {
      printer->Log().AttachShared(shared, options.printers == 1 ? "" : printer->PortPath() + ": ");
    }
  }
  if (primary.empty()) primary = options.transcriptFile;
  if (!primary.empty()) setenv(sim::kTranscriptVariable, primary.c_str(), 1);
  return true;
}

std::vector<std::unique_ptr<sim::SimulatedPrinter>> MakePrinters(const sim::Options& options,
                                                                 sim::PrinterBed& bed,
                                                                 sim::UsblpShared* usblp) {
  std::vector<std::unique_ptr<sim::SimulatedPrinter>> printers;
  for (int i = 0; i < options.printers; ++i) {
    sim::PrinterSetup setup;
    setup.record.lp = i;
    setup.record.hubPort = 4 + i;
    char serial[24];
    std::snprintf(serial, sizeof serial, "VRQSIM%04d", i + 1);
    setup.faults = sim::FaultsFor(options.faults, sim::PrinterPortPath(i));
    const auto given = options.serials.find(sim::PrinterPortPath(i));
    setup.record.serial = sim::HasFault(setup.faults, sim::FaultKind::kNoSerial) ? std::string()
                          : given != options.serials.end()                       ? given->second
                                                                                 : serial;
    setup.restartMs = options.restartMs;
    setup.flashMs = options.flashMs;
    setup.verbose = options.verbose;
    setup.usblp = usblp;
    setup.rate = options.rate;
    if (options.printers > 1) setup.logName = sim::PrinterPortPath(i);
    printers.push_back(std::make_unique<sim::SimulatedPrinter>(bed, std::move(setup)));
  }
  return printers;
}

bool WriteFlash(const sim::Options& options,
                const std::vector<std::unique_ptr<sim::SimulatedPrinter>>& printers,
                double commandSeconds, std::string& error) {
  std::vector<sim::SummaryEntry> summary;
  for (const auto& printer : printers) {
    std::string folder = FlashFolder(options, *printer);
    if (!folder.empty() && !printer->Flash().WriteFiles(folder, error)) return false;
    summary.push_back(
        {printer->PortPath(), options.rate, printer->Log().ViolationCount(), printer->Summary()});
  }
  if (options.flashDir.empty()) return true;
  return sim::WriteSummary(options.flashDir + "/summary.json", summary, commandSeconds, error);
}

// The programs that claim a printer's interface through usbfs, holding it until COMMAND
// has ended.
bool StartClaims(const sim::Options& options, sim::PrinterBed& bed,
                 const std::vector<std::unique_ptr<sim::SimulatedPrinter>>& printers,
                 std::vector<std::unique_ptr<sim::UsbfsClaim>>& claims, std::string& error) {
  for (const auto& printer : printers) {
    const sim::Fault* claimed = sim::FindFault(printer->Faults(), sim::FaultKind::kClaimed);
    if (claimed == nullptr) continue;
    auto claim = std::make_unique<sim::UsbfsClaim>();
    if (!claim->Start(claimed->name, bed.UsbNodeInTree(printer->PortPath()),
                      bed.RootDir() + "/claims", error)) {
      return false;
    }
    if (options.verbose) {
      std::fprintf(stderr, "vrq-printer-sim: %s (pid %d) holds %s of the printer on %s\n",
                   claimed->name.c_str(), static_cast<int>(claim->Pid()),
                   bed.UsbNode(printer->PortPath()).c_str(), printer->PortPath().c_str());
    }
    claims.push_back(std::move(claim));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The printers must not vanish under COMMAND because nobody reads the simulator's
  // output any more; COMMAND gets SIGPIPE's default back (ResetSignalsForCommand).
  signal(SIGPIPE, SIG_IGN);
  sim::Options options;
  std::string error;
  if (!sim::ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr,
                 "vrq-printer-sim: %s\nTry 'vrq-printer-sim --help' for more information.\n",
                 error.c_str());
    return sim::kExitSimulatorFailed;
  }
  if (options.help) {
    std::fputs(sim::HelpText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("vrq-printer-sim " VRQ_VERSION);
    return 0;
  }
  // The owner of the device tree must run under the preload too, or its hot-plug
  // events never reach anybody.
  if (!sim::EnsureUmockdevPreload(argv, error)) return Fail(error);

  RunAs runAs;
  if (!LookUpUser(options.user, runAs, error)) return Fail(error);
  sim::PrinterBed bed;
  if (!bed.IsValid()) return Fail(bed.Error());
  bed.SetNodeMode(options.nodeMode);
  sim::UsblpShared usblp(bed.RootDir() + "/usblp");
  if (!usblp.IsValid()) return Fail(usblp.Error());
  setenv(VRQ_USBLP_VARIABLE, usblp.Folder().c_str(), 1);
  if (runAs.drop) bed.ShareWithAllUsers();
  std::string preload = FindUsblpPreload();
  if (preload.empty()) {
    std::fprintf(stderr,
                 "vrq-printer-sim: %s is missing: the printer nodes take every byte at once, "
                 "unlike usblp's\n",
                 kUsblpPreload);
  }
  auto printers = MakePrinters(options, bed, &usblp);
  if (!PrepareTranscripts(options, printers, error)) return Fail(error);
  std::vector<sim::SimulatedPrinter*> played;
  for (auto& printer : printers) {
    if (!printer->PlugIn()) return Fail(bed.Error());
    played.push_back(printer.get());
  }
  std::vector<std::unique_ptr<sim::UsbfsClaim>> claims;
  if (!StartClaims(options, bed, printers, claims, error)) return Fail(error);
  sim::Simulator simulator(played, options.restartMs, &usblp);

  sim::InstallSignalRelay();
  // The transcripts' times and summary.json's command_seconds count from here.
  const auto started = std::chrono::steady_clock::now();
  if (options.timestamps) {
    for (auto& printer : printers)
      printer->Log().StampTimes(started);
  }
  pid_t child = StartCommand(options.command, CommandEnvironment(preload), runAs);
  if (child < 0) return Fail(std::string("cannot start COMMAND: ") + std::strerror(errno));
  int status = simulator.Run(child);
  const double commandSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  claims.clear();

  if (!WriteFlash(options, printers, commandSeconds, error)) return Fail(error);
  int violations = 0;
  for (auto& printer : printers)
    violations += printer->Log().ViolationCount();
  if (violations > 0) {
    std::fprintf(stderr,
                 "vrq-printer-sim: %d breaches of the printer dialogue (see the transcript)\n",
                 violations);
  }
  return ExitStatusOf(status);
}
