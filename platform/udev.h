// RAII access to the udev device database and its hot-plug events (libudev). No udev
// type is visible to callers beyond the opaque handles held inside these classes.
// libudev objects are not thread-safe: use each object on one thread only.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/descriptor.h"

struct udev;
struct udev_device;
struct udev_monitor;

namespace platform {

// One device of the udev database; an empty object when a look-up found nothing.
class UdevDevice {
 public:
  UdevDevice() = default;

  bool IsValid() const { return device_ != nullptr; }
  std::string SysPath() const;
  std::string SysName() const;
  std::string Subsystem() const;
  std::string DevType() const;
  // The device node ("/dev/usb/lp0"), empty when the device has none.
  std::string DevNode() const;
  // The driver bound to the device, empty when none.
  std::string Driver() const;
  // Device number of the node; false when the device has none.
  bool DevNumber(unsigned& major, unsigned& minor) const;
  // A sysfs attribute ("idVendor") with surrounding blanks removed; empty when missing.
  std::string Attribute(const char* name) const;
  // The nearest ancestor of the given subsystem and device type (devtype may be null);
  // an empty object when there is none.
  UdevDevice Ancestor(const char* subsystem, const char* devtype) const;

 private:
  friend class UdevContext;
  friend class UdevMonitor;
  UdevDevice(std::shared_ptr<udev> context, std::shared_ptr<udev_device> device)
      : context_(std::move(context)), device_(std::move(device)) {}

  std::shared_ptr<udev> context_;
  std::shared_ptr<udev_device> device_;
};

// A libudev context; every device and monitor made from it keeps it alive.
class UdevContext {
 public:
  // IsValid() is false when libudev could not make a context.
  UdevContext();

  bool IsValid() const { return context_ != nullptr; }
  // Every device of the subsystem whose name matches sysnamePattern (a shell glob,
  // null for any), in udev's enumeration order. Empty when the scan fails. With below,
  // only the devices in its subtree are looked at, which is cheaper than a whole scan.
  std::vector<UdevDevice> Enumerate(const char* subsystem, const char* sysnamePattern,
                                    const UdevDevice& below = UdevDevice()) const;
  // The device of the subsystem whose kernel name is sysName ("usb", "1-1.4"); an empty
  // object when there is none.
  UdevDevice Device(const char* subsystem, const std::string& sysName) const;

 private:
  friend class UdevMonitor;
  std::shared_ptr<udev> context_;
};

// One hot-plug event as the monitor received it.
struct UdevEvent {
  std::string action;  // "add", "remove", "change", "bind", "unbind", ...
  std::string subsystem;
  std::string sysName;
  std::string devNode;
};

// Receives the hot-plug events of one subsystem. Its descriptor is non-blocking and
// becomes readable when events wait; Receive() takes them one at a time.
class UdevMonitor {
 public:
  UdevMonitor() = default;

  // Listens to the events that udevd sends after it has handled a device (when udevd
  // runs), else to the kernel's own. IsOpen() is false when that fails.
  static UdevMonitor Open(const UdevContext& context, const char* subsystem);

  bool IsOpen() const { return monitor_ != nullptr; }
  int Fd() const;
  // The next waiting event, or nothing when none waits.
  std::optional<UdevEvent> Receive();

 private:
  std::shared_ptr<udev> context_;
  std::shared_ptr<udev_monitor> monitor_;
};

// A UdevMonitor that a thread of its own keeps reading, so that the events never pile up
// in its socket however long its owner goes without looking (a sleep of seconds while
// a printer starts its firmware, a write that waits). A socket that holds only a few
// datagrams would overflow meanwhile: umockdev's emulated one holds ten, and its sender
// gives up on the whole device tree when one is full.
class UdevEventQueue {
 public:
  // The most events kept for the owner; older ones are dropped beyond it.
  static constexpr size_t kLimit = 1024;

  // Listens as UdevMonitor::Open does; null when that, or starting the thread, fails.
  static std::unique_ptr<UdevEventQueue> Open(const UdevContext& context, const char* subsystem);
  // Stops the thread and waits for it.
  ~UdevEventQueue();
  UdevEventQueue(const UdevEventQueue&) = delete;
  UdevEventQueue& operator=(const UdevEventQueue&) = delete;

  // Readable while events wait (the owner watches it in its event loop).
  int Fd() const { return ready_.Get(); }
  // The oldest waiting event, or nothing when none waits. Owner's thread only.
  std::optional<UdevEvent> Receive();

 private:
  struct Passkey {};

 public:
  // For Open only (the key cannot be named outside).
  UdevEventQueue(Passkey, UdevMonitor monitor, Descriptor ready, Descriptor stop);

 private:
  void Drain();

  UdevMonitor monitor_;  // used by the thread alone once it runs
  Descriptor ready_;     // eventfd: events wait
  Descriptor stop_;      // eventfd: the thread is to end
  std::mutex lock_;      // guards events_ and the count in ready_
  std::deque<UdevEvent> events_;
  std::thread thread_;
};

}  // namespace platform
