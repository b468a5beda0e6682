// EnumUsbPrinters against emulated device trees.
#include <gtest/gtest.h>

#include "tools/vrq-printer-sim/printer_bed.h"
#include "usb/_printer_comm.h"

namespace usb {
namespace {

sim::PrinterRecord Printer(int lp) {
  sim::PrinterRecord record;
  record.lp = lp;
  return record;
}

TEST(EnumUsbPrinters, EmptyTreeGivesNoPrinter) {
  sim::PrinterBed bed;
  ASSERT_TRUE(bed.IsValid()) << bed.Error();
  _struct_printer_comm_ table;
  table.count = 5;
  EnumUsbPrinters(table);
  EXPECT_EQ(table.count, 0);
}

TEST(EnumUsbPrinters, ListsPrintersByPortNumberWithTheirIdsAndPaths) {
  sim::PrinterBed bed;
  sim::PrinterRecord second = Printer(1);
  second.idProduct = "00ab";  // lower-case digits as some devices report them
  ASSERT_TRUE(bed.Plug(second)) << bed.Error();
  ASSERT_TRUE(bed.Plug(Printer(0))) << bed.Error();

  _struct_printer_comm_ table;
  EnumUsbPrinters(table);
  ASSERT_EQ(table.count, 2);
  EXPECT_EQ(table.id[0], "04710055");
  EXPECT_EQ(table.port_number[0], 1u);
  EXPECT_EQ(table.open_path[0], "/dev/usb/lp0");
  EXPECT_EQ(table.device_path[0],
            "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.4/1-1.4:1.0/usbmisc/lp0");
  EXPECT_EQ(table.id[1], "047100AB");
  EXPECT_EQ(table.port_number[1], 2u);
  EXPECT_EQ(table.open_path[1], "/dev/usb/lp1");
}

TEST(EnumUsbPrinters, RecordsEachPrintersUsbPortSerialAndNodeName) {
  sim::PrinterBed bed;
  sim::PrinterRecord first = Printer(0);
  first.hubPort = 7;
  sim::PrinterRecord second = Printer(1);
  second.hubPort = 2;
  second.serial = "";
  ASSERT_TRUE(bed.Plug(first)) << bed.Error();
  ASSERT_TRUE(bed.Plug(second)) << bed.Error();

  _struct_printer_comm_ table;
  EnumUsbPrinters(table);
  ASSERT_EQ(table.count, 2);
  EXPECT_EQ(table.port_path[0], "1-1.7");
  EXPECT_EQ(table.serial[0], "VRQSIM0001");
  EXPECT_EQ(table.node_name[0], "lp0");
  EXPECT_EQ(table.port_path[1], "1-1.2");
  EXPECT_EQ(table.serial[1], "");
  EXPECT_EQ(table.node_name[1], "lp1");
}

TEST(EnumUsbPrintersOnPort, FindsOnlyThePrinterOnThatPortWhateverItsNode) {
  sim::PrinterBed bed;
  sim::PrinterRecord pinned = Printer(0);
  pinned.hubPort = 4;
  sim::PrinterRecord other = Printer(1);
  other.hubPort = 5;
  ASSERT_TRUE(bed.Plug(pinned));
  ASSERT_TRUE(bed.Plug(other));

  _struct_printer_comm_ table;
  EnumUsbPrintersOnPort(table, "1-1.5");
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(table.open_path[0], "/dev/usb/lp1");
  EXPECT_EQ(table.port_path[0], "1-1.5");

  // Both restart; the other printer comes back first and takes lp0.
  ASSERT_TRUE(bed.Unplug("1-1.4"));
  ASSERT_TRUE(bed.Unplug("1-1.5"));
  EnumUsbPrintersOnPort(table, "1-1.4");
  EXPECT_EQ(table.count, 0);
  other.lp = 0;
  pinned.lp = 1;
  ASSERT_TRUE(bed.Plug(other)) << bed.Error();
  EnumUsbPrintersOnPort(table, "1-1.4");
  EXPECT_EQ(table.count, 0);
  ASSERT_TRUE(bed.Plug(pinned)) << bed.Error();
  EnumUsbPrintersOnPort(table, "1-1.4");
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(table.open_path[0], "/dev/usb/lp1");
  EXPECT_EQ(table.port_number[0], 2u);
}

TEST(EnumUsbPrintersOnPort, FindsNothingForAPortWithoutAPrinterOrANameThatIsNoPortPath) {
  sim::PrinterBed bed;
  sim::PrinterRecord notPrinterClass = Printer(0);
  notPrinterClass.interfaceClass = "08";
  ASSERT_TRUE(bed.Plug(notPrinterClass));
  ASSERT_TRUE(bed.Plug(Printer(1)));  // on 1-1.5

  _struct_printer_comm_ table;
  for (const char* port : {"1-1.4", "1-1.6", "1-1", "", "1-1.5:1.0", "../1-1.5", "usb1"}) {
    table.count = 3;
    EnumUsbPrintersOnPort(table, port);
    EXPECT_EQ(table.count, 0) << port;
  }
}

TEST(IsUsbPortPath, TakesBusDashAndDottedHubPorts) {
  for (const char* good : {"1-1", "1-1.4", "3-2.10.1", "12-9"}) {
    EXPECT_TRUE(IsUsbPortPath(good)) << good;
  }
  for (const char* bad : {"", "1", "-1", "1-", "1-.4", "1-1.", "1-1..4", "1.1-4", "1-1-4",
                          "1-1.4:1.0", "usb1", "1-1/4", " 1-1"}) {
    EXPECT_FALSE(IsUsbPortPath(bad)) << bad;
  }
}

TEST(EnumUsbPrinters, SkipsOtherVendorsOtherClassesAndNodelessDevices) {
  sim::PrinterBed bed;
  sim::PrinterRecord otherVendor = Printer(0);
  otherVendor.idVendor = "04b8";
  sim::PrinterRecord notPrinterClass = Printer(1);
  notPrinterClass.interfaceClass = "08";
  sim::PrinterRecord noNode = Printer(2);
  noNode.withNode = false;
  for (const auto& record : {otherVendor, notPrinterClass, noNode, Printer(3)}) {
    ASSERT_TRUE(bed.Plug(record)) << bed.Error();
  }

  _struct_printer_comm_ table;
  EnumUsbPrinters(table);
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(table.open_path[0], "/dev/usb/lp3");
  EXPECT_EQ(table.port_number[0], 4u);
}

TEST(EnumUsbPrinters, ARunThatFindsFewerLowersCountAndLeavesTheOldSlotText) {
  sim::PrinterBed bed;
  ASSERT_TRUE(bed.Plug(Printer(0)));
  ASSERT_TRUE(bed.Plug(Printer(1)));
  _struct_printer_comm_ table;
  EnumUsbPrinters(table);
  ASSERT_EQ(table.count, 2);

  ASSERT_TRUE(bed.Unplug("1-1.4")) << bed.Error();
  EnumUsbPrinters(table);
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(table.open_path[0], "/dev/usb/lp1");
  EXPECT_EQ(table.open_path[1], "/dev/usb/lp1");  // stale, beyond count
}

TEST(EnumUsbPrinters, NeverFillsMoreThanThirtyTwoSlots) {
  sim::PrinterBed bed;
  for (int lp = 0; lp < kPrinterSlots + 2; ++lp) {
    ASSERT_TRUE(bed.Plug(Printer(lp))) << bed.Error();
  }
  _struct_printer_comm_ table;
  EnumUsbPrinters(table);
  ASSERT_EQ(table.count, kPrinterSlots);
  EXPECT_EQ(table.port_number[kPrinterSlots - 1], static_cast<uint32_t>(kPrinterSlots));
}

}  // namespace
}  // namespace usb
