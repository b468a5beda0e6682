// Where the owner objects live, and which objects found there are refused.
#include "hidlib/named_objects.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "tests/hidlib/runtime_folder.h"

namespace {

namespace fs = std::filesystem;
using hidlib::ObjectFolder;
using hidlib::OwnerMutex;
using hidlib::OwnerRecord;
using hidtest::RuntimeFolder;

constexpr uid_t kNobody = 65534;

bool RecordOpens(const ObjectFolder& folder) {
  return OwnerRecord::Open(folder).IsMapped();
}
bool MutexOpens(const ObjectFolder& folder) {
  return OwnerMutex::Open(folder).IsValid();
}

// Runs change on a shared mapping of the file at path.
void Modify(const std::string& path, const std::function<void(char*)>& change) {
  const platform::Descriptor fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(fd.IsOpen()) << path;
  void* view = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
  ASSERT_NE(view, MAP_FAILED);
  change(static_cast<char*>(view));
  ::munmap(view, 4096);
}

TEST(ObjectFolderTest, ARuntimeFolderOnlyItsOwnerCanWriteHoldsThePlainNames) {
  RuntimeFolder runtime;
  const ObjectFolder folder = ObjectFolder::ForCaller(runtime.path().c_str());
  ASSERT_TRUE(folder.IsOpen());
  EXPECT_EQ(folder.NameOf("JX_USBHID_MUTEX"), "JX_USBHID_MUTEX");

  ASSERT_TRUE(RecordOpens(folder));
  ASSERT_TRUE(MutexOpens(folder));
  for (const char* name : {"JX_USBHID_MEMMAP", "JX_USBHID_MUTEX"}) {
    struct stat st {};
    ASSERT_EQ(::lstat((runtime / name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    EXPECT_EQ(st.st_size, 4096) << name;
  }
  // The drafts they were made under are gone.
  EXPECT_EQ(std::distance(fs::directory_iterator(runtime.path()), fs::directory_iterator()), 2);
}

TEST(ObjectFolderTest, OtherwiseSharedMemoryNamesCarryTheUserId) {
  RuntimeFolder othersFolder(kNobody);
  RuntimeFolder openFolder;
  ::chmod(openFolder.path().c_str(), 0777);
  const std::string perUser = "JX_USBHID_MUTEX." + std::to_string(::geteuid());
  for (const char* runtimeDir :
       {static_cast<const char*>(nullptr), "", "relative/folder", "/nonexistent/folder",
        othersFolder.path().c_str(), openFolder.path().c_str()}) {
    SCOPED_TRACE(runtimeDir != nullptr ? runtimeDir : "(unset)");
    const ObjectFolder folder = ObjectFolder::ForCaller(runtimeDir);
    EXPECT_TRUE(folder.IsOpen());
    EXPECT_EQ(folder.NameOf("JX_USBHID_MUTEX"), perUser);
  }
}

class RefusedObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(runtime_.path().empty()); }
  ObjectFolder Folder() const { return ObjectFolder::ForCaller(runtime_.path().c_str()); }

  // Makes both objects in place, as the library does.
  void MakeBoth() {
    ASSERT_TRUE(RecordOpens(Folder()));
    ASSERT_TRUE(MutexOpens(Folder()));
  }

  // Refused, and left as it was found.
  void ExpectRefused(const char* name) {
    const std::string path = runtime_ / name;
    struct stat before {
    }, after{};
    ::lstat(path.c_str(), &before);
    const bool opened =
        std::string(name) == "JX_USBHID_MUTEX" ? MutexOpens(Folder()) : RecordOpens(Folder());
    EXPECT_FALSE(opened) << name;
    ASSERT_EQ(::lstat(path.c_str(), &after), 0) << name;
    EXPECT_EQ(after.st_size, before.st_size) << name;
    EXPECT_EQ(after.st_mode, before.st_mode) << name;
  }

  RuntimeFolder runtime_;
};

TEST_F(RefusedObjectTest, ObjectsThatAreNotTheCallersOwnPlainFilesOfTheRightSize) {
  const struct {
    const char* what;
    std::function<void(const std::string& path)> spoil;
  } cases[] = {
      {"short", [](const std::string& p) { ::truncate(p.c_str(), 16); }},
      {"empty", [](const std::string& p) { ::truncate(p.c_str(), 0); }},
      {"long", [](const std::string& p) { ::truncate(p.c_str(), 8192); }},
      {"readable by others", [](const std::string& p) { ::chmod(p.c_str(), 0644); }},
      {"another user's", [](const std::string& p) { ::chown(p.c_str(), kNobody, kNobody); }},
      {"a link to a sound object",
       [this](const std::string& p) {
         ::rename(p.c_str(), (runtime_ / "target").c_str());
         ::symlink((runtime_ / "target").c_str(), p.c_str());
       }},
      {"a folder",
       [](const std::string& p) {
         ::unlink(p.c_str());
         ::mkdir(p.c_str(), 0700);
       }},
      {"a pipe",
       [](const std::string& p) {
         ::unlink(p.c_str());
         ::mkfifo(p.c_str(), 0600);
       }},
  };
  for (const auto& c : cases) {
    for (const char* name : {"JX_USBHID_MEMMAP", "JX_USBHID_MUTEX"}) {
      SCOPED_TRACE(std::string(c.what) + " " + name);
      for (const auto& entry : fs::directory_iterator(runtime_.path()))
        fs::remove_all(entry.path());
      MakeBoth();
      c.spoil(runtime_ / name);
      ExpectRefused(name);
    }
  }
}

TEST_F(RefusedObjectTest, ObjectsWithAnotherLayout) {
  MakeBoth();
  // Whole files of the right size that this library did not fill in.
  for (const char* name : {"JX_USBHID_MEMMAP", "JX_USBHID_MUTEX"}) {
    Modify(runtime_ / name, [](char* view) { std::fill(view, view + 4096, '\0'); });
    ExpectRefused(name);
  }
  fs::remove(runtime_ / "JX_USBHID_MUTEX");
  ASSERT_TRUE(MutexOpens(Folder()));
  // A mutex of the priority-protect kind in its place; a ceiling of 0 makes glibc's lock
  // assert, so the library must never try one.
  Modify(runtime_ / "JX_USBHID_MUTEX", [](char* view) {
    auto* mutex = reinterpret_cast<pthread_mutex_t*>(view + 8);  // after the tag and size
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_PROTECT);
    pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    mutex->__data.__lock = 0;
  });
  ExpectRefused("JX_USBHID_MUTEX");
}

TEST(OwnerObjectsTest, EveryOpenerMeetsTheOneObjectItsMakerFilledIn) {
  RuntimeFolder runtime;
  const ObjectFolder folder = ObjectFolder::ForCaller(runtime.path().c_str());
  // A draft left by a dead process that had this process's id does not stop the making.
  const std::string draft = "JX_USBHID_MUTEX." + std::to_string(::getpid()) + ".new";
  ASSERT_TRUE(
      platform::Descriptor(::open((runtime / draft).c_str(), O_CREAT | O_WRONLY, 0600)).IsOpen());

  OwnerMutex made = OwnerMutex::Open(folder);
  OwnerMutex opened = OwnerMutex::Open(folder);
  ASSERT_TRUE(made.IsValid());
  ASSERT_TRUE(opened.IsValid());
  EXPECT_FALSE(fs::exists(runtime / draft));
  ASSERT_EQ(made.TryLock(), OwnerMutex::TryResult::kAcquired);
  std::thread([&] { EXPECT_EQ(opened.TryLock(), OwnerMutex::TryResult::kBusy); }).join();
  made.Unlock();

  OwnerRecord first = OwnerRecord::Open(folder);
  OwnerRecord second = OwnerRecord::Open(folder);
  ASSERT_TRUE(first.IsMapped() && second.IsMapped());
  EXPECT_TRUE(second.Names(0));
  first.Write(1234);
  EXPECT_TRUE(second.Names(1234));
}

}  // namespace
