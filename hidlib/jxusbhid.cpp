// libJXUsbHid.so: the application object and the seven exported functions.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "hidlib/JXUsbHid.h"
#include "hidlib/jxusbhid_app.h"

namespace hidlib {
namespace {

constexpr auto kSettleAfterOpen = std::chrono::milliseconds(200);
constexpr auto kSettleBeforeReturn = std::chrono::milliseconds(100);

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(::getpid());
}

}  // namespace

CJXUsbHidApp::CJXUsbHidApp(HidDeviceAccess& device, const char* runtimeDir)
    : CJXUsbHidApp(device, ObjectFolder::ForCaller(runtimeDir)) {}

CJXUsbHidApp::CJXUsbHidApp(HidDeviceAccess& device, const ObjectFolder& folder)
    : device_(device),
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
  std::this_thread::sleep_for(kSettleBeforeReturn);
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
  std::this_thread::sleep_for(kSettleBeforeReturn);
  device_.ResetRings();
  SharedView.Write(pid);
  MutexHandle.Unlock();  // this call's hold; the first open's stays
  return static_cast<int>(pid);
}

bool CJXUsbHidApp::OpenDevice() {
  if (DeviceOpened) return true;
  if (device_.BindHidFunctions() != 1) return false;
  char path[1024] = {};
  if (device_.ConnectDevice(path, sizeof path) == 0) {
    device_.CloseHidDevice();
    return false;
  }
  if (!NotifyRegistered) CreateNotifyWnd();
  DeviceOpened = true;
  std::this_thread::sleep_for(kSettleAfterOpen);
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
  device_.CloseHidDevice();
  if (NotifyRegistered) DeleteNotifyWnd();
}

int CJXUsbHidApp::Close(int handle) {
  if (!IsOwnHandle(handle)) return 0;
  CloseUsb();
  device_.ResetRings();
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
  return device_.ReadAvailable(buffer, buffer != nullptr ? length : 0);
}

int CJXUsbHidApp::WriteData(int handle, const uint8_t* buffer, int length) {
  if (!IsOwnHandle(handle) || !DeviceOpened || buffer == nullptr) return 0;
  return device_.WriteAll(buffer, length);
}

namespace {

constexpr char kVersion[] = "2.0.0.0";
constexpr int kVersionLength = sizeof kVersion - 1;

// Module state, built when the library is loaded, in this order: the buffers are static
// and zero (nothing is allocated per transfer), the device layer only records where its
// ring lives, and the application object opens the named owner objects, which never fails
// loudly: a missing object only makes hidusbOpen refuse.
uint8_t ScratchBuffer[1024 * 1024];
const int32_t ScratchWord = 0;
uint8_t ReceiveStorage[kReceiveRingSize];
HidDeviceAccess Device(ReceiveStorage, kReceiveRingSize);
CJXUsbHidApp theApp(Device, std::getenv("XDG_RUNTIME_DIR"));

}  // namespace
}  // namespace hidlib

using hidlib::theApp;

// No exception may leave the library: every export turns one into its failure result.

extern "C" int hidusbGetVersion(char* buffer, int size) {
  if (buffer == nullptr) return hidlib::kVersionLength;
  if (size < hidlib::kVersionLength) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  std::memcpy(buffer, hidlib::kVersion, hidlib::kVersionLength);
  return hidlib::kVersionLength;
}

extern "C" int hidusbOpen(void) {
  try {
    theApp.HandleDeviceChanges();
    return theApp.Open();
  } catch (...) {
    return 0;
  }
}

extern "C" int hidusbClose(int handle) {
  try {
    theApp.HandleDeviceChanges();
    return theApp.Close(handle);
  } catch (...) {
    return 0;
  }
}

extern "C" int hidusbIsOpened(int handle) {
  try {
    theApp.HandleDeviceChanges();
    return theApp.IsOpened(handle);
  } catch (...) {
    return 0;
  }
}

extern "C" int hidusbReadData(int handle, unsigned char* buffer, int length) {
  try {
    theApp.HandleDeviceChanges();
    return theApp.ReadData(handle, buffer, length);
  } catch (...) {
    return 0;
  }
}

extern "C" int hidusbWriteData(int handle, const unsigned char* buffer, int length) {
  try {
    theApp.HandleDeviceChanges();
    return theApp.WriteData(handle, buffer, length);
  } catch (...) {
    return 0;
  }
}

extern "C" intptr_t hidusbGetHandle(int /*ignored*/, int selector) {
  try {
    theApp.HandleDeviceChanges();
  } catch (...) {
  }
  switch (selector) {
    case 0:
      return reinterpret_cast<intptr_t>(hidlib::ScratchBuffer);
    case 1:
      return hidlib::ScratchWord;
    default:
      return 0;
  }
}
