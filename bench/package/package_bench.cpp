// TOPFile::Load of a stored 64 MiB package, and the extraction of a 64 MiB package linked
// to an executable, against plain copies of the same bytes on the same disk; Load,
// RemoveAllItems and vrq-update --check of a package of 50,000 one-byte items. Rates are bytes of
// item data (of the linked package for the extraction).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "package/linked_package.h"
#include "package/opfile.h"
#include "package/package_writer.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "terminal/package_check_run.h"

namespace {

namespace fs = std::filesystem;
constexpr size_t kItemSize = 64 << 20;
constexpr size_t kChunk = 64 * 1024;

// A scratch folder with the item's bytes and a stored package holding them. It lies
// below $VRQ_BENCH_DIR when set (to pick the disk), else in the temporary-files folder.
class Scratch {
 public:
  Scratch() {
    const char* base = std::getenv("VRQ_BENCH_DIR");
    root_ = fs::path(base ? base : platform::TempFolder()) /
            ("vrq_package_bench." + std::to_string(std::random_device()()));
    fs::create_directories(root_ / "work");
    std::vector<uint8_t> data(kItemSize);
    std::mt19937 rng(5);
    for (size_t i = 0; i < data.size(); i += 4) {
      const uint32_t v = rng();
      std::memcpy(&data[i], &v, 4);
    }
    // Written in the package writer's chunks, so that both sources sit in the page
    // cache alike (one huge write gets larger cache pages, which read faster).
    platform::File item = platform::File::Open(Item(), platform::File::Mode::kCreateTruncate);
    for (size_t done = 0; done < data.size(); done += kChunk) {
      item.Write(data.data() + done, std::min(kChunk, data.size() - done));
    }
    item.Close();
    fwp::PackageWriter writer(Package(), fwp::PackageHeaderFields{});
    writer.AddItemFromFile({"system", "", "0", "system.bin", 0, 0, 0}, Item());
    ok_ = writer.Finish();
    // An update application: a small stand-in for the executable with the package linked.
    platform::File app = platform::File::Open(App(), platform::File::Mode::kCreateTruncate);
    ok_ = ok_ &&
          app.Write(
              "\x7f"
              "ELF",
              4) == 4 &&
          app.Close() && fwp::AppendLinkedPackage(App(), Package()) > 0;
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  bool Ok() const { return ok_; }
  std::string Item() const { return (root_ / "item.bin").string(); }
  std::string Package() const { return (root_ / "package.fwp").string(); }
  std::string Work() const { return (root_ / "work").string(); }
  std::string Copy() const { return (root_ / "copy.bin").string(); }
  std::string App() const { return (root_ / "package.run").string(); }

 private:
  fs::path root_;
  bool ok_ = false;
};

Scratch& Shared() {
  static Scratch scratch;
  return scratch;
}

void BM_LoadStoredPackage(benchmark::State& state) {
  Scratch& s = Shared();
  if (!s.Ok()) return state.SkipWithError("cannot write the package");
  fwp::TOPFile package;
  package.SetWorkFolder(s.Work());
  for (auto _ : state) {
    state.PauseTiming();
    package.RemoveAllItems();
    state.ResumeTiming();
    if (!package.Load(s.Package())) state.SkipWithError(package.LoadError().c_str());
  }
  package.RemoveAllItems();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kItemSize));
}

// What an update application does first: the trailer read, the package copied out (and
// its checksum compared on the way).
void BM_ExtractLinkedPackage(benchmark::State& state) {
  Scratch& s = Shared();
  if (!s.Ok()) return state.SkipWithError("cannot write the update application");
  const fwp::LinkedPackage linked = fwp::FindLinkedPackage(s.App());
  for (auto _ : state) {
    state.PauseTiming();
    platform::DeleteFile(s.Copy());
    state.ResumeTiming();
    if (fwp::ExtractLinkedPackage(s.App(), linked, s.Copy()) != linked.length) {
      state.SkipWithError("extraction failed");
    }
  }
  platform::DeleteFile(s.Copy());
  state.SetBytesProcessed(state.iterations() * linked.length);
}

// 50,000 stored items of one byte each, every one a file of its own; the first is the
// firmware item, the rest fonts, so that --check finds an update. Each run extracts
// into a fresh folder and leaves the files until the program ends: ext4 makes new files
// slowly for a minute after as many were deleted, which no user's single load meets.
class ManyItems {
 public:
  static constexpr int kCount = 50000;
  ManyItems() {
    const char* base = std::getenv("VRQ_BENCH_DIR");
    root_ = fs::path(base ? base : platform::TempFolder()) /
            ("vrq_package_bench_many." + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    fwp::PackageWriter writer(Package(), fwp::PackageHeaderFields{});
    for (int i = 0; i < kCount; ++i) {
      writer.AddItem({i == 0 ? "frw" : "font", "", "", Name(i), 0, 0, 0}, &kByte, 1);
    }
    ok_ = writer.Finish();
  }
  ~ManyItems() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  static std::string Name(int i) { return "item" + std::to_string(i) + ".bin"; }
  bool Ok() const { return ok_; }
  std::string Package() const { return (root_ / "many.fwp").string(); }
  std::string NewFolder() {
    const fs::path folder = root_ / ("run" + std::to_string(++runs_));
    fs::create_directories(folder);
    return folder.string() + "/";
  }
  static constexpr uint8_t kByte = 0x5A;

 private:
  fs::path root_;
  bool ok_ = false;
  int runs_ = 0;
};

ManyItems& Many() {
  static ManyItems many;
  return many;
}

void SetManyItemsProcessed(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * ManyItems::kCount);
  state.SetBytesProcessed(state.iterations() * ManyItems::kCount);  // one byte each
}

void BM_LoadManySmallItems(benchmark::State& state) {
  ManyItems& many = Many();
  if (!many.Ok()) return state.SkipWithError("cannot write the package");
  for (auto _ : state) {
    state.PauseTiming();
    fwp::TOPFile package;
    package.SetWorkFolder(many.NewFolder());
    state.ResumeTiming();
    if (!package.Load(many.Package())) state.SkipWithError(package.LoadError().c_str());
  }
  SetManyItemsProcessed(state);
}

// vrq-update --check of the same package: everything but the process's start. It reads
// the package without writing an item file, so it takes a fraction of the load.
void BM_CheckManySmallItems(benchmark::State& state) {
  ManyItems& many = Many();
  if (!many.Ok()) return state.SkipWithError("cannot write the package");
  for (auto _ : state) {
    std::ostringstream out, err;
    if (app::RunPackageCheck(platform::ExecutablePath(), many.Package(), out, err) != 0) {
      state.SkipWithError(err.str().c_str());
    }
  }
  SetManyItemsProcessed(state);
}

// The floor: as many one-byte files written plainly.
void BM_CreateManyFiles(benchmark::State& state) {
  ManyItems& many = Many();
  for (auto _ : state) {
    state.PauseTiming();
    const std::string folder = many.NewFolder();
    state.ResumeTiming();
    for (int i = 0; i < ManyItems::kCount; ++i) {
      platform::File file =
          platform::File::Open(folder + ManyItems::Name(i), platform::File::Mode::kCreateTruncate);
      file.Write(&ManyItems::kByte, 1);
    }
  }
  SetManyItemsProcessed(state);
}

void BM_RemoveManySmallItems(benchmark::State& state) {
  ManyItems& many = Many();
  if (!many.Ok()) return state.SkipWithError("cannot write the package");
  for (auto _ : state) {
    state.PauseTiming();
    fwp::TOPFile package;
    package.SetWorkFolder(many.NewFolder());
    if (!package.Load(many.Package())) state.SkipWithError(package.LoadError().c_str());
    state.ResumeTiming();
    package.RemoveAllItems();
  }
  SetManyItemsProcessed(state);
}

// The plain copy a user would make: read and write in 64 KiB chunks into a new file.
void BM_PlainCopy(benchmark::State& state) {
  Scratch& s = Shared();
  std::vector<uint8_t> chunk(kChunk);
  for (auto _ : state) {
    state.PauseTiming();
    platform::DeleteFile(s.Copy());
    state.ResumeTiming();
    platform::File in = platform::File::Open(s.Item(), platform::File::Mode::kRead);
    platform::File out = platform::File::Open(s.Copy(), platform::File::Mode::kCreateTruncate);
    for (int64_t n; (n = in.Read(chunk.data(), chunk.size())) > 0;) {
      out.Write(chunk.data(), static_cast<size_t>(n));
    }
    out.Close();
  }
  platform::DeleteFile(s.Copy());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kItemSize));
}

// The platform's own file copy (what the maker uses), for reference.
void BM_PlatformCopyFile(benchmark::State& state) {
  Scratch& s = Shared();
  for (auto _ : state) {
    state.PauseTiming();
    platform::DeleteFile(s.Copy());
    state.ResumeTiming();
    if (!platform::CopyFile(s.Item(), s.Copy(), false)) state.SkipWithError("copy failed");
  }
  platform::DeleteFile(s.Copy());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kItemSize));
}

BENCHMARK(BM_LoadStoredPackage)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_ExtractLinkedPackage)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_PlatformCopyFile)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_LoadManySmallItems)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_CheckManySmallItems)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);
BENCHMARK(BM_CreateManyFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_RemoveManySmallItems)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  return bench::RunWithRatios(argc, argv,
                              {{"BM_LoadStoredPackage", "BM_PlainCopy"},
                               {"BM_LoadStoredPackage", "BM_PlatformCopyFile"},
                               {"BM_ExtractLinkedPackage", "BM_PlainCopy"},
                               {"BM_LoadManySmallItems", "BM_CreateManyFiles"}});
}
