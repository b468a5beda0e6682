// What the printer port seam gives every port: naming a printer as a user may, and the
// discovery of the one printer on a USB port.
#include "workflow/printer_port_seam.h"

#include <gtest/gtest.h>

namespace {

const app::PrinterInfo kFirst{1, "04710055", "/dev/usb/lp0", "1-1.4", "VRQ0001", "lp0"};
const app::PrinterInfo kNoSerial{2, "04710055", "/dev/usb/lp1", "1-1.5", "", "lp1"};

TEST(NamesPrinter, TakesThePortPathTheNodeOrTheSerialAndNothingElse) {
  for (const char* name : {"1-1.4", "/dev/usb/lp0", "lp0", "VRQ0001"})
    EXPECT_TRUE(app::NamesPrinter(kFirst, name)) << name;
  for (const char* name : {"", "1-1", "1-1.4:1.0", "lp", "/dev/usb/lp", "VRQ000", "04710055", "1"})
    EXPECT_FALSE(app::NamesPrinter(kFirst, name)) << name;
  // A printer without a serial number is not named by an empty one.
  EXPECT_FALSE(app::NamesPrinter(kNoSerial, ""));
  EXPECT_TRUE(app::NamesPrinter(kNoSerial, "lp1"));
}

class TwoPrinters final : public app::PrinterPort {
 public:
  std::vector<app::PrinterInfo> Discover() override { return {kFirst, kNoSerial}; }
  bool Open(const std::string&) override { return false; }
  bool Close() override { return true; }
  int32_t Write(const void*, int32_t) override { return -1; }
  int32_t Read(void*, int32_t) override { return -1; }
  bool IsOpen() const override { return false; }
};

TEST(DiscoverOnPort, ListsOnlyThePrinterOnThatPort) {
  TwoPrinters port;
  std::vector<app::PrinterInfo> found = port.DiscoverOnPort("1-1.5");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].openPath, "/dev/usb/lp1");
  EXPECT_TRUE(port.DiscoverOnPort("1-1.6").empty());
  EXPECT_TRUE(port.DiscoverOnPort("lp0").empty());  // a port path, not any name
}

}  // namespace
