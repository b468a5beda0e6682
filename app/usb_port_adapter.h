// The adapter that puts the USB transport behind the workflow's printer port seam:
// discovery refills the printer table, the port is the one TUsbPrinter of the program.
#pragma once

#include <string>
#include <utility>

#include "usb/_printer_comm.h"
#include "usb/open_diagnosis.h"
#include "workflow/printer_port_seam.h"

namespace app {

class UsbPortAdapter final : public PrinterPort {
 public:
  // sources: where the reasons for a failed open are looked up (tests put their own).
  UsbPortAdapter(usb::_struct_printer_comm_& table, usb::TUsbPrinter& port,
                 usb::DiagnosisSources sources = usb::SystemDiagnosisSources())
      : table_(table), port_(port), diagnosisSources_(std::move(sources)) {}

  std::vector<PrinterInfo> Discover() override;
  std::vector<PrinterInfo> DiscoverOnPort(const std::string& portPath) override;
  bool Open(const std::string& openPath) override;
  bool Close() override { return port_.Close(); }
  int32_t Write(const void* data, int32_t length) override { return port_.Write(data, length); }
  int32_t Read(void* buffer, int32_t length) override { return port_.Read(buffer, length); }
  bool IsOpen() const override { return port_.Opened() && port_.Running(); }
  OpenFailure LastOpenFailure() const override;
  void SetWriteWaitHook(std::function<void()> hook) override {
    port_.SetOnWriteWait(std::move(hook));
  }
  bool LastCloseLostData() const override { return port_.LastCloseLostData(); }

 private:
  std::vector<PrinterInfo> TablePrinters();
  static OpenFailure::Reason ReasonOf(usb::OpenCause cause, usb::OpenProblem problem);

  usb::_struct_printer_comm_& table_;
  usb::TUsbPrinter& port_;
  usb::DiagnosisSources diagnosisSources_;
  bool noPrinterFound_ = false;
  std::string lastPath_;
  std::string wantedPortPath_;  // the port the last discovery looked at, empty for all
};

}  // namespace app
