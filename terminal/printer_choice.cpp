#include "terminal/printer_choice.h"

#include <algorithm>
#include <vector>

#include "terminal/json_events.h"
#include "terminal/json_line.h"
#include "workflow/text_tools.h"

namespace app {
namespace {

std::string SerialText(const PrinterInfo& printer) {
  return printer.serial.empty() ? "none" : printer.serial;
}

}  // namespace

std::string DescribePrinters(const std::vector<PrinterInfo>& printers) {
  if (printers.empty()) return "none";
  std::string text;
  for (const PrinterInfo& printer : printers) {
    if (!text.empty()) text += ", ";
    text += printer.portPath + " (serial " + SerialText(printer) + ", " + printer.openPath + ")";
  }
  return text;
}

PrinterChoice ChoosePrinter(const std::vector<PrinterInfo>& attached,
                            const std::optional<std::string>& device) {
  if (!device) {
    if (attached.size() <= 1) return {};
    return {{},
            std::to_string(attached.size()) +
                " printers are attached: " + DescribePrinters(attached) +
                ". Pick the one to update with --device (its USB port path, node or serial "
                "number), or update them all with --all."};
  }
  std::vector<PrinterInfo> named;
  std::copy_if(attached.begin(), attached.end(), std::back_inserter(named),
               [&](const PrinterInfo& printer) { return NamesPrinter(printer, *device); });
  if (named.size() == 1 && !named.front().portPath.empty()) return {named.front().portPath, {}};
  if (named.empty()) {
    return {{},
            "--device " + *device +
                " names no attached printer; attached: " + DescribePrinters(attached) + "."};
  }
  return {{},
          "--device " + *device + " names " + std::to_string(named.size()) +
              " printers: " + DescribePrinters(named) + ". Give the USB port path instead."};
}

PrintersChoice ChoosePrinters(const std::vector<PrinterInfo>& attached,
                              const std::vector<std::string>& devices) {
  if (devices.empty()) return {attached, {}};
  std::vector<bool> chosen(attached.size(), false);
  for (const std::string& device : devices) {
    const PrinterChoice one = ChoosePrinter(attached, device);
    if (!one.problem.empty()) return {{}, one.problem};
    for (size_t i = 0; i < attached.size(); ++i) {
      if (attached[i].portPath == one.portPath) chosen[i] = true;
    }
  }
  PrintersChoice choice;
  for (size_t i = 0; i < attached.size(); ++i) {
    if (chosen[i]) choice.printers.push_back(attached[i]);
  }
  return choice;
}

std::string PrinterTable(const std::vector<PrinterInfo>& printers) {
  std::vector<std::vector<std::string>> rows = {{"PORT", "ID", "NODE", "USB PORT", "SERIAL"}};
  for (const PrinterInfo& printer : printers) {
    rows.push_back({std::to_string(printer.portNumber), printer.id, printer.openPath,
                    printer.portPath, printer.serial});
  }
  return AlignedColumns(rows);
}

std::string PrinterListJson(const std::vector<PrinterInfo>& printers) {
  Json list = Json::array();
  for (const PrinterInfo& printer : printers) {
    list.push_back({{"schema", kJsonSchema},
                    {"port_number", printer.portNumber},
                    {"id", JsonText(printer.id)},
                    {"node", JsonText(printer.openPath)},
                    {"port_path", JsonText(printer.portPath)},
                    {"serial", JsonText(printer.serial)}});
  }
  return JsonLine(list) + "\n";
}

}  // namespace app
