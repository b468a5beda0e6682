#include "platform/stop_signals.h"

#include <signal.h>

#include <array>
#include <atomic>

namespace platform {
namespace {

std::atomic<int> interrupts{0};
std::atomic<int> terminations{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, 3> previous{};

void Count(int signal) {
  if (signal == SIGINT) {
    interrupts.fetch_add(1, std::memory_order_relaxed);
  } else {
    terminations.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

StopSignals::StopSignals() {
  interrupts = 0;
  terminations = 0;
  struct sigaction action {};
  action.sa_handler = Count;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kStopSignals.size(); ++i)
    sigaction(kStopSignals[i], &action, &previous[i]);
}

StopSignals::~StopSignals() {
  for (size_t i = 0; i < kStopSignals.size(); ++i)
    sigaction(kStopSignals[i], &previous[i], nullptr);
}

int StopSignals::Interrupts() const {
  return interrupts.load(std::memory_order_relaxed);
}

int StopSignals::Terminations() const {
  return terminations.load(std::memory_order_relaxed);
}

}  // namespace platform
