// libJXUsbHid.so: the module's state and the seven exported functions.
#include <cstdint>
#include <cstring>

#include "hidlib/JXUsbHid.h"
#include "hidlib/jxusbhid_app.h"
#include "platform/clock.h"

namespace hidlib {

namespace {

constexpr char kVersion[] = "2.0.0.0";
constexpr int kVersionLength = sizeof kVersion - 1;

// Module state, built when the library is loaded, in this order: the buffers are static
// and zero (nothing is allocated per transfer), the device layer only records where its
// ring lives, and the application object opens the named owner objects, which never fails
// loudly: a missing object only makes hidusbOpen refuse. Both take their pauses on the
// library's one clock.
uint8_t ScratchBuffer[1024 * 1024];
const int32_t ScratchWord = 0;
uint8_t ReceiveStorage[kReceiveRingSize];
HidDeviceAccess Device(ReceiveStorage, kReceiveRingSize, platform::SystemClock());
CJXUsbHidApp theApp(Device, ObjectPlaces::FromEnvironment(), platform::SystemClock());

// Every export but hidusbGetVersion first takes the device changes waiting, then runs its
// operation. No exception ever crosses into the caller: one from either step makes the
// export return failure.
template <typename Result, typename Operation>
Result AfterDeviceChanges(Result failure, Operation operation) noexcept {
  try {
    theApp.HandleDeviceChanges();
    return operation();
  } catch (...) {
    return failure;
  }
}

intptr_t ScratchHandle(int selector) {
  switch (selector) {
    case 0:
      return reinterpret_cast<intptr_t>(ScratchBuffer);
    case 1:
      return ScratchWord;
    default:
      return 0;
  }
}

}  // namespace
}  // namespace hidlib

using hidlib::AfterDeviceChanges;
using hidlib::theApp;

extern "C" int hidusbGetVersion(char* buffer, int size) {
  if (buffer == nullptr) return hidlib::kVersionLength;
  if (size < hidlib::kVersionLength) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  std::memcpy(buffer, hidlib::kVersion, hidlib::kVersionLength);
  return hidlib::kVersionLength;
}

extern "C" int hidusbOpen(void) {
  return AfterDeviceChanges(0, [] { return theApp.Open(); });
}

extern "C" int hidusbClose(int handle) {
  return AfterDeviceChanges(0, [=] { return theApp.Close(handle); });
}

extern "C" int hidusbIsOpened(int handle) {
  return AfterDeviceChanges(0, [=] { return theApp.IsOpened(handle); });
}

extern "C" int hidusbReadData(int handle, unsigned char* buffer, int length) {
  return AfterDeviceChanges(0, [=] { return theApp.ReadData(handle, buffer, length); });
}

extern "C" int hidusbWriteData(int handle, const unsigned char* buffer, int length) {
  return AfterDeviceChanges(0, [=] { return theApp.WriteData(handle, buffer, length); });
}

extern "C" intptr_t hidusbGetHandle(int /*ignored*/, int selector) {
  // The answer does not depend on the device, so it stands even when taking the changes
  // fails.
  const intptr_t answer = hidlib::ScratchHandle(selector);
  return AfterDeviceChanges(answer, [=] { return answer; });
}
