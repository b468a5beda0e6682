// fwp-tool build: manifest and options in, package file out.

#include <charconv>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>

#include "package/file_time.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "tools/fwp-tool/fwp_tool.h"
#include "tools/fwp-tool/manifest.h"

namespace fwptool {
namespace {

constexpr int64_t kMaxManifestSize = 16 * 1024 * 1024;

struct Patch {
  uint64_t offset = 0;
  std::vector<uint8_t> bytes;
};

struct BuildOptions {
  std::string output;
  std::string manifest;
  std::vector<ItemPlan> items;  // from --item
  std::optional<std::string> printer, kind, versionLabel, magic;
  std::optional<int8_t> packMode;
  bool unsafeNames = false;
  bool allowAny = false;  // item types the updater does not know, and no items at all
  bool endMarker = true;
  bool help = false;
  std::optional<uint64_t> truncate;
  std::vector<Patch> patches;
};

bool ParseOffset(const std::string& text, uint64_t& value) {
  int base = 10;
  std::string_view digits = text;
  if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
    digits.remove_prefix(2);
    base = 16;
  }
  if (digits.empty()) return false;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  return ec == std::errc() && end == digits.data() + digits.size();
}

bool ParsePatch(const std::string& text, Patch& patch) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || !ParseOffset(text.substr(0, colon), patch.offset)) return false;
  std::string hex = text.substr(colon + 1);
  if (hex.empty() || hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    uint64_t byte = 0;
    auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
    if (ec != std::errc() || end != hex.data() + i + 2) return false;
    patch.bytes.push_back(static_cast<uint8_t>(byte));
  }
  return true;
}

// One option of the command line, applied to the options gathered so far; kExitOk, or the
// exit status of a usage error.
int ApplyOption(Option option, const std::string& value, BuildOptions& o, std::ostream& err) {
  switch (option) {
    case Option::kManifest:
      if (!o.manifest.empty()) return UsageError(err, "only one manifest can be given");
      o.manifest = value;
      break;
    case Option::kItem: {
      ItemPlan item;
      std::string error;
      if (!ParseItemShortcut(value, item, error)) return UsageError(err, error);
      o.items.push_back(std::move(item));
      break;
    }
    case Option::kPrinter:
      o.printer = value;
      break;
    case Option::kKind:
      o.kind = value;
      break;
    case Option::kVersionLabel:
      o.versionLabel = value;
      break;
    case Option::kMagic:
      o.magic = value;
      break;
    case Option::kPacked:
      o.packMode = fwp::kPackPacked;
      break;
    case Option::kStored:
      o.packMode = fwp::kPackStored;
      break;
    case Option::kPackMode:
      o.packMode = ParsePackMode(value);
      if (!o.packMode) return UsageError(err, "--pack-mode wants a number from -128 to 127");
      break;
    case Option::kUnsafeNames:
      o.unsafeNames = true;
      break;
    case Option::kAllowAny:
      o.allowAny = true;
      break;
    case Option::kNoEndMarker:
      o.endMarker = false;
      break;
    case Option::kTruncate: {
      uint64_t size = 0;
      if (!ParseOffset(value, size)) return UsageError(err, "--truncate wants a byte count");
      o.truncate = size;
      break;
    }
    case Option::kPatch: {
      Patch patch;
      if (!ParsePatch(value, patch)) return UsageError(err, "--patch wants OFFSET:HEXBYTES");
      o.patches.push_back(std::move(patch));
      break;
    }
    case Option::kHelp:
    case Option::kVersion:
    case Option::kVerbose:
      break;
  }
  return kExitOk;
}

int ParseBuildArgs(const std::vector<std::string>& args, BuildOptions& o, std::ostream& err) {
  Arguments read;
  if (auto done = ReadArguments("build", args, read, err)) return *done;
  if (read.Has(Option::kHelp)) {
    o.help = true;
    return kExitOk;
  }
  for (const auto& [option, value] : read.options) {
    if (int result = ApplyOption(option, value, o, err); result != kExitOk) return result;
  }
  if (read.operands.size() > 1) {
    return UsageError(err, "more than one OUTPUT given (\"" + read.operands[1] + "\")");
  }
  if (read.operands.empty()) return UsageError(err, "build needs an OUTPUT file");
  o.output = read.operands[0];
  if (o.manifest.empty() && o.items.empty() && !o.allowAny) {
    return UsageError(err, "build needs items: --item or --manifest");
  }
  return kExitOk;
}

bool ReadManifest(const std::string& path, BuildPlan& plan, std::string& error) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file.IsOpen()) {
    error = "manifest: " + platform::OpenFailure(path, file.LastError());
    return false;
  }
  const int64_t size = file.Size();
  if (size < 0) {
    error = "cannot read manifest " + path + ": " + platform::ErrorText(file.LastError());
    return false;
  }
  if (size > kMaxManifestSize) {
    error = "manifest " + path + " is larger than " + std::to_string(kMaxManifestSize) + " bytes";
    return false;
  }
  std::string text(static_cast<size_t>(size), '\0');
  if (file.Read(text.data(), text.size()) != size) {
    error = "cannot read manifest " + path + ": " + platform::ErrorText(file.LastError());
    return false;
  }
  if (!ParseManifest(text, platform::FolderOf(path), plan, error)) {
    error = path + ":" + error;
    return false;
  }
  return true;
}

bool SourceTimes(const std::string& path, uint64_t& lastAccess, uint64_t& lastWrite) {
  platform::FileTime access;
  platform::FileTime write;
  if (!platform::GetFileTimes(path, access, write)) return false;
  lastAccess = fwp::UnixToFileTime(access);
  lastWrite = fwp::UnixToFileTime(write);
  return true;
}

bool IsSafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

bool IsKnownType(const std::string& type) {
  for (std::string_view known : fwp::kItemTypes) {
    if (type == known) return true;
  }
  return false;
}

// Default names and times; refuses names that would leave the work folder, and types
// the updater would not use.
bool CompleteItem(ItemPlan& item, const BuildOptions& o, std::string& error) {
  const std::string where = item.line > 0 ? "item at manifest line " + std::to_string(item.line)
                                          : "--item " + item.fields.type;
  if (!o.allowAny && !IsKnownType(item.fields.type)) {
    error = where + ": the updater knows no item type \"" + Escape(item.fields.type) +
            "\" (frw, bootloader, system, font; --allow-any writes it for tests)";
    return false;
  }
  if (platform::File file = platform::File::Open(item.source, platform::File::Mode::kRead);
      !file.IsOpen()) {
    error = where + ": " + platform::OpenFailure(item.source, file.LastError());
    return false;
  }
  if (!item.hasName) item.fields.fileName = platform::FileNameOf(item.source);
  if (!o.unsafeNames && !IsSafeName(item.fields.fileName)) {
    error = where + ": name \"" + Escape(item.fields.fileName) +
            "\" must be a plain file name (--unsafe-names allows it for tests)";
    return false;
  }
  uint64_t access = 0, write = 0;
  if ((!item.lastAccessTime || !item.lastWriteTime || !item.creationTime) &&
      !SourceTimes(item.source, access, write)) {
    error = where + ": cannot read the times of " + item.source;
    return false;
  }
  item.fields.lastAccessTime = item.lastAccessTime.value_or(access);
  item.fields.lastWriteTime = item.lastWriteTime.value_or(write);
  item.fields.creationTime = item.creationTime.value_or(write);
  return true;
}

bool CheckHeader(const fwp::PackageHeaderFields& h, std::string& error) {
  struct Field {
    const char* name;
    const std::string& text;
    size_t limit;
  };
  const Field fields[] = {{"printer name", h.printerName, fwp::kPrinterNameSize},
                          {"package kind", h.packageKind, fwp::kPackageKindSize},
                          {"version label", h.versionLabel, fwp::kVersionLabelSize},
                          {"magic", h.magic, fwp::kMagicSize}};
  for (const Field& field : fields) {
    if (field.text.size() > field.limit) {
      error = std::string(field.name) + " is longer than " + std::to_string(field.limit) + " bytes";
      return false;
    }
  }
  return true;
}

bool MakePlan(const BuildOptions& o, BuildPlan& plan, std::string& error) {
  if (!o.manifest.empty() && !ReadManifest(o.manifest, plan, error)) return false;
  plan.items.insert(plan.items.end(), o.items.begin(), o.items.end());
  fwp::PackageHeaderFields& h = plan.header;
  if (o.printer) h.printerName = *o.printer;
  if (o.kind) h.packageKind = *o.kind;
  if (o.versionLabel) h.versionLabel = *o.versionLabel;
  if (o.magic) h.magic = *o.magic;
  if (o.packMode) h.packMode = *o.packMode;
  if (!CheckHeader(h, error)) return false;
  if (plan.items.empty() && !o.allowAny) {
    error = "the package would hold no item (--allow-any writes it for tests)";
    return false;
  }
  for (ItemPlan& item : plan.items) {
    if (!CompleteItem(item, o, error)) return false;
  }
  return true;
}

bool ApplyDamage(const BuildOptions& o, std::string& error) {
  for (const Patch& patch : o.patches) {
    platform::File file = platform::File::Open(o.output, platform::File::Mode::kReadWrite);
    if (!file.IsOpen() || file.Seek(static_cast<int64_t>(patch.offset), 0) < 0 ||
        file.Write(patch.bytes.data(), patch.bytes.size()) !=
            static_cast<int64_t>(patch.bytes.size())) {
      error = "cannot patch " + o.output;
      return false;
    }
  }
  if (o.truncate) {
    std::error_code ec;
    std::filesystem::resize_file(o.output, *o.truncate, ec);
    if (ec) {
      error = "cannot truncate " + o.output + ": " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace

int RunBuild(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  BuildOptions options;
  if (int result = ParseBuildArgs(args, options, err); result != kExitOk) return result;
  if (options.help) return ShowHelp("build", out);
  BuildPlan plan;
  std::string error;
  if (!MakePlan(options, plan, error)) {
    err << "fwp-tool build: " << error << "\n";
    return kExitFailed;
  }
  fwp::PackageWriter writer(options.output, plan.header);
  for (const ItemPlan& item : plan.items) {
    if (!writer.AddItemFromFile(item.fields, item.source)) break;
  }
  if (!writer.Finish(options.endMarker) || !ApplyDamage(options, error)) {
    err << "fwp-tool build: " << (writer.Ok() ? error : writer.Error()) << "\n";
    platform::DeleteFile(options.output);
    return kExitFailed;
  }
  out << "wrote " << options.output << ": " << plan.items.size() << " item"
      << (plan.items.size() == 1 ? "" : "s") << ", " << platform::FileSize(options.output)
      << " bytes\n";
  return kExitOk;
}

}  // namespace fwptool

namespace fwptool {

int RunPack(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  Arguments read;
  if (auto done = ReadArguments("pack", arguments, read, err)) return *done;
  if (read.Has(Option::kHelp)) return ShowHelp("pack", out);
  const std::vector<std::string>& args = read.operands;
  if (args.size() != 2) return UsageError(err, "pack needs FILE and OUTPUT");
  platform::File input = platform::File::Open(args[0], platform::File::Mode::kRead);
  if (!input.IsOpen()) {
    err << "fwp-tool pack: " << platform::OpenFailure(args[0], input.LastError()) << "\n";
    return kExitFailed;
  }
  const int64_t size = input.Size();
  if (size > std::numeric_limits<int32_t>::max()) {
    err << "fwp-tool pack: " << args[0] << " is too large for one packed item\n";
    return kExitFailed;
  }
  std::vector<uint8_t> data(size > 0 ? static_cast<size_t>(size) : 0);
  if (size < 0 || input.Read(data.data(), data.size()) != size) {
    err << "fwp-tool pack: cannot read " << args[0] << ": "
        << platform::ErrorText(input.LastError()) << "\n";
    return kExitFailed;
  }
  std::vector<uint8_t> packed = fwp::ItemDataFor(fwp::kPackPacked, data.data(), data.size());
  platform::File output = platform::File::Open(args[1], platform::File::Mode::kCreateTruncate);
  if (!output.IsOpen() ||
      output.Write(packed.data(), packed.size()) != static_cast<int64_t>(packed.size()) ||
      !output.Close()) {
    err << "fwp-tool pack: cannot write " << args[1] << "\n";
    return kExitFailed;
  }
  out << "wrote " << args[1] << ": " << size << " bytes packed into " << packed.size() << "\n";
  return kExitOk;
}

}  // namespace fwptool
