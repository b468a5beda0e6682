// An emulated printer HID interface for the tests: a umockdev testbed with the printer's
// USB device, HID device and /dev/hidraw0, and an ioctl handler that plays the printer's
// side of the report traffic. The process that owns it (and every process that uses the
// device) must run under umockdev's preload library: call ReexecUnderUmockdev first.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace hidtest {

using Report = std::array<uint8_t, 65>;

// Re-executes the running program under libumockdev-preload.so.0 unless it already runs
// under it (the testbed owner needs it to send uevents; the children inherit it).
void ReexecUnderUmockdev(char** argv);

class HidEmulator {
 public:
  // Builds the testbed, with the printer (vendor 0471, product 0055) at /dev/hidraw0 unless
  // withPrinter is false.
  explicit HidEmulator(bool withPrinter = true);
  ~HidEmulator();
  HidEmulator(const HidEmulator&) = delete;
  HidEmulator& operator=(const HidEmulator&) = delete;

  // False when the testbed could not be built; error() says why.
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  // The credit every input report announces (bytes 2..5).
  void SetCredit(uint32_t credit);
  // Data for the input reports: each report carries up to chunk of the queued bytes.
  void QueueInput(const std::vector<uint8_t>& bytes);
  void SetInputChunk(int chunk);
  // A report returned as it is (its credit bytes included) before any queued data.
  void QueueRawReport(const Report& report);
  // Input-report fetches fail with EIO while set.
  void FailInputReports(bool fail);

  // Every output report written so far, in order.
  std::vector<Report> Reports() const;
  // Byte 1 of every output report.
  std::vector<int> PayloadLengths() const;
  // The payload bytes of every output report, joined.
  std::vector<uint8_t> Payload() const;
  int InputFetches() const;
  size_t QueuedInput() const;
  // Forgets the recorded reports and fetches.
  void ClearRecord();

  // Lets processes of other users reach the testbed (umockdev ends a process that cannot
  // reach it) and the printer's node.
  bool OpenToAllUsers();

  // Plugs in the printer (when the testbed was built without it).
  bool AddPrinter();
  // Plugs in an unrelated HID device (a keyboard at /dev/hidraw1); its "add" uevents are
  // sent. May be called once.
  bool AddKeyboard();

 private:
  static int OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
  static int OnWrite(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
  void AnswerInputReport(UMockdevIoctlClient* client, unsigned long size);
  bool Fail(const std::string& what);
  // Adds the devices of a umockdev description; false, with error() set, when it cannot.
  bool AddDevice(const std::string& description, const char* what);

  UMockdevTestbed* testbed_ = nullptr;
  UMockdevIoctlBase* handler_ = nullptr;
  bool ok_ = false;
  std::string error_;

  mutable std::mutex mutex_;  // the handler runs on the testbed's worker thread
  uint32_t credit_ = 0;
  int chunk_ = 59;
  bool failInput_ = false;
  std::deque<uint8_t> input_;
  std::deque<Report> rawReports_;
  std::vector<Report> written_;
  int fetches_ = 0;
};

}  // namespace hidtest
