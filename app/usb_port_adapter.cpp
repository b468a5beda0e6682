#include "app/usb_port_adapter.h"

namespace app {

static_assert(kWriteStallLimitMs == usb::TUsbPrinter::kWriteStallLimitMs);

std::vector<PrinterInfo> UsbPortAdapter::Discover() {
  usb::EnumUsbPrinters(table_);
  wantedPortPath_.clear();
  return TablePrinters();
}

std::vector<PrinterInfo> UsbPortAdapter::DiscoverOnPort(const std::string& portPath) {
  usb::EnumUsbPrintersOnPort(table_, portPath);
  wantedPortPath_ = portPath;
  return TablePrinters();
}

std::vector<PrinterInfo> UsbPortAdapter::TablePrinters() {
  std::vector<PrinterInfo> printers;
  for (int32_t slot = 0; slot < table_.count && slot < usb::kPrinterSlots; ++slot) {
    printers.push_back({table_.port_number[slot], table_.id[slot], table_.open_path[slot],
                        table_.port_path[slot], table_.serial[slot], table_.node_name[slot]});
  }
  noPrinterFound_ = printers.empty();
  return printers;
}

bool UsbPortAdapter::Open(const std::string& openPath) {
  noPrinterFound_ = false;
  if (!port_.Opened()) lastPath_ = openPath;  // an open port stays on its device
  return port_.Open(openPath);
}

OpenFailure UsbPortAdapter::LastOpenFailure() const {
  usb::OpenAttempt attempt;
  attempt.printerListed = !noPrinterFound_;
  attempt.problem = port_.LastOpenProblem();
  attempt.error = port_.LastOpenError();
  attempt.node = lastPath_;
  attempt.portPath = wantedPortPath_;
  if (attempt.printerListed && attempt.problem == usb::OpenProblem::kNone) return {};

  usb::OpenDiagnosis diagnosis = usb::DiagnoseOpenFailure(attempt, diagnosisSources_);
  OpenFailure failure;
  failure.reason = ReasonOf(diagnosis.cause, attempt.problem);
  failure.error = attempt.printerListed ? attempt.error : 0;
  failure.path = attempt.printerListed ? attempt.node : std::string();
  failure.portPath = wantedPortPath_;
  failure.detail = diagnosis.detail;
  return failure;
}

OpenFailure::Reason UsbPortAdapter::ReasonOf(usb::OpenCause cause, usb::OpenProblem problem) {
  switch (cause) {
    case usb::OpenCause::kNotOnUsb:
      return OpenFailure::Reason::kNoPrinter;
    case usb::OpenCause::kNotHeldByUsblp:
      return OpenFailure::Reason::kNotHeldByUsblp;
    case usb::OpenCause::kPermissionDenied:
      return OpenFailure::Reason::kPermissionDenied;
    case usb::OpenCause::kBusy:
      return OpenFailure::Reason::kBusy;
    case usb::OpenCause::kOther:
      break;
  }
  return problem == usb::OpenProblem::kReaderDidNotStart ? OpenFailure::Reason::kReaderDidNotStart
                                                         : OpenFailure::Reason::kCannotOpen;
}

}  // namespace app
