#include "platform/sleep_inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstring>
#include <memory>

namespace platform {
namespace {

constexpr char kLogind[] = "org.freedesktop.login1";
constexpr char kLogindPath[] = "/org/freedesktop/login1";
constexpr char kLogindManager[] = "org.freedesktop.login1.Manager";
constexpr char kWhat[] = "sleep:shutdown:idle";
constexpr char kMode[] = "block";
// logind answers at once. A bus that takes longer is stuck, and the work the lock is for
// must not wait on it: sd-bus's own limits (25 s for a call, 90 s to authenticate) are
// far too long for that.
constexpr std::chrono::seconds kAnswerLimit{5};

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

std::string ErrorText(int negativeErrno) {
  return std::strerror(-negativeErrno);
}

// The Inhibit call in flight, and what came of it.
struct PendingInhibit {
  bool answered = false;
  Descriptor lock;
  std::string problem;
};

std::string Refusal(const sd_bus_error& error) {
  if (sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN,
                             SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
    return "logind is not running (no org.freedesktop.login1 on the system bus)";
  }
  if (sd_bus_error_has_name(&error, SD_BUS_ERROR_NO_REPLY)) {
    return "logind did not answer";
  }
  std::string text = "logind refused the lock: ";
  text += error.message != nullptr ? error.message : error.name;
  return text;
}

// The descriptor in logind's answer belongs to the message; the lock keeps a copy of its
// own, close-on-exec.
int OnInhibitAnswer(sd_bus_message* answer, void* userdata, sd_bus_error*) {
  PendingInhibit& pending = *static_cast<PendingInhibit*>(userdata);
  pending.answered = true;
  if (const sd_bus_error* error = sd_bus_message_get_error(answer)) {
    pending.problem = Refusal(*error);
    return 0;
  }
  int fd = -1;
  if (int r = sd_bus_message_read(answer, "h", &fd); r < 0) {
    pending.problem = "logind's answer carries no lock: " + ErrorText(r);
    return 0;
  }
  pending.lock = Descriptor(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  if (!pending.lock.IsOpen()) {
    pending.problem = "the lock's descriptor could not be kept: " + ErrorText(-errno);
  }
  return 0;
}

// Sends the call and runs the connection until the answer is in or the time is up.
std::string AwaitInhibit(sd_bus* bus, sd_bus_message* call, PendingInhibit& pending) {
  const auto deadline = std::chrono::steady_clock::now() + kAnswerLimit;
  const auto limitUs = std::chrono::duration_cast<std::chrono::microseconds>(kAnswerLimit);
  sd_bus_slot* rawSlot = nullptr;
  if (int r = sd_bus_call_async(bus, &rawSlot, call, OnInhibitAnswer, &pending,
                                static_cast<uint64_t>(limitUs.count()));
      r < 0) {
    return "the call to logind could not be sent: " + ErrorText(r);
  }
  const Slot slot(rawSlot);  // goes before pending does, so no late answer can reach it
  while (!pending.answered) {
    const int processed = sd_bus_process(bus, nullptr);
    if (processed < 0) return "the system bus connection failed: " + ErrorText(processed);
    if (processed > 0) continue;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      return "the system bus did not answer within " + std::to_string(kAnswerLimit.count()) + " s";
    }
    const auto leftUs = std::chrono::duration_cast<std::chrono::microseconds>(left);
    if (int r = sd_bus_wait(bus, static_cast<uint64_t>(leftUs.count()) + 1); r < 0) {
      return "the system bus connection failed: " + ErrorText(r);
    }
  }
  return pending.problem;
}

}  // namespace

InhibitResult InhibitSleep(const std::string& who, const std::string& why) {
  InhibitResult result;
  sd_bus* rawBus = nullptr;
  if (int r = sd_bus_open_system(&rawBus); r < 0) {
    result.problem = "no system bus to reach logind: " + ErrorText(r);
    return result;
  }
  const Bus bus(rawBus);
  sd_bus_message* rawCall = nullptr;
  int r = sd_bus_message_new_method_call(bus.get(), &rawCall, kLogind, kLogindPath, kLogindManager,
                                         "Inhibit");
  const Message call(rawCall);
  if (r >= 0) r = sd_bus_message_append(call.get(), "ssss", kWhat, who.c_str(), why.c_str(), kMode);
  if (r < 0) {
    result.problem = "the call to logind could not be made: " + ErrorText(r);
    return result;
  }
  PendingInhibit pending;
  result.problem = AwaitInhibit(bus.get(), call.get(), pending);
  if (result.problem.empty()) result.lock = SleepInhibitor(std::move(pending.lock));
  return result;
}

}  // namespace platform
