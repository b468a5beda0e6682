// BytesToHexText on flash blocks of each section's size, 32 bytes per line as the update
// sends them. Rates are bytes of hex text produced; input_bytes_per_second counts the
// block's own bytes.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "workflow/printer_vocabulary.h"

namespace {

void BM_BytesToHexText(benchmark::State& state) {
  const auto size = static_cast<int32_t>(state.range(0));
  std::vector<uint8_t> block(static_cast<size_t>(size));
  std::mt19937 rng(9);
  for (uint8_t& b : block)
    b = static_cast<uint8_t>(rng());
  size_t produced = 0;
  for (auto _ : state) {
    std::string text = app::BytesToHexText(block.data(), size, app::kHexBytesPerLine);
    produced = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * produced));
  state.counters["input_bytes_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * size, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_BytesToHexText)->Arg(128 << 10)->Arg(1 << 20)->Arg(2 << 20);

}  // namespace
