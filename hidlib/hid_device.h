// The printer's HID interface as a byte stream: the device search, the 65-byte reports
// with credit pacing, and the receive ring that keeps incoming bytes until they are taken.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hidlib/byte_ring.h"
#include "hidlib/hid_api.h"
#include "platform/clock.h"

namespace hidlib {

inline constexpr uint16_t kPrinterVendorId = 0x0471;
// USB product id of the printer model whose HID interface the library serves.
inline constexpr uint16_t kPrinterProductId = 0x0055;

// Every report, in either direction, is 65 bytes: report id 0 and 64 bytes.
inline constexpr int kReportSize = 65;
// Output report: byte 1 = payload length, bytes 2..32 = payload.
inline constexpr int kMaxOutputPayload = 31;
// Input report: byte 1 = n, bytes 2..5 = credit (little-endian), bytes 6.. = n data bytes.
inline constexpr int kInputDataOffset = 6;
inline constexpr int kMaxInputData = kReportSize - kInputDataOffset;  // 59

inline constexpr uint32_t kReceiveRingSize = 8 * 1024 * 1024;
// Longest device path kept, terminator included.
inline constexpr size_t kDevicePathSize = 260;

class HidDeviceAccess {
 public:
  // The receive ring uses ringCapacity bytes at ringStorage, which must outlive this object,
  // and so must clock, which the pauses between the passes of a write are taken on.
  HidDeviceAccess(uint8_t* ringStorage, uint32_t ringCapacity, platform::Clock& clock,
                  const char* hidApiLibrary = kHidApiLibrary);
  ~HidDeviceAccess() { CloseHidDevice(); }
  HidDeviceAccess(const HidDeviceAccess&) = delete;
  HidDeviceAccess& operator=(const HidDeviceAccess&) = delete;

  // 1 when hidapi is bound (the receive ring is emptied then); -1 when the back end or one
  // of its seven functions is missing.
  int BindHidFunctions();
  // 2: the device was open already; 1: opened now; 0: not found. On 1 and 2 path receives
  // the device path (cut to pathSize - 1 bytes, always terminated).
  int ConnectDevice(char* path, size_t pathSize);
  // The device search: opens the first listed printer interface that can be opened.
  bool OpenDeviceHandle();
  // Closes the device and unbinds hidapi.
  void CloseHidDevice();
  void ResetRings() { ReceiveRing.Clear(); }

  // Fetches one input report and stores its data bytes while the ring has room. Returns
  // the report's credit (0 for a credit with its top bit set), or -1.
  int32_t PollInputReport();
  // One pass: polls for the credit, then sends up to that many bytes of data in output
  // reports. Returns the bytes sent (0 when the credit is 0), or -1.
  int32_t SendUSBData(const uint8_t* data, int32_t count);
  // Sends all length bytes in passes 10 ms apart; waits as long as the credit is 0.
  // Returns the bytes of the completed passes.
  int32_t WriteAll(const uint8_t* data, int32_t length);
  // Polls one input report, then moves up to length bytes out of the ring without waiting.
  int32_t ReadAvailable(uint8_t* buffer, int32_t length);

  bool IsOpen() const { return HidDeviceHandle != nullptr; }
  uint32_t ReceivedCount() const { return ReceiveRing.Count(); }

 private:
  platform::Clock& TimeSource;
  const char* HidApiLibrary;
  HidApi HidDllModule;
  hid_device* HidDeviceHandle = nullptr;
  char HidDevicePath[kDevicePathSize] = {};
  uint8_t* RingStorage;
  uint32_t RingCapacity;
  ByteRing ReceiveRing;
  uint8_t InputReport[kReportSize] = {};
  uint8_t OutputReport[kReportSize] = {};
};

}  // namespace hidlib
