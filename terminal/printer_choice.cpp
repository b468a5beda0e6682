#include "terminal/printer_choice.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/printable_text.h"
#include "terminal/json_events.h"
#include "terminal/json_line.h"
#include "workflow/text_tools.h"

namespace app {
namespace {

std::string SerialText(const PrinterInfo& printer) {
  return printer.serial.empty() ? "none" : platform::Printable(printer.serial);
}

enum class NameKind { kPort, kNode, kSerial };

bool Matches(const PrinterInfo& printer, NameKind kind, const std::string& name) {
  if (name.empty()) return false;
  switch (kind) {
    case NameKind::kPort:
      return name == printer.portPath;
    case NameKind::kNode:
      return name == printer.openPath || name == printer.nodeName;
    case NameKind::kSerial:
      return name == printer.serial;
  }
  return false;
}

std::vector<PrinterInfo> Matching(const std::vector<PrinterInfo>& attached, NameKind kind,
                                  const std::string& name) {
  std::vector<PrinterInfo> named;
  std::copy_if(attached.begin(), attached.end(), std::back_inserter(named),
               [&](const PrinterInfo& printer) { return Matches(printer, kind, name); });
  return named;
}

}  // namespace

std::string DescribePrinters(const std::vector<PrinterInfo>& printers) {
  if (printers.empty()) return "none";
  std::string text;
  for (const PrinterInfo& printer : printers) {
    if (!text.empty()) text += ", ";
    text += platform::Printable(printer.portPath) + " (serial " + SerialText(printer) + ", " +
            platform::Printable(printer.openPath) + ")";
  }
  return text;
}

std::vector<PrinterInfo> PrintersNamed(const std::vector<PrinterInfo>& attached,
                                       const std::string& name) {
  static const std::pair<std::string_view, NameKind> kPrefixes[] = {
      {"port:", NameKind::kPort}, {"node:", NameKind::kNode}, {"serial:", NameKind::kSerial}};
  for (const auto& [prefix, kind] : kPrefixes) {
    if (name.starts_with(prefix)) return Matching(attached, kind, name.substr(prefix.size()));
  }
  for (NameKind kind : {NameKind::kPort, NameKind::kNode, NameKind::kSerial}) {
    std::vector<PrinterInfo> named = Matching(attached, kind, name);
    if (!named.empty()) return named;
  }
  return {};
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
  const std::vector<PrinterInfo> named = PrintersNamed(attached, *device);
  if (named.size() == 1 && !named.front().portPath.empty()) return {named.front().portPath, {}};
  const std::string shown = platform::Printable(*device);
  if (named.empty()) {
    return {{},
            "--device " + shown +
                " names no attached printer; attached: " + DescribePrinters(attached) + "."};
  }
  return {{},
          "--device " + shown + " names " + std::to_string(named.size()) +
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
    rows.push_back({std::to_string(printer.portNumber), platform::Printable(printer.id),
                    platform::Printable(printer.openPath), platform::Printable(printer.portPath),
                    platform::Printable(printer.serial)});
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
