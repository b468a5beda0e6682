// TOPFile::Load on arbitrary files. Items must land below the work folder and nowhere
// else; RemoveAllItems must take every extracted file away again.
#include <cstdlib>

#include "fuzz/targets/fuzz_files.h"
#include "package/opfile.h"

namespace {

using fuzzing::fs::path;

struct LoadSandbox {
  fuzzing::Sandbox sandbox{"fuzz_load"};
  path input = sandbox.Root() / "input.fwp";
  // Deep enough that a name climbing out with ".." lands inside the sandbox, where the
  // check below sees it.
  path work = sandbox.Root() / "a/b/c/d/e/f/g/h/i/j/k/l/work";

  LoadSandbox() {
    fuzzing::fs::create_directories(work);
    // Automatic work folders of TOPFile go to the sandbox, too.
    setenv("TMPDIR", sandbox.Root().c_str(), 1);
  }

  // Everything in the sandbox must be the input, the folder chain or lie below work.
  void CheckNothingOutsideWork() const {
    const std::string workText = work.string() + "/";
    for (const auto& entry : fuzzing::fs::recursive_directory_iterator(sandbox.Root())) {
      const std::string p = entry.path().string();
      if (p == input.string() || p.rfind(workText, 0) == 0) continue;
      if (entry.is_directory() && workText.rfind(p + "/", 0) == 0) continue;
      std::fprintf(stderr, "file outside the work folder: %s\n", p.c_str());
      std::abort();
    }
  }

  void EmptyWork() const {
    for (const auto& entry : fuzzing::fs::directory_iterator(work)) {
      fuzzing::fs::remove_all(entry.path());
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LoadSandbox box;
  fuzzing::WriteFile(box.input, data, size);
  {
    fwp::TOPFile package;
    package.SetWorkFolder(box.work.string());
    fuzzing::Require(package.WorkFolder() == box.work.string() + "/", "work folder moved");
    package.Load(box.input.string());
    for (size_t i = 0; i < package.ItemNames().size(); ++i) {
      const fwp::TFileBase* item = package.ItemAt(i);
      fuzzing::Require(item != nullptr, "every listed name has a record");
      fuzzing::Require(item->FileName.find('/') == std::string::npos, "record names are bare");
    }
    box.CheckNothingOutsideWork();
    package.RemoveAllItems();
    fuzzing::Require(package.ItemNames().empty(), "RemoveAllItems forgets every item");
  }
  box.CheckNothingOutsideWork();
  box.EmptyWork();
  return 0;
}
