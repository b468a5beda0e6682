// Console output of Google Benchmark plus ratios between benchmarks of the same run:
// after all runs, each named pair prints "NAME / BASE = RATIO" of their bytes_per_second.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::vector<std::pair<std::string, std::string>> pairs)
      : pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With --benchmark_repetitions the mean stands for the benchmark, else its one run.
    for (const Run& run : runs) {
      auto rate = run.counters.find("bytes_per_second");
      if (rate == run.counters.end()) continue;
      if (run.aggregate_name == "mean") {
        means_[run.run_name.function_name] = rate->second.value;
      } else if (run.aggregate_name.empty()) {
        rates_[run.run_name.function_name] = rate->second.value;
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [function, rate] : means_)
      rates_[function] = rate;
    for (const auto& [name, base] : pairs_) {
      auto a = rates_.find(name), b = rates_.find(base);
      if (a == rates_.end() || b == rates_.end() || b->second <= 0) continue;
      std::printf("%s %.1f MB/s / %s %.1f MB/s = %.2f\n", name.c_str(), a->second / 1e6,
                  base.c_str(), b->second / 1e6, a->second / b->second);
    }
  }

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
  std::map<std::string, double> rates_;
  std::map<std::string, double> means_;
};

// main() for a benchmark program that reports the given ratios.
inline int RunWithRatios(int argc, char** argv,
                         std::vector<std::pair<std::string, std::string>> pairs) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(std::move(pairs));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
