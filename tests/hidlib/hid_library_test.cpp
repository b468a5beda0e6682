// The program's loader of libJXUsbHid.so, with stand-in libraries that record their
// loading, unloading and every call.
#include "hidlib/HidLibrary.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using hidlib::HidLibrary;

class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/hidloader-test.XXXXXX";
    path_ = ::mkdtemp(name) != nullptr ? name : "";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class HidLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    ::setenv("FAKE_JXUSBHID_LOG", log_.c_str(), 1);
    ::unsetenv("FAKE_JXUSBHID_OPENED");
  }
  void TearDown() override { ::unsetenv("FAKE_JXUSBHID_LOG"); }

  // Puts a library beside the "executable", under the name the loader looks for.
  std::string Install(const char* library) {
    const std::string target = folder_ / HidLibrary::kFileName;
    fs::copy_file(library, target, fs::copy_options::overwrite_existing);
    return target;
  }

  static bool IsInMemory(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) ::dlclose(handle);
    return handle != nullptr;
  }

  static bool IsEmpty(const HidLibrary& library) {
    return !library.IsLoaded() && library.BoundFunctionCount() == 0 && library.DeviceHandle() == 0;
  }

  TempFolder folder_;
  TempFolder elsewhere_;
  std::string log_ = folder_ / "calls.log";
};

TEST_F(HidLibraryTest, NoLibraryBesideTheExecutableLeavesItEmpty) {
  HidLibrary library(folder_.path());
  EXPECT_TRUE(IsEmpty(library));
  EXPECT_EQ(library.CloseDevice(), 0);
  EXPECT_EQ(library.IsDeviceOpen(), 0);
  EXPECT_TRUE(library.Release());
  EXPECT_FALSE(library.Load(folder_ / "not-a-library.so"));
}

TEST_F(HidLibraryTest, ALibraryWithSixOfTheSevenNamesIsLoadedFoundIncompleteAndFreed) {
  const std::string path = Install(FAKE_SIX_LIBRARY);
  HidLibrary library(folder_.path() + "/");
  EXPECT_TRUE(IsEmpty(library));
  EXPECT_FALSE(IsInMemory(path));
  EXPECT_EQ(ReadFile(log_), "load 0\nunload 0\n");
}

TEST_F(HidLibraryTest, ACompleteLibraryIsHeldUntilTheEndWithoutAnyTransfer) {
  const std::string path = Install(FAKE_FULL_LIBRARY);
  {
    HidLibrary library(folder_.path());
    EXPECT_TRUE(library.IsLoaded());
    EXPECT_EQ(library.BoundFunctionCount(), 7);
    EXPECT_TRUE(IsInMemory(path));
    EXPECT_EQ(ReadFile(log_), "load 0\n");
  }
  EXPECT_EQ(ReadFile(log_), "load 0\nunload 0\n");
  EXPECT_FALSE(IsInMemory(path));
}

TEST_F(HidLibraryTest, ReleaseClosesAHeldDeviceExactlyOnce) {
  Install(FAKE_FULL_LIBRARY);
  for (const char* opened : {"1", "0"}) {
    SCOPED_TRACE(std::string("hidusbIsOpened answers ") + opened);
    ::setenv("FAKE_JXUSBHID_OPENED", opened, 1);
    std::remove(log_.c_str());
    HidLibrary library(folder_.path());
    library.AdoptDevice(4321);
    EXPECT_TRUE(library.Release());
    EXPECT_TRUE(IsEmpty(library));
    EXPECT_EQ(ReadFile(log_), "load 0\nhidusbIsOpened 4321\nhidusbClose 4321\nunload 0\n");
  }
}

TEST_F(HidLibraryTest, TheProgramLooksOnlyInItsOwnFolder) {
  const std::string probe = folder_ / "hidloader-probe";
  fs::copy_file(HIDLOADER_PROBE, probe);
  // A library in the working folder is not the program's.
  fs::copy_file(FAKE_FULL_LIBRARY, elsewhere_ / HidLibrary::kFileName);
  const auto run = [&] {
    const std::string command = "cd '" + elsewhere_.path() + "' && '" + probe + "'";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
      ::pclose(pipe);
    }
    return output;
  };
  EXPECT_EQ(run(), "empty\n");
  EXPECT_EQ(ReadFile(log_), "");
  Install(JXUSBHID_LIBRARY);
  EXPECT_EQ(run(), "loaded 2.0.0.0\n");
}

}  // namespace
