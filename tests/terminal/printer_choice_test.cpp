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
