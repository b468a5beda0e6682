// The HID library's application object: one process at a time owns the printer.
#include "hidlib/jxusbhid_app.h"

#include <unistd.h>

namespace hidlib {
namespace {

constexpr uint32_t kSettleAfterOpenMs = 200;
constexpr uint32_t kSettleBeforeReturnMs = 100;

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(::getpid());
}

}  // namespace

CJXUsbHidApp::CJXUsbHidApp(HidDeviceAccess& device, const ObjectPlaces& places,
                           platform::Clock& clock)
    : CJXUsbHidApp(device, ObjectFolder::ForCaller(places), clock) {}

CJXUsbHidApp::CJXUsbHidApp(HidDeviceAccess& device, const ObjectFolder& folder,
                           platform::Clock& clock)
    : HidDevice(device),
      TimeSource(clock),
      SharedView(OwnerRecord::Open(folder)),
      MutexHandle(OwnerMutex::Open(folder)) {}

bool CJXUsbHidApp::IsOwnHandle(int handle) {
  return handle != 0 && static_cast<uint32_t>(handle) == CurrentProcessId();
}

void CJXUsbHidApp::HandleDeviceChanges() {
  // The watcher is only read here; it is destroyed after it has finished, never inside.
  if (NotifyWnd && NotifyWnd->OnDeviceChange()) CloseUsb();
}

int CJXUsbHidApp::Open() {
  // Without the owner record nobody could tell who holds the printer: refuse.
  if (!MutexHandle.IsValid() || !SharedView.IsMapped()) return 0;
  const OwnerMutex::TryResult wait = MutexHandle.TryLock();
  if (wait == OwnerMutex::TryResult::kBusy || wait == OwnerMutex::TryResult::kFailed) return 0;
  const uint32_t pid = CurrentProcessId();
  // After an abandoned mutex the record is stale whatever it says, even when a new process
  // has been given the dead owner's id.
  if (wait == OwnerMutex::TryResult::kAcquired && SharedView.Names(pid)) return OpenAgain(pid);
  if (!OpenDevice()) {
    SharedView.Write(0);
    MutexHandle.Unlock();
    return 0;
  }
  TimeSource.SleepMs(kSettleBeforeReturnMs);
  SharedView.Write(pid);
  return static_cast<int>(pid);  // the mutex stays held until hidusbClose
}

int CJXUsbHidApp::OpenAgain(uint32_t pid) {
  if (!DeviceOpened && !OpenDevice()) {
    SharedView.ClearProcessId();
    MutexHandle.Unlock();  // this call's hold
    MutexHandle.Unlock();  // and the one kept from the first open
    return 0;
  }
  TimeSource.SleepMs(kSettleBeforeReturnMs);
  HidDevice.ResetRings();
  SharedView.Write(pid);
  MutexHandle.Unlock();  // this call's hold; the first open's stays
  return static_cast<int>(pid);
}

bool CJXUsbHidApp::OpenDevice() {
  if (DeviceOpened) return true;
  if (HidDevice.BindHidFunctions() != 1) return false;
  char path[1024] = {};
  if (HidDevice.ConnectDevice(path, sizeof path) == 0) {
    HidDevice.CloseHidDevice();
    return false;
  }
  if (!NotifyRegistered) CreateNotifyWnd();
  DeviceOpened = true;
  TimeSource.SleepMs(kSettleAfterOpenMs);
  return true;
}

void CJXUsbHidApp::CreateNotifyWnd() {
  NotifyWnd = std::make_unique<CNotifyWnd>();
  // Set even when the monitor could not start: the printer then works without the watch.
  NotifyRegistered = true;
}

void CJXUsbHidApp::DeleteNotifyWnd() {
  NotifyWnd.reset();
  NotifyRegistered = false;
}

void CJXUsbHidApp::CloseUsb() {
  DeviceOpened = false;
  HidDevice.CloseHidDevice();
  if (NotifyRegistered) DeleteNotifyWnd();
}

int CJXUsbHidApp::Close(int handle) {
  if (!IsOwnHandle(handle)) return 0;
  CloseUsb();
  HidDevice.ResetRings();
  // A process that does not own the printer gives up nothing: clearing another owner's
  // record would let that owner take a second hold it never gives back.
  const bool ownedByOther =
      SharedView.IsMapped() && !SharedView.Names(0) && !SharedView.Names(CurrentProcessId());
  if (!ownedByOther) {
    if (SharedView.IsMapped()) SharedView.Write(0);
    MutexHandle.Unlock();
  }
  return 1;
}

int CJXUsbHidApp::IsOpened(int handle) {
  if (!IsOwnHandle(handle)) return 0;
  return DeviceOpened ? 1 : 0;
}

int CJXUsbHidApp::ReadData(int handle, uint8_t* buffer, int length) {
  if (!IsOwnHandle(handle) || !DeviceOpened) return 0;
  return HidDevice.ReadAvailable(buffer, buffer != nullptr ? length : 0);
}

int CJXUsbHidApp::WriteData(int handle, const uint8_t* buffer, int length) {
  if (!IsOwnHandle(handle) || !DeviceOpened || buffer == nullptr) return 0;
  return HidDevice.WriteAll(buffer, length);
}

}  // namespace hidlib
