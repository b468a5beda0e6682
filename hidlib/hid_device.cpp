#include "hidlib/hid_device.h"

#include <algorithm>
#include <cstring>

namespace hidlib {
namespace {

constexpr uint32_t kPassIntervalMs = 10;

uint32_t LittleEndian32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

// Copies text into a buffer of size bytes, cut if need be, always terminated.
void CopyPath(char* to, size_t size, const char* from) {
  if (size == 0) return;
  const size_t n = std::min(std::strlen(from), size - 1);
  std::memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

HidDeviceAccess::HidDeviceAccess(uint8_t* ringStorage, uint32_t ringCapacity,
                                 platform::Clock& clock, const char* hidApiLibrary)
    : TimeSource(clock),
      HidApiLibrary(hidApiLibrary),
      RingStorage(ringStorage),
      RingCapacity(ringCapacity) {
  ReceiveRing.Reset(RingStorage, RingCapacity);
}

int HidDeviceAccess::BindHidFunctions() {
  if (!HidDllModule.Bind(HidApiLibrary)) return -1;
  ReceiveRing.Reset(RingStorage, RingCapacity);
  return 1;
}

int HidDeviceAccess::ConnectDevice(char* path, size_t pathSize) {
  if (IsOpen()) {
    CopyPath(path, pathSize, HidDevicePath);
    return 2;
  }
  if (!OpenDeviceHandle()) return 0;
  CopyPath(path, pathSize, HidDevicePath);
  return 1;
}

bool HidDeviceAccess::OpenDeviceHandle() {
  if (IsOpen()) return true;
  if (!HidDllModule.IsBound()) return false;
  hid_device_info* list = HidDllModule.enumerate(kPrinterVendorId, kPrinterProductId);
  for (const hid_device_info* info = list; info != nullptr; info = info->next) {
    if (info->vendor_id != kPrinterVendorId || info->product_id != kPrinterProductId) continue;
    // A path that does not fit HidDevicePath could not be reported whole: skip it.
    if (info->path == nullptr || std::strlen(info->path) >= kDevicePathSize) continue;
    hid_device* device = HidDllModule.open_path(info->path);
    if (device == nullptr) continue;
    HidDeviceHandle = device;
    CopyPath(HidDevicePath, kDevicePathSize, info->path);
    break;
  }
  if (list != nullptr) HidDllModule.free_enumeration(list);
  return IsOpen();
}

void HidDeviceAccess::CloseHidDevice() {
  if (HidDeviceHandle != nullptr) {
    HidDllModule.close(HidDeviceHandle);
    HidDeviceHandle = nullptr;
    HidDevicePath[0] = '\0';
  }
  if (HidDllModule.IsBound()) HidDllModule.Unbind();
}

int32_t HidDeviceAccess::PollInputReport() {
  if (!IsOpen()) return -1;
  std::memset(InputReport, 0, sizeof InputReport);
  InputReport[0] = 0;  // report id
  const int got = HidDllModule.get_input_report(HidDeviceHandle, InputReport, kReportSize);
  if (got < 0) return -1;
  // A report names at most the data it can hold, and never more than actually arrived.
  const int arrived = std::max(0, got - kInputDataOffset);
  const uint32_t n =
      std::min({uint32_t{InputReport[1]}, uint32_t(kMaxInputData), uint32_t(arrived)});
  const uint32_t k = std::min(n, ReceiveRing.FreeSpace());
  for (uint32_t i = 0; i < k; ++i)
    ReceiveRing.Put(InputReport[kInputDataOffset + i]);
  const uint32_t credit = LittleEndian32(InputReport + 2);
  // A credit with the top bit set would read as a negative count: it grants nothing.
  return (credit & 0x80000000u) != 0 ? 0 : static_cast<int32_t>(credit);
}

int32_t HidDeviceAccess::SendUSBData(const uint8_t* data, int32_t count) {
  if (!IsOpen()) return -1;
  const int32_t credit = PollInputReport();
  if (credit == -1) return -1;
  const int32_t n = std::min(count, credit);
  if (n <= 0) return 0;
  OutputReport[0] = 0;  // report id
  for (int32_t sent = 0; sent < n;) {
    const int chunk = std::min(n - sent, kMaxOutputPayload);
    OutputReport[1] = static_cast<uint8_t>(chunk);
    std::memcpy(OutputReport + 2, data + sent, static_cast<size_t>(chunk));
    // Clear what follows the payload so that no older payload bytes go out again.
    std::memset(OutputReport + 2 + chunk, 0, sizeof OutputReport - 2 - chunk);
    if (HidDllModule.write(HidDeviceHandle, OutputReport, kReportSize) < 0) return -1;
    sent += chunk;
  }
  return n;
}

int32_t HidDeviceAccess::WriteAll(const uint8_t* data, int32_t length) {
  int32_t total = 0;
  while (length > 0) {
    const int32_t sent = SendUSBData(data + total, length);
    if (sent == -1) return total;
    total += sent;
    length -= sent;
    TimeSource.SleepMs(kPassIntervalMs);
  }
  return total;
}

int32_t HidDeviceAccess::ReadAvailable(uint8_t* buffer, int32_t length) {
  PollInputReport();
  const uint32_t wanted = length > 0 ? static_cast<uint32_t>(length) : 0;
  const uint32_t m = std::min(wanted, ReceiveRing.Count());
  for (uint32_t i = 0; i < m; ++i)
    buffer[i] = ReceiveRing.Get();
  return static_cast<int32_t>(m);
}

}  // namespace hidlib
