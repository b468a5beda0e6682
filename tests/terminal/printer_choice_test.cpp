// Which printer a headless update may use, and the printer list.
#include "terminal/printer_choice.h"

#include <gtest/gtest.h>

#include "json_collect.h"

namespace apptest {
namespace {

const std::vector<app::PrinterInfo> kTwo = {
    {1, "04710055", "/dev/usb/lp0", "1-1.4", "VRQSIM0001", "lp0"},
    {2, "04710055", "/dev/usb/lp1", "1-1.5", "", "lp1"},
};

TEST(PrinterChoiceTest, DeviceNamesOnePrinterByPortNodeOrSerial) {
  for (const char* name : {"1-1.5", "/dev/usb/lp1", "lp1"}) {
    EXPECT_EQ(app::ChoosePrinter(kTwo, std::string(name)).portPath, "1-1.5") << name;
  }
  EXPECT_EQ(app::ChoosePrinter(kTwo, std::string("VRQSIM0001")).portPath, "1-1.4");
  // An empty serial names nothing.
  const app::PrinterChoice empty = app::ChoosePrinter(kTwo, std::string(""));
  EXPECT_EQ(empty.problem,
            "--device  names no attached printer; attached: 1-1.4 (serial VRQSIM0001, "
            "/dev/usb/lp0), 1-1.5 (serial none, /dev/usb/lp1).");
  EXPECT_EQ(app::ChoosePrinter({}, std::string("1-1.4")).problem,
            "--device 1-1.4 names no attached printer; attached: none.");
  std::vector<app::PrinterInfo> sameSerial = kTwo;
  sameSerial[1].serial = "VRQSIM0001";
  EXPECT_EQ(app::ChoosePrinter(sameSerial, std::string("VRQSIM0001")).problem,
            "--device VRQSIM0001 names 2 printers: 1-1.4 (serial VRQSIM0001, /dev/usb/lp0), "
            "1-1.5 (serial VRQSIM0001, /dev/usb/lp1). Give the USB port path instead.");
}

// --all with --device: the printers named, in the order attached, each once; a name that
// names none (or several) chooses none.
TEST(PrinterChoiceTest, AllTakesTheNamedPrintersOrNone) {
  std::vector<app::PrinterInfo> three = kTwo;
  three.push_back({3, "04710055", "/dev/usb/lp2", "1-1.6", "VRQSIM0003", "lp2"});
  const auto ports = [](const app::PrintersChoice& choice) {
    std::vector<std::string> names;
    for (const app::PrinterInfo& printer : choice.printers)
      names.push_back(printer.portPath);
    return names;
  };
  EXPECT_EQ(ports(app::ChoosePrinters(three, {})),
            (std::vector<std::string>{"1-1.4", "1-1.5", "1-1.6"}));
  EXPECT_EQ(ports(app::ChoosePrinters(three, {"VRQSIM0003", "lp0", "1-1.6"})),
            (std::vector<std::string>{"1-1.4", "1-1.6"}));
  const app::PrintersChoice wrong = app::ChoosePrinters(three, {"1-1.4", "lp7"});
  EXPECT_TRUE(wrong.printers.empty());
  EXPECT_EQ(wrong.problem.rfind("--device lp7 names no attached printer; attached: 1-1.4", 0), 0u)
      << wrong.problem;
}

// The ports in the order --device picks them by: the names of the printers picked.
std::vector<std::string> Picked(const std::vector<app::PrinterInfo>& attached,
                                const std::string& name) {
  std::vector<std::string> ports;
  for (const app::PrinterInfo& printer : app::PrintersNamed(attached, name))
    ports.push_back(printer.portPath);
  return ports;
}

using Ports = std::vector<std::string>;

TEST(PrinterChoiceTest, PortPathComesBeforeNodeAndNodeBeforeSerial) {
  // The printer on 1-1.5 calls itself "1-1.4", the other printer's port; a third one
  // calls itself "lp0", the first printer's node.
  const std::vector<app::PrinterInfo> tricky = {
      {1, "04710055", "/dev/usb/lp0", "1-1.4", "VRQSIM0001", "lp0"},
      {2, "04710055", "/dev/usb/lp1", "1-1.5", "1-1.4", "lp1"},
      {3, "04710055", "/dev/usb/lp2", "1-1.6", "lp0", "lp2"},
  };
  EXPECT_EQ(Picked(tricky, "1-1.4"), Ports{"1-1.4"});
  EXPECT_EQ(Picked(tricky, "port:1-1.4"), Ports{"1-1.4"});
  EXPECT_EQ(Picked(tricky, "serial:1-1.4"), Ports{"1-1.5"});
  EXPECT_EQ(Picked(tricky, "node:1-1.4"), Ports{});
  EXPECT_EQ(Picked(tricky, "lp0"), Ports{"1-1.4"});
  EXPECT_EQ(Picked(tricky, "/dev/usb/lp0"), Ports{"1-1.4"});
  EXPECT_EQ(Picked(tricky, "serial:lp0"), Ports{"1-1.6"});
  EXPECT_EQ(Picked(tricky, "node:lp2"), Ports{"1-1.6"});
  EXPECT_EQ(Picked(tricky, "node:/dev/usb/lp1"), Ports{"1-1.5"});
  EXPECT_EQ(Picked(tricky, "VRQSIM0001"), Ports{"1-1.4"});
  // A prefix picks by its kind only.
  EXPECT_EQ(Picked(tricky, "port:VRQSIM0001"), Ports{});
  EXPECT_EQ(Picked(tricky, "port:lp0"), Ports{});
  EXPECT_EQ(Picked(tricky, "serial:1-1.5"), Ports{});
  // Nothing picks a printer without a serial by an empty one.
  for (const char* empty : {"", "serial:", "port:", "node:"})
    EXPECT_EQ(Picked(kTwo, empty), Ports{}) << empty;
  // Only the prefixes count: another word before a colon is part of the name.
  std::vector<app::PrinterInfo> colon = kTwo;
  colon[1].serial = "usb:1";
  EXPECT_EQ(Picked(colon, "usb:1"), Ports{"1-1.5"});
  EXPECT_EQ(app::ChoosePrinter(tricky, std::string("1-1.4")).portPath, "1-1.4");
  EXPECT_EQ(app::ChoosePrinter(tricky, std::string("serial:1-1.4")).portPath, "1-1.5");
}

TEST(PrinterChoiceTest, PrintersTextsAreShownEscaped) {
  std::vector<app::PrinterInfo> hostile = kTwo;
  hostile[1].serial = "X\x1b[2J\r\n3     04710055  /dev/usb/lp9\xc2\x9b\xff";
  const std::string shown = "X\\x1B[2J\\x0D\\x0A3     04710055  /dev/usb/lp9\\xC2\\x9B\\xFF";
  EXPECT_EQ(app::PrinterTable(hostile),
            "PORT  ID        NODE          USB PORT  SERIAL\n"
            "1     04710055  /dev/usb/lp0  1-1.4     VRQSIM0001\n"
            "2     04710055  /dev/usb/lp1  1-1.5     " +
                shown + "\n");
  EXPECT_EQ(app::ChoosePrinter(hostile, std::nullopt).problem.find('\x1b'), std::string::npos);
  EXPECT_NE(app::ChoosePrinter(hostile, std::nullopt).problem.find("(serial " + shown + ", "),
            std::string::npos);
  EXPECT_EQ(app::ChoosePrinter(hostile, std::string("a\nb")).problem.substr(0, 15),
            "--device a\\x0Ab");
  EXPECT_EQ(
      app::PrinterListJson({hostile[1]}),
      "[{\"schema\":1,\"port_number\":2,\"id\":\"04710055\",\"node\":\"/dev/usb/"
      "lp1\",\"port_path\":"
      "\"1-1.5\",\"serial\":\"X\\u001b[2J\\r\\n3     04710055  /dev/usb/lp9\\u009b\\\\xFF\"}]\n");
}

TEST(PrinterChoiceTest, WithoutDeviceOnlyOnePrinterMayBeAttached) {
  EXPECT_EQ(app::ChoosePrinter({}, std::nullopt).problem, "");
  const app::PrinterChoice one = app::ChoosePrinter({kTwo[0]}, std::nullopt);
  EXPECT_EQ(one.problem, "");
  EXPECT_EQ(one.portPath, "");  // the run takes it and holds on to it
  EXPECT_EQ(app::ChoosePrinter(kTwo, std::nullopt).problem,
            "2 printers are attached: 1-1.4 (serial VRQSIM0001, /dev/usb/lp0), 1-1.5 (serial "
            "none, /dev/usb/lp1). Pick the one to update with --device (its USB port path, node "
            "or serial number), or update them all with --all.");
}

TEST(PrinterChoiceTest, ListForPeopleAndForScripts) {
  EXPECT_EQ(app::PrinterTable(kTwo),
            "PORT  ID        NODE          USB PORT  SERIAL\n"
            "1     04710055  /dev/usb/lp0  1-1.4     VRQSIM0001\n"
            "2     04710055  /dev/usb/lp1  1-1.5\n");
  jsoncollect::Collect(app::PrinterListJson(kTwo));
  EXPECT_EQ(app::PrinterListJson({kTwo[0]}),
            "[{\"schema\":1,\"port_number\":1,\"id\":\"04710055\",\"node\":\"/dev/usb/"
            "lp0\",\"port_path\":"
            "\"1-1.4\",\"serial\":\"VRQSIM0001\"}]\n");
}

}  // namespace
}  // namespace apptest
