// What one run owns and must give back on every path, each as a small owner: the package
// object whose item files it extracted, the progress bar it showed (its temporary files
// are platform::TempFile owners). A run that ends early, throws or is stopped gives
// everything back as it unwinds.
#pragma once

#include <string>

#include "package/opfile.h"
#include "workflow/main_window_ui.h"

namespace app {

// The package object of one run; every item file it extracted goes with it (the work
// folder stays, as the package object leaves it).
class ExtractedItems {
 public:
  ExtractedItems() = default;
  ExtractedItems(const ExtractedItems&) = delete;
  ExtractedItems& operator=(const ExtractedItems&) = delete;
  ~ExtractedItems() { package_.RemoveAllItems(); }

  fwp::TOPFile& Package() { return package_; }
  const fwp::TOPFile& Package() const { return package_; }

 private:
  fwp::TOPFile package_;
};

// The progress bar, shown while it lives; hidden and back at 0 afterwards.
class ProgressShown {
 public:
  explicit ProgressShown(MainWindowUi& ui) : ui_(ui) { ui_.SetProgressVisible(true); }
  ProgressShown(const ProgressShown&) = delete;
  ProgressShown& operator=(const ProgressShown&) = delete;
  ~ProgressShown() {
    ui_.SetProgressVisible(false);
    ui_.SetProgress(0);
  }

 private:
  MainWindowUi& ui_;
};

// The USB port of the printer being updated, shown beside the status while it lives.
class PrinterPortShown {
 public:
  PrinterPortShown(MainWindowUi& ui, const std::string& portPath) : ui_(ui) {
    ui_.ShowPrinterPort(portPath);
  }
  PrinterPortShown(const PrinterPortShown&) = delete;
  PrinterPortShown& operator=(const PrinterPortShown&) = delete;
  ~PrinterPortShown() { ui_.ShowPrinterPort({}); }

 private:
  MainWindowUi& ui_;
};

}  // namespace app
