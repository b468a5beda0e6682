#include "usb/Unit_UsbEnumForm.h"

#include "platform/udev.h"

namespace {

uint32_t EventType(const std::string& action) {
  if (action == "add") return DBT_DEVICEARRIVAL;
  if (action == "remove") return DBT_DEVICEREMOVECOMPLETE;
  return DBT_DEVNODES_CHANGED;  // change, bind, unbind, move: not an arrival or removal
}

}  // namespace

TUsbEnumForm::TUsbEnumForm(platform::FdWatch* events) : events_(events) {}

TUsbEnumForm::~TUsbEnumForm() {
  UnregisterNotification();
}

void TUsbEnumForm::RegisterNotification() {
  UnregisterNotification();
  if (events_ == nullptr || Subsystem.empty()) return;
  platform::UdevContext udev;
  auto monitor = platform::UdevMonitor::Open(udev, Subsystem.c_str());
  if (!monitor.IsOpen()) return;
  DevNotify = std::make_unique<platform::UdevMonitor>(std::move(monitor));
  watchedFd_ = DevNotify->Fd();
  events_->Watch(watchedFd_, [this] { DispatchWaitingEvents(); });
}

void TUsbEnumForm::UnregisterNotification() {
  if (!DevNotify) return;
  if (events_ != nullptr && watchedFd_ >= 0) events_->Unwatch(watchedFd_);
  watchedFd_ = -1;
  DevNotify.reset();
}

void TUsbEnumForm::WMDeviceChange(uint32_t eventType) {
  if (eventType == DBT_DEVICEARRIVAL) {
    if (OnDeviceChange != nullptr) OnDeviceChange(DeviceChangeContext, 1);
    Label1.Caption = "DBT_DEVICEARRIVAL";
  } else if (eventType == DBT_DEVICEREMOVECOMPLETE) {
    if (OnDeviceChange != nullptr) OnDeviceChange(DeviceChangeContext, 0);
    Label1.Caption = "DBT_DEVICEREMOVECOMPLETE";
  }
}

void TUsbEnumForm::DispatchWaitingEvents() {
  // A hook may unregister the watcher while events still wait: stop then.
  while (DevNotify) {
    auto event = DevNotify->Receive();
    if (!event) break;
    WMDeviceChange(EventType(event->action));
  }
}
