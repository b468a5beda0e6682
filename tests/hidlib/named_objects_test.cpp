// Where the owner objects live, and which objects found there are refused.
#include "hidlib/named_objects.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/hidlib/runtime_folder.h"

namespace {

namespace fs = std::filesystem;
using hidlib::ObjectFolder;
using hidlib::ObjectPlaces;
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

ObjectPlaces InRuntimeFolder(const std::string& runtimeDir) {
  ObjectPlaces places;
  places.runtimeDir = runtimeDir.c_str();
  return places;
}

// Both objects were made in the folder at path, as the library makes them.
void ExpectObjectsIn(const std::string& path) {
  for (const char* name : {"JX_USBHID_MEMMAP", "JX_USBHID_MUTEX"}) {
    struct stat st {};
    ASSERT_EQ(::lstat((path + "/" + name).c_str(), &st), 0) << path << "/" << name;
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    EXPECT_EQ(st.st_uid, ::geteuid()) << name;
    EXPECT_EQ(st.st_size, 4096) << name;
  }
  // The drafts they were made under are gone.
  EXPECT_EQ(std::distance(fs::directory_iterator(path), fs::directory_iterator()), 2) << path;
}

// The folder at path is the caller's own, mode 0700.
void ExpectPrivateFolder(const std::string& path) {
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
  EXPECT_TRUE(S_ISDIR(st.st_mode)) << path;
  EXPECT_EQ(st.st_mode & 07777, 0700u) << path;
  EXPECT_EQ(st.st_uid, ::geteuid()) << path;
}

TEST(ObjectFolderTest, ARuntimeFolderOnlyItsOwnerCanWriteHoldsTheObjects) {
  RuntimeFolder runtime;
  const ObjectFolder folder = ObjectFolder::ForCaller(InRuntimeFolder(runtime.path()));
  ASSERT_TRUE(folder.IsOpen());
  ASSERT_TRUE(RecordOpens(folder));
  ASSERT_TRUE(MutexOpens(folder));
  ExpectObjectsIn(runtime.path());
}

// A folder that stands in for one of the caller's own folders (root's /run/jxusbhid, a
// home folder), below a private temporary folder that this test removes.
class OwnFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }
  // What the folder at path must not be: another user's, open to others' writes, a link
  // or no folder at all. Makes each such folder for owner in turn, then calls
  // expectRefused.
  static void SpoilFolder(const std::string& path, uid_t owner,
                          const std::function<void()>& expectRefused) {
    const uid_t other = owner == 0 ? kNobody : 0;
    const struct {
      const char* what;
      std::function<void()> spoil;
    } cases[] = {
        {"writable by others", [&] { ::chmod(path.c_str(), 0777); }},
        {"writable by its group", [&] { ::chmod(path.c_str(), 0770); }},
        {"another user's", [&] { ::chown(path.c_str(), other, other); }},
        {"a link to a private folder",
         [&] {
           ::rename(path.c_str(), (path + ".real").c_str());
           ::symlink((path + ".real").c_str(), path.c_str());
           ::lchown(path.c_str(), owner, owner);
         }},
        {"a file",
         [&] {
           ::rmdir(path.c_str());
           ::close(::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
           ::chown(path.c_str(), owner, owner);
         }},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      if (c.what == std::string("another user's") && ::geteuid() != 0) continue;
      fs::remove_all(path);
      fs::remove_all(path + ".real");
      ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
      ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
      c.spoil();
      expectRefused();
    }
  }

  RuntimeFolder scratch_;
};

TEST_F(OwnFolderTest, WithoutAPrivateRuntimeFolderRootUsesItsOwnFolderInRun) {
  if (::geteuid() != 0) GTEST_SKIP() << "root's folder is only for root";
  RuntimeFolder othersFolder(kNobody);
  RuntimeFolder openFolder;
  ::chmod(openFolder.path().c_str(), 0777);
  const std::string rootFolder = scratch_ / "jxusbhid";
  for (const char* runtimeDir :
       {static_cast<const char*>(nullptr), "", "relative/folder", "/nonexistent/folder",
        othersFolder.path().c_str(), openFolder.path().c_str()}) {
    SCOPED_TRACE(runtimeDir != nullptr ? runtimeDir : "(unset)");
    fs::remove_all(rootFolder);
    ObjectPlaces places;
    places.runtimeDir = runtimeDir;
    places.rootFolder = rootFolder.c_str();
    const mode_t umask = ::umask(0277);  // the folder is 0700 whatever the umask
    const ObjectFolder folder = ObjectFolder::ForCaller(places);
    ::umask(umask);
    ASSERT_TRUE(folder.IsOpen());
    ASSERT_TRUE(RecordOpens(folder));
    ASSERT_TRUE(MutexOpens(folder));
    ExpectPrivateFolder(rootFolder);
    ExpectObjectsIn(rootFolder);
    EXPECT_TRUE(fs::is_empty(othersFolder.path()));
    EXPECT_TRUE(fs::is_empty(openFolder.path()));
  }

  ObjectPlaces places;
  places.rootFolder = rootFolder.c_str();
  SpoilFolder(rootFolder, 0, [&] {
    const ObjectFolder folder = ObjectFolder::ForCaller(places);
    EXPECT_FALSE(folder.IsOpen());
    EXPECT_FALSE(RecordOpens(folder));
    EXPECT_FALSE(MutexOpens(folder));
  });
  // No folder can be made there.
  places.rootFolder = "/nonexistent/jxusbhid";
  EXPECT_FALSE(ObjectFolder::ForCaller(places).IsOpen());
}

// Runs check as user "nobody" when we are root, else as we are; the text of every check
// that failed, empty when all held.
std::string AsUser(const std::function<std::string()>& check) {
  if (::geteuid() != 0) return check();
  int answer[2];
  if (::pipe2(answer, O_CLOEXEC) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(answer[0]);
    std::string failures =
        ::setresgid(kNobody, kNobody, kNobody) == 0 && ::setresuid(kNobody, kNobody, kNobody) == 0
            ? check()
            : "cannot become nobody";
    (void)!::write(answer[1], failures.data(), failures.size());
    ::_exit(0);
  }
  ::close(answer[1]);
  std::string failures;
  char buffer[256];
  for (ssize_t n; (n = ::read(answer[0], buffer, sizeof buffer)) > 0;)
    failures.append(buffer, static_cast<size_t>(n));
  ::close(answer[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? failures : "the check died";
}

// What the objects' folder is for places, as the user who runs it sees it: "refused",
// "no objects" or "ok".
std::string ObjectsWith(const ObjectPlaces& places) {
  const ObjectFolder folder = ObjectFolder::ForCaller(places);
  if (!folder.IsOpen()) return "refused";
  return RecordOpens(folder) && MutexOpens(folder) ? "ok" : "no objects";
}

// The names in the folder at path, sorted; "(none)" when it cannot be read.
std::string NamesIn(const std::string& path) {
  std::error_code error;
  std::vector<std::string> names;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  if (error) return "(none)";
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names)
    text += name + " ";
  return text;
}

TEST_F(OwnFolderTest, WithoutAPrivateRuntimeFolderOtherUsersUseTheirCacheFolder) {
  const uid_t user = ::geteuid() == 0 ? kNobody : ::geteuid();
  const std::string home = scratch_ / "home";
  ASSERT_EQ(::mkdir(home.c_str(), 0700), 0);
  ASSERT_EQ(::chown(scratch_.path().c_str(), user, user), 0);
  ASSERT_EQ(::chown(home.c_str(), user, user), 0);
  const std::string cacheHome = home + "/cache";
  const std::string runtimeDir = home + "/runtime";
  ASSERT_EQ(::mkdir(runtimeDir.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(runtimeDir.c_str(), 0777), 0);  // nobody's place

  const std::string failures = AsUser([&] {
    std::string failed;
    const auto expect = [&](bool held, const std::string& what) {
      if (!held) failed += what + "; ";
    };
    ObjectPlaces places;
    places.home = home.c_str();
    // ~/.cache is made too, on a new account.
    places.runtimeDir = runtimeDir.c_str();
    expect(ObjectsWith(places) == "ok", "in ~/.cache");
    expect(NamesIn(home + "/.cache/jxusbhid") == "JX_USBHID_MEMMAP JX_USBHID_MUTEX ",
           "objects in ~/.cache/jxusbhid: " + NamesIn(home + "/.cache/jxusbhid"));
    expect(NamesIn(runtimeDir) == "", "objects in the open runtime folder");
    struct stat st {};
    expect(::stat((home + "/.cache/jxusbhid").c_str(), &st) == 0 && (st.st_mode & 07777) == 0700 &&
               st.st_uid == ::geteuid(),
           "~/.cache/jxusbhid is the user's, 0700");
    // $XDG_CACHE_HOME when it is an absolute path.
    places.cacheHome = cacheHome.c_str();
    places.runtimeDir = nullptr;
    expect(ObjectsWith(places) == "ok", "in $XDG_CACHE_HOME");
    expect(NamesIn(cacheHome + "/jxusbhid") == "JX_USBHID_MEMMAP JX_USBHID_MUTEX ",
           "objects in $XDG_CACHE_HOME/jxusbhid");
    places.cacheHome = "relative/cache";
    expect(ObjectsWith(places) == "ok" && !fs::exists("relative"),
           "a relative $XDG_CACHE_HOME is ignored");
    // Nowhere to make the folder.
    places.cacheHome = "/nonexistent/cache";
    expect(ObjectsWith(places) == "refused", "refused without a cache folder");
    return failed;
  });
  EXPECT_EQ(failures, "");

  // The folder in $XDG_CACHE_HOME with the wrong owner, mode or type is refused.
  SpoilFolder(cacheHome + "/jxusbhid", user, [&] {
    EXPECT_EQ(AsUser([&] {
                ObjectPlaces places;
                places.cacheHome = cacheHome.c_str();
                return ObjectsWith(places) == "refused" ? std::string() : "not refused";
              }),
              "");
  });
}

class RefusedObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(runtime_.path().empty()); }
  ObjectFolder Folder() const { return ObjectFolder::ForCaller(InRuntimeFolder(runtime_.path())); }

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
  const ObjectFolder folder = ObjectFolder::ForCaller(InRuntimeFolder(runtime.path()));
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
