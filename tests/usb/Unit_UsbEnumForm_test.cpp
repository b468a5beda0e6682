// TUsbEnumForm on a poll() loop, with emulated printers coming and going.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/poll_loop.h"
#include "tools/vrq-printer-sim/printer_bed.h"
#include "usb/Unit_UsbEnumForm.h"
#include "usb/_printer_comm.h"

namespace usb {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the loop until the label reads caption or a second has gone by.
bool RunUntilCaption(platform::PollLoop& loop, const TUsbEnumForm& form,
                     const std::string& caption) {
  auto end = Clock::now() + std::chrono::seconds(1);
  while (form.Label1.Caption != caption && Clock::now() < end)
    loop.RunOnce(10);
  return form.Label1.Caption == caption;
}

// Runs the loop for a while so that any event sent has been handled.
void Settle(platform::PollLoop& loop) {
  auto end = Clock::now() + std::chrono::milliseconds(200);
  while (Clock::now() < end)
    loop.RunOnce(10);
}

struct HookCall {
  void* context;
  int arrived;
  std::string captionBefore;
};

struct HookLog {
  const TUsbEnumForm* form = nullptr;
  std::vector<HookCall> calls;
};

void RecordHook(void* context, int arrived) {
  auto* log = static_cast<HookLog*>(context);
  log->calls.push_back({context, arrived, log->form->Label1.Caption});
}

// Registers form for printer nodes with a hook that records into log.
void WatchPrintersWithHook(TUsbEnumForm& form, HookLog& log) {
  log.form = &form;
  form.Subsystem = kPrinterNodeSubsystem;
  form.OnDeviceChange = RecordHook;
  form.DeviceChangeContext = &log;
  form.RegisterNotification();
}

TEST(TUsbEnumForm, PortWatcherNamesArrivalAndRemoval) {
  sim::PrinterBed bed;
  ASSERT_TRUE(bed.IsValid()) << bed.Error();
  platform::PollLoop loop;
  platform::SteadyClock clock;
  TUsbPrinter port(loop, clock);
  TUsbEnumForm& form = port.EnumForm();
  ASSERT_TRUE(form.DevNotify) << "the port's watcher did not register";
  EXPECT_EQ(form.Label1.Caption, "Label1");

  ASSERT_TRUE(bed.Plug(sim::PrinterRecord{}));
  EXPECT_TRUE(RunUntilCaption(loop, form, "DBT_DEVICEARRIVAL"));
  ASSERT_TRUE(bed.Unplug("1-1.4"));
  EXPECT_TRUE(RunUntilCaption(loop, form, "DBT_DEVICEREMOVECOMPLETE"));
}

TEST(TUsbEnumForm, HookRunsOncePerEventBeforeTheCaptionChanges) {
  sim::PrinterBed bed;
  platform::PollLoop loop;
  TUsbEnumForm form(&loop);
  HookLog log;
  WatchPrintersWithHook(form, log);
  ASSERT_TRUE(form.DevNotify);

  ASSERT_TRUE(bed.Plug(sim::PrinterRecord{}));
  ASSERT_TRUE(RunUntilCaption(loop, form, "DBT_DEVICEARRIVAL"));
  ASSERT_TRUE(bed.Unplug("1-1.4"));
  ASSERT_TRUE(RunUntilCaption(loop, form, "DBT_DEVICEREMOVECOMPLETE"));
  Settle(loop);

  ASSERT_EQ(log.calls.size(), 2u);
  EXPECT_EQ(log.calls[0].context, &log);
  EXPECT_EQ(log.calls[0].arrived, 1);
  EXPECT_EQ(log.calls[0].captionBefore, "Label1");
  EXPECT_EQ(log.calls[1].arrived, 0);
  EXPECT_EQ(log.calls[1].captionBefore, "DBT_DEVICEARRIVAL");
}

TEST(TUsbEnumForm, OtherEventsAndOtherSubsystemsChangeNothing) {
  sim::PrinterBed bed;
  ASSERT_TRUE(bed.Plug(sim::PrinterRecord{}));
  platform::PollLoop loop;
  TUsbEnumForm form(&loop);
  HookLog log;
  WatchPrintersWithHook(form, log);
  ASSERT_TRUE(form.DevNotify);

  bed.SendEvent("1-1.4", "change");
  form.WMDeviceChange(DBT_DEVNODES_CHANGED);
  // A printer on a hub port of its own, but a watcher of hidraw devices does not see it.
  TUsbEnumForm hidWatcher(&loop);
  hidWatcher.Subsystem = "hidraw";
  hidWatcher.RegisterNotification();
  sim::PrinterRecord second;
  second.lp = 1;
  ASSERT_TRUE(bed.Plug(second));
  ASSERT_TRUE(RunUntilCaption(loop, form, "DBT_DEVICEARRIVAL"));
  Settle(loop);

  EXPECT_EQ(hidWatcher.Label1.Caption, "Label1");
  EXPECT_EQ(log.calls.size(), 1u);  // the arrival of lp1 only
}

TEST(TUsbEnumForm, EventsOfManyPrintersComingAndGoingWhileTheLoopSleepsAreAllHandledLater) {
  sim::PrinterBed bed;
  platform::PollLoop loop;
  TUsbEnumForm form(&loop);
  HookLog log;
  WatchPrintersWithHook(form, log);
  ASSERT_TRUE(form.DevNotify);

  // Four printers restart while nobody runs the loop: 24 events, far more than an
  // emulated event socket holds (the device tree ends when one overflows).
  for (int round = 0; round < 2; ++round) {
    for (int lp = 0; lp < 4; ++lp) {
      sim::PrinterRecord printer;
      printer.lp = lp;
      ASSERT_TRUE(bed.Plug(printer)) << bed.Error();
    }
    if (round == 0) {
      for (const char* port : {"1-1.4", "1-1.5", "1-1.6", "1-1.7"})
        ASSERT_TRUE(bed.Unplug(port)) << bed.Error();
    }
  }
  auto end = Clock::now() + std::chrono::seconds(2);
  while (log.calls.size() < 12 && Clock::now() < end)
    loop.RunOnce(10);
  Settle(loop);

  ASSERT_EQ(log.calls.size(), 12u);
  std::string order;
  for (const HookCall& call : log.calls)
    order += call.arrived ? 'A' : 'R';
  EXPECT_EQ(order, "AAAARRRRAAAA");
}

TEST(TUsbEnumForm, UnregisteredWatcherSeesNothingAndLeavesTheLoop) {
  sim::PrinterBed bed;
  platform::PollLoop loop;
  TUsbEnumForm form(&loop);
  form.Subsystem = kPrinterNodeSubsystem;
  form.RegisterNotification();
  EXPECT_EQ(loop.WatchedCount(), 1u);
  form.UnregisterNotification();
  form.UnregisterNotification();  // twice is harmless
  EXPECT_FALSE(form.DevNotify);
  EXPECT_EQ(loop.WatchedCount(), 0u);

  ASSERT_TRUE(bed.Plug(sim::PrinterRecord{}));
  Settle(loop);
  EXPECT_EQ(form.Label1.Caption, "Label1");

  TUsbEnumForm withoutLoop;  // the start-up's second watcher: it cannot register
  withoutLoop.Subsystem = kPrinterNodeSubsystem;
  withoutLoop.RegisterNotification();
  EXPECT_FALSE(withoutLoop.DevNotify);
}

}  // namespace
}  // namespace usb
