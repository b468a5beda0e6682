// udev watch for printer arrival and removal.
#include "usb/Unit_UsbEnumForm.h"

#include "platform/udev.h"

namespace usb {

namespace {

uint32_t EventType(const std::string& action) {
  if (action == "add") return DBT_DEVICEARRIVAL;
  if (action == "remove") return DBT_DEVICEREMOVECOMPLETE;
  return DBT_DEVNODES_CHANGED;  // change, bind, unbind, move: not an arrival or removal
}

}  // namespace

TUsbEnumForm::TUsbEnumForm(platform::FdWatch* events) : Events(events) {}

TUsbEnumForm::~TUsbEnumForm() {
  UnregisterNotification();
}

void TUsbEnumForm::RegisterNotification() {
  UnregisterNotification();
  if (Events == nullptr || Subsystem.empty()) return;
  platform::UdevContext udev;
  DevNotify = platform::UdevEventQueue::Open(udev, Subsystem.c_str());
  if (!DevNotify) return;
  WatchedFd = DevNotify->Fd();
  Events->Watch(WatchedFd, [this] { DispatchWaitingEvents(); });
}

void TUsbEnumForm::UnregisterNotification() {
  if (!DevNotify) return;
  if (Events != nullptr && WatchedFd >= 0) Events->Unwatch(WatchedFd);
  WatchedFd = -1;
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

}  // namespace usb
