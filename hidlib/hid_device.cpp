#include "hidlib/hid_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace hidlib {
namespace {

constexpr auto kPassInterval = std::chrono::milliseconds(10);

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
                                 const char* hidApiLibrary)
    : hidApiLibrary_(hidApiLibrary), ringStorage_(ringStorage), ringCapacity_(ringCapacity) {
  ReceiveRing.Reset(ringStorage_, ringCapacity_);
}

int HidDeviceAccess::BindHidFunctions() {
  if (!api_.Bind(hidApiLibrary_)) return -1;
  ReceiveRing.Reset(ringStorage_, ringCapacity_);
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
  if (!api_.IsBound()) return false;
  hid_device_info* list = api_.enumerate(kPrinterVendorId, kPrinterProductId);
  for (const hid_device_info* info = list; info != nullptr; info = info->next) {
    if (info->vendor_id != kPrinterVendorId || info->product_id != kPrinterProductId) continue;
    // A path that does not fit HidDevicePath could not be reported whole: skip it.
    if (info->path == nullptr || std::strlen(info->path) >= kDevicePathSize) continue;
    hid_device* device = api_.open_path(info->path);
    if (device == nullptr) continue;
    HidDeviceHandle = device;
    CopyPath(HidDevicePath, kDevicePathSize, info->path);
    break;
  }
  if (list != nullptr) api_.free_enumeration(list);
  return IsOpen();
}

void HidDeviceAccess::CloseHidDevice() {
  if (HidDeviceHandle != nullptr) {
    api_.close(HidDeviceHandle);
    HidDeviceHandle = nullptr;
    HidDevicePath[0] = '\0';
  }
  if (api_.IsBound()) api_.Unbind();
}

int32_t HidDeviceAccess::PollInputReport() {
  if (!IsOpen()) return -1;
  std::memset(inputReport_, 0, sizeof inputReport_);
  inputReport_[0] = 0;  // report id
  const int got = api_.get_input_report(HidDeviceHandle, inputReport_, kReportSize);
  if (got < 0) return -1;
  // A report names at most the data it can hold, and never more than actually arrived.
  const int arrived = std::max(0, got - kInputDataOffset);
  const uint32_t n =
      std::min({uint32_t{inputReport_[1]}, uint32_t(kMaxInputData), uint32_t(arrived)});
  const uint32_t k = std::min(n, ReceiveRing.FreeSpace());
  for (uint32_t i = 0; i < k; ++i)
    ReceiveRing.Put(inputReport_[kInputDataOffset + i]);
  const uint32_t credit = LittleEndian32(inputReport_ + 2);
  // A credit with the top bit set would read as a negative count: it grants nothing.
  return (credit & 0x80000000u) != 0 ? 0 : static_cast<int32_t>(credit);
}

int32_t HidDeviceAccess::SendUSBData(const uint8_t* data, int32_t count) {
  if (!IsOpen()) return -1;
  const int32_t credit = PollInputReport();
  if (credit == -1) return -1;
  const int32_t n = std::min(count, credit);
  if (n <= 0) return 0;
  outputReport_[0] = 0;  // report id
  for (int32_t sent = 0; sent < n;) {
    const int chunk = std::min(n - sent, kMaxOutputPayload);
    outputReport_[1] = static_cast<uint8_t>(chunk);
    std::memcpy(outputReport_ + 2, data + sent, static_cast<size_t>(chunk));
    // Clear what follows the payload so that no older payload bytes go out again.
    std::memset(outputReport_ + 2 + chunk, 0, sizeof outputReport_ - 2 - chunk);
    if (api_.write(HidDeviceHandle, outputReport_, kReportSize) < 0) return -1;
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
    std::this_thread::sleep_for(kPassInterval);
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
