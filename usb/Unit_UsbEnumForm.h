// udev watch for printer arrival and removal.
//
// The device-change watcher names the last event in its label. Events are handled on the
// front end's event-loop thread.
//
// The printer port owns one watcher that registers for the printer nodes ("usbmisc");
// the application's start-up builds a second one, as the system's start-up does, that
// never registers and only sees what its owner passes to WMDeviceChange.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/fd_watch.h"

namespace platform {
class UdevEventQueue;
}

namespace usb {

// Device-change event types, as the handler tells them apart.
inline constexpr uint32_t DBT_DEVNODES_CHANGED = 0x0007;
inline constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

// The subsystem of the printer nodes (/dev/usb/lpN) that the port's watcher watches.
inline constexpr const char* kPrinterNodeSubsystem = "usbmisc";

struct TLabel {
  std::string Caption;
};

// Called on arrival (arrived 1) and completed removal (arrived 0).
using TDeviceChangeEvent = void (*)(void* context, int arrived);

class TUsbEnumForm {
 public:
  // events is the loop that will watch the registration; without one the watcher
  // cannot register.
  explicit TUsbEnumForm(platform::FdWatch* events = nullptr);
  // Drops the registration first.
  ~TUsbEnumForm();
  TUsbEnumForm(const TUsbEnumForm&) = delete;
  TUsbEnumForm& operator=(const TUsbEnumForm&) = delete;

  // Starts listening for add and remove events of Subsystem. On failure (no event loop,
  // no subsystem, udev unavailable) DevNotify stays empty and nothing is reported.
  void RegisterNotification();
  // Stops listening; does nothing when not registered, so it may run more than once.
  void UnregisterNotification();
  // Handles one event: arrival and completed removal call the hook (when set), then
  // set the label; every other type changes nothing.
  void WMDeviceChange(uint32_t eventType);

  std::string Caption = "UsbEnumForm";
  // Shows nothing on Linux (the watcher has no window); the name of the last event is
  // kept for those who look, as the system's watcher keeps it.
  TLabel Label1{"Label1"};
  // The registration, empty when none. A thread of its own keeps reading the events, so
  // that none is lost while the loop does not look (the 5 s the printer is given to
  // start its firmware); they are handled on the loop's thread all the same.
  std::unique_ptr<platform::UdevEventQueue> DevNotify;
  std::string Subsystem;  // the device class to watch; the port sets the printer nodes'
  TDeviceChangeEvent OnDeviceChange = nullptr;
  void* DeviceChangeContext = nullptr;

 private:
  void DispatchWaitingEvents();

  platform::FdWatch* Events;
  int WatchedFd = -1;
};

}  // namespace usb
