// A private runtime folder for the library's owner objects, in place of the session's
// $XDG_RUNTIME_DIR, so that tests never meet each other or the user's own programs.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace hidtest {

class RuntimeFolder {
 public:
  // Made with mode 0700 and given to owner.
  explicit RuntimeFolder(uid_t owner = ::geteuid()) {
    char name[] = "/tmp/jxusbhid-runtime.XXXXXX";
    if (::mkdtemp(name) == nullptr || ::chown(name, owner, owner) != 0) return;
    path_ = name;
  }
  // Removed with everything in it.
  ~RuntimeFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  RuntimeFolder(const RuntimeFolder&) = delete;
  RuntimeFolder& operator=(const RuntimeFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Makes this the XDG_RUNTIME_DIR of the processes started from now on.
  void Export() const { ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1); }

 private:
  std::string path_;
};

}  // namespace hidtest
