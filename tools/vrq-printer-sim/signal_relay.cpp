#include "tools/vrq-printer-sim/signal_relay.h"

#include <signal.h>

#include <atomic>

namespace sim {

namespace {

constexpr int kRelayed[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2};

std::atomic<int> received[NSIG];
int relayed[NSIG];

void OnSignal(int signal, siginfo_t* info, void*) {
  // The kernel's own (the terminal's Ctrl-C to the foreground group, a hang-up) reached
  // COMMAND as well; only what a process sent to the simulator alone is passed on.
  if (info != nullptr && info->si_code > 0) return;
  received[signal].fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void InstallSignalRelay() {
  struct sigaction action {};
  action.sa_sigaction = OnSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kRelayed)
    sigaction(signal, &action, nullptr);
}

void RelaySignals(pid_t child) {
  for (int signal : kRelayed) {
    int count = received[signal].load(std::memory_order_relaxed);
    for (; relayed[signal] < count; ++relayed[signal])
      kill(child, signal);
  }
}

void ResetSignalsForCommand() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal != SIGKILL && signal != SIGSTOP) sigaction(signal, &action, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace sim
