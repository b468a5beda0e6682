// The library's application object: the rule that gives the printer to one process at a
// time, and the operations behind the exported functions.
#pragma once

#include <cstdint>
#include <memory>

#include "hidlib/hid_device.h"
#include "hidlib/named_objects.h"
#include "hidlib/notifywnd.h"
#include "platform/clock.h"

namespace hidlib {

class CJXUsbHidApp {
 public:
  // Runs when the library is loaded: opens or creates the owner mutex and the owner record.
  // Either may stay missing; hidusbOpen then refuses.
  // The objects are the calling user's (see named_objects.h), in the folder that places
  // lead to.
  // Its pauses are taken on clock.
  CJXUsbHidApp(HidDeviceAccess& device, const ObjectPlaces& places, platform::Clock& clock);
  CJXUsbHidApp(const CJXUsbHidApp&) = delete;
  CJXUsbHidApp& operator=(const CJXUsbHidApp&) = delete;

  // Takes the device-change events that arrived since the last call; an arrival or
  // removal of any HID device closes the printer (CloseUsb). Every export but
  // hidusbGetVersion calls this first.
  void HandleDeviceChanges();

  int Open();
  int Close(int handle);
  int IsOpened(int handle);
  int ReadData(int handle, uint8_t* buffer, int length);
  int WriteData(int handle, const uint8_t* buffer, int length);

 private:
  // A handle is valid only when it is the calling process's own id.
  static bool IsOwnHandle(int handle);
  CJXUsbHidApp(HidDeviceAccess& device, const ObjectFolder& folder, platform::Clock& clock);
  int OpenAgain(uint32_t processId);
  bool OpenDevice();
  void CreateNotifyWnd();
  void DeleteNotifyWnd();
  // Closes the device here; the owner record and the mutex stay as they are.
  void CloseUsb();

  HidDeviceAccess& HidDevice;
  platform::Clock& TimeSource;
  OwnerRecord SharedView;
  OwnerMutex MutexHandle;
  std::unique_ptr<CNotifyWnd> NotifyWnd;
  bool DeviceOpened = false;
  bool NotifyRegistered = false;
};

}  // namespace hidlib
