#include "app/usb_printer_port.h"

namespace app {

std::vector<PrinterInfo> UsbPrinterPort::Discover() {
  EnumUsbPrinters(table_);
  std::vector<PrinterInfo> printers;
  for (int32_t slot = 0; slot < table_.count && slot < kPrinterSlots; ++slot) {
    printers.push_back({table_.port_number[slot], table_.id[slot], table_.open_path[slot]});
  }
  return printers;
}

}  // namespace app
