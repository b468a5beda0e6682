// vrq-printer-sim: runs a command with a simulated VRQPrinter attached (see --help).

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/vrq-printer-sim/options.h"
#include "tools/vrq-printer-sim/printer_bed.h"
#include "tools/vrq-printer-sim/printer_dialogue.h"
#include "tools/vrq-printer-sim/simulator.h"

namespace {

std::atomic<int> stopRequests{0};

void OnStopSignal(int) {
  ++stopRequests;
}

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "vrq-printer-sim: %s\n", text.c_str());
  return sim::kExitSimulatorFailed;
}

// Starts COMMAND; it inherits the device tree's environment and the preload.
pid_t StartCommand(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& arg : command)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child != 0) return child;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);
  execvp(argv[0], argv.data());
  int error = errno;
  std::fprintf(stderr, "vrq-printer-sim: cannot run %s: %s\n", argv[0], std::strerror(error));
  _exit(error == ENOENT ? sim::kExitNotFound : sim::kExitCannotRun);
}

int ExitStatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return sim::kExitSimulatorFailed;
}

bool PrepareTranscript(const sim::Options& options, sim::Transcript& transcript,
                       std::string& error) {
  std::string primary;
  if (!options.flashDir.empty()) {
    if (mkdir(options.flashDir.c_str(), 0755) != 0 && errno != EEXIST) {
      error = "cannot make " + options.flashDir + ": " + std::strerror(errno);
      return false;
    }
    primary = options.flashDir + "/transcript.txt";
    if (!transcript.AttachFile(primary)) {
      error = "cannot write " + primary;
      return false;
    }
  }
  if (!options.transcriptFile.empty()) {
    if (!transcript.AttachFile(options.transcriptFile)) {
      error = "cannot write " + options.transcriptFile;
      return false;
    }
    if (primary.empty()) primary = options.transcriptFile;
  }
  if (!primary.empty()) setenv(sim::kTranscriptVariable, primary.c_str(), 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  sim::Options options;
  std::string error;
  if (!sim::ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "vrq-printer-sim: %s\nTry 'vrq-printer-sim --help'.\n", error.c_str());
    return sim::kExitSimulatorFailed;
  }
  if (options.help) {
    std::fputs(sim::HelpText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("vrq-printer-sim 1.0");
    return 0;
  }
  // The owner of the device tree must run under the preload too, or its hot-plug
  // events never reach anybody.
  if (!sim::EnsureUmockdevPreload(argv, error)) return Fail(error);

  sim::Transcript transcript;
  sim::FlashStore flash;
  if (!PrepareTranscript(options, transcript, error)) return Fail(error);

  sim::PrinterBed bed;
  sim::PrinterRecord printer;
  if (!bed.IsValid() || !bed.Plug(printer)) return Fail(bed.Error());

  sim::DialogueSettings dialogueSettings{options.faults, options.flashMs};
  sim::PrinterDialogue dialogue(dialogueSettings, transcript, flash);
  sim::SimulatorSettings settings;
  settings.restartMs = options.restartMs;
  settings.neverReturn = sim::HasFault(options.faults, sim::FaultKind::kNeverReturn);
  settings.verbose = options.verbose;
  sim::Simulator simulator(bed, printer, dialogue, settings);

  InstallStopHandlers();
  pid_t child = StartCommand(options.command);
  if (child < 0) return Fail(std::string("cannot start COMMAND: ") + std::strerror(errno));
  int status = simulator.Run(child, stopRequests);

  if (!options.flashDir.empty() && !flash.WriteFiles(options.flashDir, error)) return Fail(error);
  if (transcript.ViolationCount() > 0) {
    std::fprintf(stderr,
                 "vrq-printer-sim: %d breaches of the printer dialogue (see the transcript)\n",
                 transcript.ViolationCount());
  }
  return ExitStatusOf(status);
}
