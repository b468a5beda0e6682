// The printer port against the simulated printer's node (umockdev, as vrq-printer-sim
// presents it): what the idle reader costs, how fast a long reply gets through the
// 64-byte reads, what discovery and a failed open cost (a wait retries them every
// tick), and what telling the operator why an open failed costs (once per failure).
//
//   build/usb/bin/usb_port_bench
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tools/vrq-printer-sim/printer_bed.h"
#include "usb/_printer_comm.h"
#include "usb/open_diagnosis.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> data(size);
  uint32_t x = 1;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return data;
}

// A simulated printer, found by discovery and opened by the port.
struct OpenPrinter {
  sim::PrinterBed bed;
  usb::TUsbPrinter port{platform::SystemClock()};
  bool ok = false;

  OpenPrinter() {
    if (!bed.Plug(sim::PrinterRecord{})) return;
    usb::_struct_printer_comm_ table;
    usb::EnumUsbPrinters(table);
    ok = table.count == 1 && port.Open(table.open_path[0]);
  }
};

// With the port open and nothing arriving, the reader wakes every 10 ms; the counter
// cpu_percent is the share of one core the process used meanwhile.
void BM_IdleReader(benchmark::State& state) {
  OpenPrinter printer;
  if (!printer.ok) {
    state.SkipWithError("cannot open the simulated printer");
    return;
  }
  double cpu = 0;
  double wall = 0;
  for (auto _ : state) {
    double cpuBefore = CpuSeconds();
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    wall += std::chrono::duration<double>(Clock::now() - start).count();
    cpu += CpuSeconds() - cpuBefore;
  }
  state.counters["cpu_percent"] = 100.0 * cpu / wall;
}
BENCHMARK(BM_IdleReader)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The printer sends 1 MiB at once; the host takes it as the command channel does, up to
// 32 KiB per 10 ms poll. Checks that it arrives complete and in order.
void BM_OneMegabyteReply(benchmark::State& state) {
  OpenPrinter printer;
  if (!printer.ok) {
    state.SkipWithError("cannot open the simulated printer");
    return;
  }
  const std::vector<uint8_t> data = Pattern(1 << 20);
  std::vector<uint8_t> got;
  std::vector<uint8_t> buffer(32768);
  for (auto _ : state) {
    got.clear();
    int master = printer.bed.MasterFd("1-1.4");
    std::thread sender([&] {
      size_t sent = 0;
      while (sent < data.size()) {
        pollfd entry{master, POLLOUT, 0};
        poll(&entry, 1, 100);
        ssize_t n = write(master, data.data() + sent, data.size() - sent);
        if (n > 0) sent += static_cast<size_t>(n);
      }
    });
    auto deadline = Clock::now() + std::chrono::seconds(120);
    while (got.size() < data.size() && Clock::now() < deadline) {
      int n = printer.port.Read(buffer.data(), static_cast<int>(buffer.size()));
      if (n < 0) break;
      got.insert(got.end(), buffer.begin(), buffer.begin() + n);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    sender.join();
    if (got != data) {
      state.SkipWithError("the reply did not arrive complete and in order");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * data.size());
}
BENCHMARK(BM_OneMegabyteReply)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Four printers attached: discovery of all of them, and of the one on a given port.
void BM_Discovery(benchmark::State& state) {
  sim::PrinterBed bed;
  for (int lp = 0; lp < 4; ++lp) {
    sim::PrinterRecord printer;
    printer.lp = lp;
    if (!bed.Plug(printer)) {
      state.SkipWithError("cannot plug the simulated printers in");
      return;
    }
  }
  usb::_struct_printer_comm_ table;
  for (auto _ : state) {
    if (state.range(0) == 0) {
      usb::EnumUsbPrinters(table);
    } else {
      usb::EnumUsbPrintersOnPort(table, "1-1.6");
    }
    benchmark::DoNotOptimize(table.count);
  }
}
BENCHMARK(BM_Discovery)->Arg(0)->Arg(1)->ArgName("one_port")->Unit(benchmark::kMicrosecond);

// A node that does not open fails at once, without the settle time of a good one. (The
// path lies outside /dev: umockdev's preload keeps a slot for every failed open of an
// emulated node, and runs out of them.)
void BM_FailedOpen(benchmark::State& state) {
  usb::TUsbPrinter port(platform::SystemClock());
  for (auto _ : state)
    benchmark::DoNotOptimize(port.Open("/tmp/vrq-no-such-printer-node"));
}
BENCHMARK(BM_FailedOpen)->Unit(benchmark::kMicrosecond);

// The detail line for a node another program holds: a look at every process's
// descriptors. counters: processes is how many this machine runs.
void BM_DiagnoseBusyNode(benchmark::State& state) {
  usb::OpenAttempt attempt;
  attempt.printerListed = true;
  attempt.problem = usb::OpenProblem::kCannotOpenNode;
  attempt.error = EBUSY;
  attempt.node = "/dev/usb/lp0";
  for (auto _ : state)
    benchmark::DoNotOptimize(usb::DiagnoseOpenFailure(attempt).detail);
  int processes = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc"))
    processes += std::isdigit(static_cast<unsigned char>(entry.path().filename().string()[0]));
  state.counters["processes"] = processes;
}
BENCHMARK(BM_DiagnoseBusyNode)->Unit(benchmark::kMillisecond);

// The detail line for a printer that usblp does not hold: a look at the USB devices.
void BM_DiagnoseNotHeldByUsblp(benchmark::State& state) {
  sim::PrinterBed bed;
  sim::PrinterRecord printer;
  printer.driver = "usbfs";
  if (!bed.Plug(printer)) {
    state.SkipWithError("cannot plug the simulated printer in");
    return;
  }
  usb::OpenAttempt attempt;
  for (auto _ : state)
    benchmark::DoNotOptimize(usb::DiagnoseOpenFailure(attempt).detail);
}
BENCHMARK(BM_DiagnoseNotHeldByUsblp)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  if (!sim::EnsureUmockdevPreload(argv, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
