// Throughput of hidusbWriteData and hidusbReadData against the emulated printer, and the
// allocations made during a transfer by the library and by hidapi.
//
// Every allocation in the process goes through the counting malloc family below, which
// charges it to the object (libJXUsbHid.so, libhidapi-hidraw.so.0 or anything else) whose
// code called it. The emulator's own bookkeeping and umockdev land in "other".
#include <benchmark/benchmark.h>
#include <link.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "hidlib/JXUsbHid.h"
#include "tests/hidlib/hid_emulator.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* block, size_t size);
extern "C" void* __libc_memalign(size_t alignment, size_t size);
extern "C" void __libc_free(void* block);

namespace {

struct CodeRange {
  uintptr_t begin = 0, end = 0;
  bool Contains(const void* address) const {
    const auto at = reinterpret_cast<uintptr_t>(address);
    return at >= begin && at < end;
  }
};

CodeRange libraryCode, hidapiCode;
std::atomic<long> libraryAllocations{0}, hidapiAllocations{0}, otherAllocations{0};

void Charge(const void* caller) {
  if (libraryCode.Contains(caller)) {
    libraryAllocations.fetch_add(1, std::memory_order_relaxed);
  } else if (hidapiCode.Contains(caller)) {
    hidapiAllocations.fetch_add(1, std::memory_order_relaxed);
  } else {
    otherAllocations.fetch_add(1, std::memory_order_relaxed);
  }
}

int FindRange(dl_phdr_info* info, size_t, void*) {
  CodeRange* range = nullptr;
  if (std::strstr(info->dlpi_name, "libJXUsbHid") != nullptr) range = &libraryCode;
  if (std::strstr(info->dlpi_name, "libhidapi-hidraw") != nullptr) range = &hidapiCode;
  if (range == nullptr) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
    if (range->begin == 0 || begin < range->begin) range->begin = begin;
    if (begin + segment.p_memsz > range->end) range->end = begin + segment.p_memsz;
  }
  return 0;
}

}  // namespace

extern "C" void* malloc(size_t size) {
  Charge(__builtin_return_address(0));
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  Charge(__builtin_return_address(0));
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size) {
  Charge(__builtin_return_address(0));
  return __libc_realloc(block, size);
}
extern "C" void* memalign(size_t alignment, size_t size) {
  Charge(__builtin_return_address(0));
  return __libc_memalign(alignment, size);
}
void* operator new(size_t size) {
  Charge(__builtin_return_address(0));
  if (void* block = __libc_malloc(size)) return block;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  Charge(__builtin_return_address(0));
  if (void* block = __libc_malloc(size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  __libc_free(block);
}
void operator delete[](void* block) noexcept {
  __libc_free(block);
}
void operator delete(void* block, size_t) noexcept {
  __libc_free(block);
}
void operator delete[](void* block, size_t) noexcept {
  __libc_free(block);
}

namespace {

constexpr int kTransfer = 1024 * 1024;
hidtest::HidEmulator* emulator = nullptr;
int handle = 0;

struct AllocationCount {
  long library = libraryAllocations.load();
  long hidapi = hidapiAllocations.load();
};

void ReportAllocations(benchmark::State& state, const AllocationCount& before) {
  state.counters["library_allocs"] = static_cast<double>(libraryAllocations - before.library);
  state.counters["hidapi_allocs"] = static_cast<double>(hidapiAllocations - before.hidapi);
}

void BM_WriteData(benchmark::State& state) {
  std::vector<unsigned char> data(kTransfer);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<unsigned char>(i * 7);
  emulator->SetCredit(0x7FFFFFFF);
  long reports = 0;
  const AllocationCount before;
  for (auto _ : state) {
    state.PauseTiming();
    emulator->ClearRecord();
    state.ResumeTiming();
    if (hidusbWriteData(handle, data.data(), kTransfer) != kTransfer) {
      state.SkipWithError("short write");
      break;
    }
    state.PauseTiming();
    reports += static_cast<long>(emulator->Reports().size());
    state.ResumeTiming();
  }
  ReportAllocations(state, before);
  state.SetBytesProcessed(state.iterations() * kTransfer);
  state.counters["reports/s"] =
      benchmark::Counter(static_cast<double>(reports), benchmark::Counter::kIsRate);
}

void BM_ReadData(benchmark::State& state) {
  const std::vector<uint8_t> incoming(kTransfer, 0x5A);
  std::vector<unsigned char> buffer(65536);
  long reports = 0;
  const AllocationCount before;
  for (auto _ : state) {
    state.PauseTiming();
    emulator->QueueInput(incoming);
    emulator->ClearRecord();
    state.ResumeTiming();
    for (int total = 0; total < kTransfer;) {
      total += hidusbReadData(handle, buffer.data(), static_cast<int>(buffer.size()));
    }
    state.PauseTiming();
    reports += emulator->InputFetches();
    state.ResumeTiming();
  }
  ReportAllocations(state, before);
  state.SetBytesProcessed(state.iterations() * kTransfer);
  state.counters["reports/s"] =
      benchmark::Counter(static_cast<double>(reports), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_WriteData)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadData)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  hidtest::ReexecUnderUmockdev(argv);
  benchmark::Initialize(&argc, argv);
  hidtest::HidEmulator printer;
  if (!printer.ok()) {
    std::fprintf(stderr, "emulated printer: %s\n", printer.error().c_str());
    return 1;
  }
  emulator = &printer;
  // Open, close and open again: the second open, counted with the code ranges known, shows
  // that the counter sees the allocations the library and hidapi do make (at open only).
  handle = hidusbOpen();
  dl_iterate_phdr(FindRange, nullptr);
  hidusbClose(handle);
  const AllocationCount beforeOpen;
  handle = hidusbOpen();
  if (handle == 0 || libraryCode.begin == 0 || hidapiCode.begin == 0) {
    std::fprintf(stderr, "hidusbOpen failed\n");
    return 1;
  }
  std::fprintf(stderr, "allocations during hidusbOpen: library %ld, hidapi %ld\n",
               libraryAllocations - beforeOpen.library, hidapiAllocations - beforeOpen.hidapi);
  benchmark::RunSpecifiedBenchmarks();
  hidusbClose(handle);
  benchmark::Shutdown();
  return 0;
}
