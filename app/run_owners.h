// What one run owns and must give back on every path, each as a small owner: a file it
// made, the package object whose item files it extracted, the progress bar it showed.
// A run that ends early, throws or is stopped gives everything back as it unwinds.
#pragma once

#include <string>
#include <utility>

#include "app/main_window_ui.h"
#include "package/opfile.h"
#include "platform/fs.h"

namespace app {

// A file this run made; deleted when its owner goes. An empty path owns nothing.
class OwnedFile {
 public:
  OwnedFile() = default;
  explicit OwnedFile(std::string path) : path_(std::move(path)) {}
  OwnedFile(OwnedFile&& other) noexcept : path_(std::exchange(other.path_, {})) {}
  OwnedFile& operator=(OwnedFile&& other) noexcept {
    if (this != &other) {
      Remove();
      path_ = std::exchange(other.path_, {});
    }
    return *this;
  }
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  ~OwnedFile() { Remove(); }

  const std::string& Path() const { return path_; }

 private:
  void Remove() {
    if (!path_.empty()) platform::DeleteFile(path_);
  }
  std::string path_;
};

// The package object of one run; every item file it extracted goes with it (the work
// folder stays, as the package object leaves it).
class ExtractedItems {
 public:
  ExtractedItems() = default;
  ExtractedItems(const ExtractedItems&) = delete;
  ExtractedItems& operator=(const ExtractedItems&) = delete;
  ~ExtractedItems() { package_.RemoveAllItems(); }

  TOPFile& Package() { return package_; }

 private:
  TOPFile package_;
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

}  // namespace app
