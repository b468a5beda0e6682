#include "tools/vrq-printer-sim/signal_relay.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

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

// Straight to the kernel: the C library keeps the signals it uses itself (32 and 33) from
// sigaction() and sigprocmask(), yet they can arrive ignored too (posix_spawn() leaves
// them so).
void ResetSignalsForCommand() {
  struct KernelAction {
    void* handler;
    unsigned long flags;
    void* restorer;
    uint64_t mask;
  } byDefault{};  // all zero: SIG_DFL, no flags, nothing blocked
  for (int signal = 1; signal <= 64; ++signal) {
    if (signal == SIGKILL || signal == SIGSTOP) continue;
    syscall(SYS_rt_sigaction, signal, &byDefault, nullptr, sizeof byDefault.mask);
  }
  uint64_t none = 0;
  syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof none);
}

}  // namespace sim
