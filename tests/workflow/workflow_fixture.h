// A main window's workflow in a private folder, with a scripted printer, on virtual time.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fakes.h"
#include "package/package_writer.h"
#include "workflow/Unit_mainform.h"

namespace apptest {

fwp::ItemImage Item(const std::string& type, const std::string& fileName, std::vector<uint8_t> data,
                    const std::string& mode = "1",
                    const std::string& commands = "CONNECT\r\nGO\r\n");
// Reproducible bytes.
std::vector<uint8_t> Bytes(size_t size, uint32_t seed = 1);

class WorkflowTest : public ::testing::Test {
 public:
  WorkflowTest();
  ~WorkflowTest() override;

  // Writes a package into the folder (and makes it the file the dialog gives).
  std::string WritePackage(const std::vector<fwp::ItemImage>& items,
                           const fwp::PackageHeaderFields& header = {},
                           const std::string& name = "pkg.fwp");

  // Files and folders left in the work areas besides the executable and the packages.
  std::vector<std::string> LeftOvers() const;
  std::vector<std::string> BoxTexts() const;
  // The bytes the printer received for one section, assembled at the blocks' offsets.
  std::vector<uint8_t> SectionReceived(int tp) const;

  std::filesystem::path dir;
  std::string exe;
  std::string tmp;
  std::vector<uint8_t> libraryImage{0x7f, 'E', 'L', 'F', 1, 2, 3};
  bool carriesLibrary = true;
  VirtualClock clock;
  FakeUi ui;
  ScriptedPrinter printer;
  app::CommandChannel channel;
  std::unique_ptr<app::TMainForm> form;
  // Where the form records its updates (MakeForm passes it on); null: nowhere.
  std::shared_ptr<app::UpdateHistory> history;

  // Builds the form anew for an executable at another path.
  void MakeForm(const std::string& executablePath);
};

}  // namespace apptest
