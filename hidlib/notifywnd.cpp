#include "hidlib/notifywnd.h"

#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace hidlib {
namespace {

// Events come from udevd when it runs (devices ready, rules applied), otherwise straight
// from the kernel, as in containers without udevd.
// Enough for any burst of plugging; what is left waits for the next call.
constexpr int kMaxEventsPerCall = 256;

const char* EventSource() {
  return ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
}

bool IsArrivalOrRemoval(const char* action) {
  return action != nullptr &&
         (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0);
}

}  // namespace

void CNotifyWnd::UdevUnref::operator()(udev* context) const {
  ::udev_unref(context);
}
void CNotifyWnd::MonitorUnref::operator()(udev_monitor* monitor) const {
  ::udev_monitor_unref(monitor);
}

CNotifyWnd::CNotifyWnd() : udev_(::udev_new()) {
  if (!udev_) return;
  std::unique_ptr<udev_monitor, MonitorUnref> monitor(
      ::udev_monitor_new_from_netlink(udev_.get(), EventSource()));
  if (!monitor) return;
  if (::udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr) < 0 ||
      ::udev_monitor_enable_receiving(monitor.get()) < 0) {
    return;
  }
  monitor_ = std::move(monitor);
}

CNotifyWnd::~CNotifyWnd() = default;

bool CNotifyWnd::OnDeviceChange() {
  if (!monitor_) return false;
  bool changed = false;
  pollfd waiting{::udev_monitor_get_fd(monitor_.get()), POLLIN, 0};
  for (int i = 0; i < kMaxEventsPerCall; ++i) {
    if (::poll(&waiting, 1, 0) <= 0 || (waiting.revents & POLLIN) == 0) break;
    udev_device* device = ::udev_monitor_receive_device(monitor_.get());
    if (device == nullptr) continue;  // filtered out or not from a trusted sender
    if (IsArrivalOrRemoval(::udev_device_get_action(device))) changed = true;
    ::udev_device_unref(device);
  }
  return changed;
}

}  // namespace hidlib
