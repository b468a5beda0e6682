// udev watch on hidraw devices, for the HID library.
//
// The library has no message loop: each exported call first takes the events waiting
// here (CJXUsbHidApp::HandleDeviceChanges).
#pragma once

#include "platform/udev.h"

namespace hidlib {

class CNotifyWnd {
 public:
  // Starts watching subsystem "hidraw"; without a monitor (udev unreachable) it sees no
  // event, and the printer works without the watch.
  CNotifyWnd();
  CNotifyWnd(const CNotifyWnd&) = delete;
  CNotifyWnd& operator=(const CNotifyWnd&) = delete;

  // Reads every event that is waiting, without blocking. True when one of them was the
  // arrival ("add") or removal ("remove") of any hidraw device.
  bool OnDeviceChange();

 private:
  platform::UdevMonitor monitor_;
};

}  // namespace hidlib
