// udev watch on hidraw devices, for the HID library.
#include "hidlib/notifywnd.h"

namespace hidlib {
namespace {

// Enough for any burst of plugging; what is left waits for the next call.
constexpr int kMaxEventsPerCall = 256;

}  // namespace

CNotifyWnd::CNotifyWnd()
    : monitor_(platform::UdevMonitor::Open(platform::UdevContext(), "hidraw")) {}

bool CNotifyWnd::OnDeviceChange() {
  bool changed = false;
  for (int i = 0; i < kMaxEventsPerCall; ++i) {
    const std::optional<platform::UdevEvent> event = monitor_.Receive();
    if (!event) break;
    if (event->action == "add" || event->action == "remove") changed = true;
  }
  return changed;
}

}  // namespace hidlib
