// FindProcessesHolding on a made-up /proc of PROCESSES processes with 50 descriptors each,
// one of which holds the node: what telling the operator who holds a busy printer costs
// on a crowded machine. The tree lies in the temporary-files folder.
//
//   build/default/bin/bench_process_scan
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/process_scan.h"

namespace {

namespace fs = std::filesystem;

class FakeProc {
 public:
  explicit FakeProc(int processes) {
    std::string pattern = (fs::temp_directory_path() / "vrq-bench-proc-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    root_ = pattern;
    static const char* const kKinds[] = {
        "/dev/pts/",           "socket:[", "/dev/usb/lp1", "pipe:[", "/home/user/.cache/file",
        "anon_inode:[eventfd]"};
    for (int pid = 100; pid < 100 + processes; ++pid) {
      const fs::path folder = root_ / std::to_string(pid);
      fs::create_directories(folder / "fd");
      std::ofstream(folder / "comm") << "p" << pid << "\n";
      for (int fd = 0; fd < 50; ++fd) {
        std::string target = kKinds[fd % 6] + std::to_string(pid * 50 + fd);
        if (pid == 100 + processes / 2 && fd == 37) target = "/dev/usb/lp0";
        fs::create_symlink(target, folder / "fd" / std::to_string(fd));
      }
    }
  }
  ~FakeProc() {
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
  }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

void BM_FindHolderInFakeProc(benchmark::State& state) {
  const FakeProc proc(static_cast<int>(state.range(0)));
  if (proc.root().empty()) {
    state.SkipWithError("cannot make the tree");
    return;
  }
  for (auto _ : state) {
    platform::HolderScan scan = platform::FindProcessesHolding("/dev/usb/lp0", proc.root());
    if (scan.holders.size() != 1 || scan.timedOut) state.SkipWithError("holder not found");
    benchmark::DoNotOptimize(scan);
  }
  state.counters["descriptors"] = static_cast<double>(state.range(0) * 50);
}
BENCHMARK(BM_FindHolderInFakeProc)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
