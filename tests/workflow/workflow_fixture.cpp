#include "workflow_fixture.h"

#include <stdlib.h>

#include <fstream>
#include <random>

namespace apptest {
namespace fs = std::filesystem;

namespace {

fs::path MakeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "app_test_XXXXXX").string();
  return fs::path(mkdtemp(pattern.data()));
}

uint8_t HexDigit(char c) {
  return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'A' + 10);
}

}  // namespace

WorkflowTest::WorkflowTest()
    : dir(MakeTempDir()),
      exe((dir / "vrq-update").string()),
      tmp((dir / "tmp").string()),
      ui(clock),
      printer(clock),
      channel(printer, clock) {
  fs::create_directory(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  std::ofstream(exe, std::ios::binary) << std::string(4096, 'x');
  MakeForm(exe);
  ui.onTick = [this] { form->Timer1Timer(); };
}

void WorkflowTest::MakeForm(const std::string& executablePath) {
  auto image = [this]() -> std::optional<std::span<const uint8_t>> {
    if (!carriesLibrary) return std::nullopt;
    return std::span<const uint8_t>(libraryImage);
  };
  app::WorkflowEnvironment env{executablePath, image};
  env.history = history;
  form = std::make_unique<app::TMainForm>(ui, channel, clock, std::move(env));
}

WorkflowTest::~WorkflowTest() {
  unsetenv("TMPDIR");
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

std::string WorkflowTest::WritePackage(const std::vector<fwp::ItemImage>& items,
                                       const fwp::PackageHeaderFields& header,
                                       const std::string& name) {
  std::vector<uint8_t> image = fwp::PackageImage(header, items);
  std::string path = (dir / name).string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  ui.chosenFile = path;
  return path;
}

fwp::ItemImage Item(const std::string& type, const std::string& fileName, std::vector<uint8_t> data,
                    const std::string& mode, const std::string& commands) {
  fwp::ItemImage item;
  item.fields.type = type;
  item.fields.fileName = fileName;
  item.fields.mode = mode;
  item.fields.commands = commands;
  item.data = std::move(data);
  return item;
}

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data(size);
  for (uint8_t& byte : data)
    byte = static_cast<uint8_t>(random());
  return data;
}

std::vector<std::string> WorkflowTest::LeftOvers() const {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name != "vrq-update" && name != "tmp" && entry.path().extension() != ".fwp") {
      found.push_back(name);
    }
  }
  for (const auto& entry : fs::directory_iterator(tmp)) {
    found.push_back("tmp/" + entry.path().filename().string());
  }
  return found;
}

std::vector<std::string> WorkflowTest::BoxTexts() const {
  std::vector<std::string> texts;
  for (const Box& box : ui.boxes)
    texts.push_back(box.caption + ": " + box.text);
  return texts;
}

std::vector<uint8_t> WorkflowTest::SectionReceived(int tp) const {
  std::vector<uint8_t> section;
  for (const BlockSeen& block : printer.blocks) {
    if (block.tp != tp) continue;
    std::string digits;
    for (char c : block.hex) {
      if (c != '\r' && c != '\n') digits.push_back(c);
    }
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
      bytes.push_back(static_cast<uint8_t>(HexDigit(digits[i]) << 4 | HexDigit(digits[i + 1])));
    }
    if (section.size() < static_cast<size_t>(block.add) + bytes.size()) {
      section.resize(static_cast<size_t>(block.add) + bytes.size());
    }
    std::copy(bytes.begin(), bytes.end(), section.begin() + block.add);
  }
  return section;
}

}  // namespace apptest
