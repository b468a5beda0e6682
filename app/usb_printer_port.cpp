#include "app/usb_printer_port.h"

namespace app {

std::vector<PrinterInfo> UsbPrinterPort::Discover() {
  usb::EnumUsbPrinters(table_);
  wantedPortPath_.clear();
  return TablePrinters();
}

std::vector<PrinterInfo> UsbPrinterPort::DiscoverOnPort(const std::string& portPath) {
  usb::EnumUsbPrintersOnPort(table_, portPath);
  wantedPortPath_ = portPath;
  return TablePrinters();
}

std::vector<PrinterInfo> UsbPrinterPort::TablePrinters() {
  std::vector<PrinterInfo> printers;
  for (int32_t slot = 0; slot < table_.count && slot < usb::kPrinterSlots; ++slot) {
    printers.push_back({table_.port_number[slot], table_.id[slot], table_.open_path[slot],
                        table_.port_path[slot], table_.serial[slot], table_.node_name[slot]});
  }
  noPrinterFound_ = printers.empty();
  return printers;
}

bool UsbPrinterPort::Open(const std::string& openPath) {
  noPrinterFound_ = false;
  if (!port_.Opened) lastPath_ = openPath;  // an open port stays on its device
  return port_.Open(openPath);
}

OpenFailure UsbPrinterPort::LastOpenFailure() const {
  if (noPrinterFound_) return {OpenFailure::Reason::kNoPrinter, 0, {}};
  switch (port_.LastOpenProblem) {
    case usb::OpenProblem::kNone:
      return {};
    case usb::OpenProblem::kCannotOpenNode:
      return {OpenFailure::Reason::kCannotOpen, port_.LastOpenError, lastPath_};
    case usb::OpenProblem::kReaderDidNotStart:
      return {OpenFailure::Reason::kReaderDidNotStart, 0, lastPath_};
  }
  return {};
}

}  // namespace app
