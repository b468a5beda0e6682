#include "platform/udev.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>

#include <utility>

namespace platform {

namespace {

std::string Text(const char* value) {
  return value != nullptr ? std::string(value) : std::string();
}

std::string Trimmed(std::string text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::shared_ptr<udev_device> OwnDevice(udev_device* device) {
  if (device == nullptr) return nullptr;
  return std::shared_ptr<udev_device>(device, udev_device_unref);
}

// udevd's control socket exists exactly while udevd runs; without udevd only the
// kernel's own events are sent.
const char* MonitorSource() {
  return access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
}

}  // namespace

std::string UdevDevice::SysPath() const {
  return device_ ? Text(udev_device_get_syspath(device_.get())) : std::string();
}

std::string UdevDevice::SysName() const {
  return device_ ? Text(udev_device_get_sysname(device_.get())) : std::string();
}

std::string UdevDevice::Subsystem() const {
  return device_ ? Text(udev_device_get_subsystem(device_.get())) : std::string();
}

std::string UdevDevice::DevType() const {
  return device_ ? Text(udev_device_get_devtype(device_.get())) : std::string();
}

std::string UdevDevice::DevNode() const {
  return device_ ? Text(udev_device_get_devnode(device_.get())) : std::string();
}

std::string UdevDevice::Driver() const {
  return device_ ? Text(udev_device_get_driver(device_.get())) : std::string();
}

bool UdevDevice::DevNumber(unsigned& major, unsigned& minor) const {
  if (!device_) return false;
  dev_t number = udev_device_get_devnum(device_.get());
  if (number == makedev(0, 0)) return false;
  major = ::major(number);
  minor = ::minor(number);
  return true;
}

std::string UdevDevice::Attribute(const char* name) const {
  return device_ ? Trimmed(Text(udev_device_get_sysattr_value(device_.get(), name)))
                 : std::string();
}

UdevDevice UdevDevice::Ancestor(const char* subsystem, const char* devtype) const {
  if (!device_) return UdevDevice();
  // The parent belongs to its child; take a reference of our own so it may outlive it.
  udev_device* parent =
      udev_device_get_parent_with_subsystem_devtype(device_.get(), subsystem, devtype);
  if (parent == nullptr) return UdevDevice();
  return UdevDevice(context_, OwnDevice(udev_device_ref(parent)));
}

UdevContext::UdevContext() {
  udev* context = udev_new();
  if (context != nullptr) context_ = std::shared_ptr<udev>(context, udev_unref);
}

std::vector<UdevDevice> UdevContext::Enumerate(const char* subsystem, const char* sysnamePattern,
                                               const UdevDevice& below) const {
  std::vector<UdevDevice> devices;
  if (!context_) return devices;
  std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)> scan(
      udev_enumerate_new(context_.get()), udev_enumerate_unref);
  if (!scan) return devices;
  if (subsystem != nullptr) udev_enumerate_add_match_subsystem(scan.get(), subsystem);
  if (sysnamePattern != nullptr) udev_enumerate_add_match_sysname(scan.get(), sysnamePattern);
  if (below.IsValid() && udev_enumerate_add_match_parent(scan.get(), below.device_.get()) < 0) {
    return devices;
  }
  if (udev_enumerate_scan_devices(scan.get()) < 0) return devices;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
    auto device =
        OwnDevice(udev_device_new_from_syspath(context_.get(), udev_list_entry_get_name(entry)));
    if (device) devices.push_back(UdevDevice(context_, std::move(device)));
  }
  return devices;
}

UdevDevice UdevContext::Device(const char* subsystem, const std::string& sysName) const {
  // A kernel name never holds a "/"; one that does would reach outside the bus folder.
  if (!context_ || sysName.empty() || sysName.find('/') != std::string::npos) return UdevDevice();
  auto device =
      OwnDevice(udev_device_new_from_subsystem_sysname(context_.get(), subsystem, sysName.c_str()));
  if (!device) return UdevDevice();
  return UdevDevice(context_, std::move(device));
}

UdevMonitor UdevMonitor::Open(const UdevContext& context, const char* subsystem) {
  UdevMonitor result;
  if (!context.context_) return result;
  std::shared_ptr<udev_monitor> monitor(
      udev_monitor_new_from_netlink(context.context_.get(), MonitorSource()), [](udev_monitor* m) {
        if (m != nullptr) udev_monitor_unref(m);
      });
  if (!monitor) return result;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), subsystem, nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor.get()) < 0) {
    return result;
  }
  result.context_ = context.context_;
  result.monitor_ = std::move(monitor);
  return result;
}

int UdevMonitor::Fd() const {
  return monitor_ ? udev_monitor_get_fd(monitor_.get()) : -1;
}

std::optional<UdevEvent> UdevMonitor::Receive() {
  if (!monitor_) return std::nullopt;
  auto device = OwnDevice(udev_monitor_receive_device(monitor_.get()));
  if (!device) return std::nullopt;
  UdevEvent event;
  event.action = Text(udev_device_get_action(device.get()));
  event.subsystem = Text(udev_device_get_subsystem(device.get()));
  event.sysName = Text(udev_device_get_sysname(device.get()));
  event.devNode = Text(udev_device_get_devnode(device.get()));
  return event;
}

namespace {

Descriptor NewEventFd() {
  return Descriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
}

void Signal(const Descriptor& fd) {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n =
      RetryOnInterrupt([&] { return ::write(fd.Get(), &one, sizeof one); });
}

void Clear(const Descriptor& fd) {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t n =
      RetryOnInterrupt([&] { return ::read(fd.Get(), &count, sizeof count); });
}

}  // namespace

std::unique_ptr<UdevEventQueue> UdevEventQueue::Open(const UdevContext& context,
                                                     const char* subsystem) {
  UdevMonitor monitor = UdevMonitor::Open(context, subsystem);
  Descriptor ready = NewEventFd();
  Descriptor stop = NewEventFd();
  if (!monitor.IsOpen() || !ready.IsOpen() || !stop.IsOpen()) return nullptr;
  auto queue = std::make_unique<UdevEventQueue>(Passkey{}, std::move(monitor), std::move(ready),
                                                std::move(stop));
  try {
    queue->thread_ = std::thread([q = queue.get()] { q->Drain(); });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return queue;
}

UdevEventQueue::UdevEventQueue(Passkey, UdevMonitor monitor, Descriptor ready, Descriptor stop)
    : monitor_(std::move(monitor)), ready_(std::move(ready)), stop_(std::move(stop)) {}

UdevEventQueue::~UdevEventQueue() {
  if (thread_.joinable()) {
    Signal(stop_);
    thread_.join();
  }
}

void UdevEventQueue::Drain() {
  pollfd watched[2] = {{monitor_.Fd(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
  for (;;) {
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched[1].revents != 0) return;
    if (watched[0].revents & (POLLERR | POLLNVAL)) return;
    while (auto event = monitor_.Receive()) {
      std::lock_guard<std::mutex> hold(lock_);
      if (events_.size() >= kLimit) events_.pop_front();
      events_.push_back(std::move(*event));
      Signal(ready_);
    }
  }
}

std::optional<UdevEvent> UdevEventQueue::Receive() {
  std::lock_guard<std::mutex> hold(lock_);
  if (events_.empty()) {
    Clear(ready_);
    return std::nullopt;
  }
  UdevEvent event = std::move(events_.front());
  events_.pop_front();
  if (events_.empty()) Clear(ready_);
  return event;
}

}  // namespace platform
