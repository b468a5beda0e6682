#include "package/package_scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <span>

#include "platform/file.h"

namespace fwp {
namespace {

using platform::File;

// Records are read through a window of the file, so that a package of many small items
// costs one read per window rather than one per record.
constexpr int64_t kWindowSize = 64 * 1024;

std::string Reason(int error) {
  return platform::ErrorText(error);
}

// The bytes of the file from some offset on, refilled as the reader asks.
class FileWindow {
 public:
  FileWindow(File& file, int64_t fileSize) : file_(file), fileSize_(fileSize) {}

  // The bytes from offset on, at least `minimum` of them (fewer only at the end of the
  // file); false with Error() set when the file cannot be read.
  bool Fill(int64_t offset, int64_t minimum, std::span<const uint8_t>& bytes) {
    const int64_t available = fileSize_ - offset;
    minimum = std::min(minimum, available);
    if (offset < base_ || offset + minimum > base_ + static_cast<int64_t>(buffer_.size())) {
      if (!Refill(offset, std::min(std::max(minimum, kWindowSize), available))) return false;
    }
    bytes = std::span<const uint8_t>(buffer_).subspan(static_cast<size_t>(offset - base_));
    return true;
  }
  int Error() const { return error_; }

 private:
  bool Refill(int64_t offset, int64_t size) {
    base_ = offset;
    try {
      buffer_.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      error_ = ENOMEM;  // a field larger than memory: the file is damaged or hostile
      buffer_.clear();
      return false;
    }
    const int64_t got = file_.ReadAt(buffer_.data(), buffer_.size(), offset);
    if (got == size) return true;
    error_ = got < 0 ? file_.LastError() : EIO;  // the file shrank while it was read
    buffer_.clear();
    return false;
  }

  File& file_;
  int64_t fileSize_;
  std::vector<uint8_t> buffer_;
  int64_t base_ = 0;
  int error_ = 0;
};

void ScanRecords(File& file, PackageLayout& layout) {
  FileWindow window(file, layout.fileSize);
  int64_t offset = static_cast<int64_t>(kHeaderSize);
  int64_t want = 1;
  for (;;) {
    layout.endOffset = offset;
    std::span<const uint8_t> bytes;
    if (!window.Fill(offset, want, bytes)) {
      layout.error = window.Error();
      layout.problem = "cannot read the package: " + Reason(layout.error);
      return;
    }
    RecordStep step = ParseRecord(bytes, offset, layout.fileSize, layout.header.packMode);
    if (step.kind == RecordStep::kNeedMore && step.needed > static_cast<int64_t>(bytes.size())) {
      want = step.needed;
      continue;
    }
    want = 1;
    if (step.kind != RecordStep::kRecord) {
      // kNeedMore that asks for no more than it had cannot come from a sound reader.
      layout.end = step.kind == RecordStep::kNeedMore ? RecordStep::kDamaged : step.kind;
      layout.problem = step.problem;
      return;
    }
    offset = step.record.End();
    layout.records.push_back(std::move(step.record));
  }
}

}  // namespace

std::vector<HeaderRefusal> RefuseHeader(const PackageHeader& header, const std::string& printerName,
                                        const std::string& packageKind) {
  if (!header.hasMagic) {
    return {{true, "not an update package (no \"OP FILE 1.00\" header)", " is "}};
  }
  if (!header.complete) return {{true, HeaderProblem(header), ": "}};
  std::vector<HeaderRefusal> refusals;
  if (header.printerName != printerName) {
    refusals.push_back(
        {false, "made for the printer \"" + header.printerName + "\", not \"" + printerName + "\"",
         " is "});
  }
  if (header.packageKind != packageKind) {
    refusals.push_back(
        {false, "a package of the kind \"" + header.packageKind + "\", not \"" + packageKind + "\"",
         " is "});
  }
  return refusals;
}

std::string HeaderProbe::ProblemFor(const std::string& name, const std::string& printerName,
                                    const std::string& packageKind) const {
  if (error == platform::kNotRegularFile) return platform::OpenFailure(name, error);
  if (error != 0) return "cannot read " + name + ": " + Reason(error);
  if (size == 0) return name + " is empty";
  if (std::string tooLarge = PackageSizeProblem(name, size); !tooLarge.empty()) return tooLarge;
  const std::vector<HeaderRefusal> refusals = RefuseHeader(header, printerName, packageKind);
  return refusals.empty() ? std::string() : refusals.front().Named(name);
}

HeaderProbe ProbePackageHeader(const std::string& path) {
  File file = File::Open(path, File::Mode::kRead);
  const int64_t size = file.IsOpen() ? file.Size() : -1;
  if (size < 0) {
    HeaderProbe probe;
    probe.error = file.LastError();
    return probe;
  }
  return ProbePackageHeader(file, 0, size);
}

HeaderProbe ProbePackageHeader(File& file, int64_t offset, int64_t size) {
  HeaderProbe probe;
  probe.size = size;
  std::array<uint8_t, kHeaderSize> image{};
  const auto want = static_cast<size_t>(std::clamp<int64_t>(size, 0, kHeaderSize));
  const int64_t got = file.ReadAt(image.data(), want, offset);
  if (got < 0) {
    probe.error = file.LastError();
    return probe;
  }
  probe.header = ParseHeader(std::span<const uint8_t>(image.data(), static_cast<size_t>(got)));
  return probe;
}

std::string EndMarkerWarning(const PackageLayout& layout) {
  if (layout.end != RecordStep::kEndOfFile) return {};
  return "no four zero bytes behind the last record: the package may have been cut short at a "
         "record boundary";
}

PackageLayout ScanPackage(File& file) {
  PackageLayout layout;
  layout.fileSize = file.Size();
  const int64_t got =
      layout.fileSize < 0 ? -1 : file.ReadAt(layout.headerImage.data(), kHeaderSize, 0);
  if (got < 0) {
    layout.error = file.LastError();
    layout.problem = "cannot read the package: " + Reason(layout.error);
    return layout;
  }
  layout.header =
      ParseHeader(std::span<const uint8_t>(layout.headerImage.data(), static_cast<size_t>(got)));
  layout.problem = HeaderProblem(layout.header);
  layout.endOffset = got;
  if (layout.problem.empty()) ScanRecords(file, layout);
  return layout;
}

PackageLayout ScanPackage(const std::string& path) {
  File file = File::Open(path, File::Mode::kRead);
  if (!file.IsOpen()) {
    PackageLayout layout;
    layout.error = file.LastError();
    layout.problem = "cannot open the package: " + Reason(layout.error);
    return layout;
  }
  return ScanPackage(file);
}

}  // namespace fwp
