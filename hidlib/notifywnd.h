// The library's watch on HID devices coming and going. The library has no message loop:
// each exported call first takes the events waiting here (CJXUsbHidApp::HandleDeviceChanges).
#pragma once

#include <memory>

struct udev;
struct udev_monitor;

namespace hidlib {

class CNotifyWnd {
 public:
  // Starts a libudev monitor on subsystem "hidraw"; IsWatching() is false when it cannot.
  CNotifyWnd();
  ~CNotifyWnd();
  CNotifyWnd(const CNotifyWnd&) = delete;
  CNotifyWnd& operator=(const CNotifyWnd&) = delete;

  bool IsWatching() const { return monitor_ != nullptr; }

  // Reads every event that is waiting, without blocking. True when one of them was the
  // arrival ("add") or removal ("remove") of any hidraw device.
  bool OnDeviceChange();

 private:
  struct UdevUnref {
    void operator()(udev* context) const;
  };
  struct MonitorUnref {
    void operator()(udev_monitor* monitor) const;
  };

  std::unique_ptr<udev, UdevUnref> udev_;
  std::unique_ptr<udev_monitor, MonitorUnref> monitor_;
};

}  // namespace hidlib
