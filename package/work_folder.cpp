// Where a package object extracts its items: a private folder, made for it unless the
// caller names one.
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "package/folder_tools.h"
#include "package/leftovers.h"
#include "package/opfile.h"
#include "package/text.h"
#include "platform/fs.h"

namespace fwp {

namespace {

constexpr int kNameAttempts = 1000;

// "<executable folder>.temp_<year><month><day><hour><minute><second><ms>/", no zero padding.
std::string FallbackFolderName() {
  const platform::LocalTime t = platform::Now();
  char digits[96];
  std::snprintf(digits, sizeof digits, "%d%d%d%d%d%d%d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return platform::FolderOf(platform::ExecutablePath()) + ".temp_" + digits + "/";
}

}  // namespace

TOPFile::~TOPFile() {
  if (ownsFolder_)
    platform::RemoveFolder(platform::WithoutTrailingSlash(workFolder_));  // only when empty
  ForgetPlaceholder();
}

void TOPFile::ForgetPlaceholder() {
  placeholder_ = platform::TempFile();
}

// A name for a new folder that does not exist yet. The placeholder file reserves the
// name against other processes, and its lock tells a later run's sweep that the folder
// is in use until the folder is held itself; its "." prefix hides the folder too.
std::string TOPFile::AutomaticFolderName() {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    platform::TempFile placeholder =
        platform::TempFile::Create(platform::TempFolder(), kPlaceholderPrefix);
    if (!placeholder.IsOpen()) break;
    std::string folder = placeholder.Path() + kWorkFolderSuffix + "/";
    if (!platform::PathExists(platform::WithoutTrailingSlash(folder))) {
      placeholder_ = std::move(placeholder);
      return folder;
    }
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string folder = FallbackFolderName();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the next name differs
    if (!platform::PathExists(platform::WithoutTrailingSlash(folder))) return folder;
  }
  return {};
}

void TOPFile::SetWorkFolder(const std::string& requested) {
  if (requested == workFolder_) return;
  std::string working = requested;
  if (working.empty() || working.back() != '/') working += '/';
  const std::string oldFolder = TrimBlanks(workFolder_);
  if (!requested.empty() &&
      platform::WithoutTrailingSlash(working) == platform::WithoutTrailingSlash(oldFolder)) {
    workFolder_ = working;  // the same folder, spelled with its final "/"
    return;
  }
  const bool ownedOld = ownsFolder_;
  platform::TempFile oldPlaceholder = std::exchange(placeholder_, {});

  std::string target = requested.empty() ? AutomaticFolderName() : working;
  const bool created = !target.empty() &&
                       !platform::PathExists(platform::WithoutTrailingSlash(target)) &&
                       platform::CreatePrivateFolder(platform::WithoutTrailingSlash(target));
  if (created) {
    if (!oldFolder.empty() && platform::IsFolder(oldFolder)) {
      CopyFolderFiles(oldFolder, target, false);
    }
  } else if (requested.empty()) {
    ForgetPlaceholder();  // no automatic folder could be made: there is no work folder
    target.clear();
  }
  // A folder this object made goes away once its files have moved on, or when it is
  // empty; a folder it was given is never removed.
  if (ownedOld && !oldFolder.empty()) {
    if (created) {
      DeleteFolderTree(oldFolder);
    } else {
      platform::RemoveFolder(platform::WithoutTrailingSlash(oldFolder));
    }
  }
  // A placeholder whose folder is still there stays with it; no longer held, both are a
  // later run's to sweep.
  if (platform::PathExists(platform::WithoutTrailingSlash(oldFolder))) oldPlaceholder.Release();
  workFolder_ = target;
  ownsFolder_ = created;
  workDir_ = workFolder_.empty() ? platform::Folder() : platform::Folder::Open(workFolder_);
  if (created) workDir_.Hold();
}

void TOPFile::ClearWorkFolder() {
  if (!workFolder_.empty() && platform::IsFolder(workFolder_)) DeleteFolderFiles(workFolder_);
}

}  // namespace fwp
