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

// The printers that name picks, as --device takes it: "port:PATH", "node:NODE" and
// "serial:TEXT" pick by that one kind ("/dev/usb/lp0" or "lp0" for a node); a name without
// one of these prefixes is tried as a USB port path first, then as a node, then as a
// serial number, and the first kind that any printer matches decides. So a serial number
// never makes another printer's port path or node unusable. An empty name or serial
// picks nothing.
std::vector<PrinterInfo> PrintersNamed(const std::vector<PrinterInfo>& attached,
                                       const std::string& name);

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

// "1-1.4 (serial VRQSIM0001, /dev/usb/lp0), 1-1.5 (...)", or "none"; the printers' texts
// as platform::Printable shows them.
std::string DescribePrinters(const std::vector<PrinterInfo>& printers);

// A header line and a line per printer: port number, id, node, USB port path, serial,
// each cell as platform::Printable shows it.
std::string PrinterTable(const std::vector<PrinterInfo>& printers);
// The same as a JSON array of objects.
std::string PrinterListJson(const std::vector<PrinterInfo>& printers);

}  // namespace app
