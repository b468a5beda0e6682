// Which of the attached printers a headless update may use, and the printers as a list
// for people and for scripts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "workflow/printer_port_seam.h"

namespace app {

struct PrinterChoice {
  // The USB port of the printer chosen; "" when the run may take the first printer it
  // finds (no --device, and not more than one printer attached).
  std::string portPath;
  // Why no printer can be chosen; the run must not start.
  std::string problem;
};

// device: what --device gave. Without it, more than one printer attached is a problem:
// a headless run does not guess which printer to write.
PrinterChoice ChoosePrinter(const std::vector<PrinterInfo>& attached,
                            const std::optional<std::string>& device);

// --all: the attached printers that devices name, in the order attached (none given:
// every one). Each name must name exactly one attached printer; problem says which does
// not, and then no printer is chosen.
struct PrintersChoice {
  std::vector<PrinterInfo> printers;
  std::string problem;
};
PrintersChoice ChoosePrinters(const std::vector<PrinterInfo>& attached,
                              const std::vector<std::string>& devices);

// "1-1.4 (serial VRQSIM0001, /dev/usb/lp0), 1-1.5 (...)", or "none".
std::string DescribePrinters(const std::vector<PrinterInfo>& printers);

// A header line and a line per printer: port number, id, node, USB port path, serial.
std::string PrinterTable(const std::vector<PrinterInfo>& printers);
// The same as a JSON array of objects.
std::string PrinterListJson(const std::vector<PrinterInfo>& printers);

}  // namespace app
