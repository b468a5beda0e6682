// libJXUsbHid.so between users: what one user's processes leave behind never locks another
// user out, and owner objects that another user made first are refused without harm.
// Needs root, to run the clients as the unprivileged user "nobody".
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/descriptor.h"
#include "tests/hidlib/client_process.h"
#include "tests/hidlib/hid_emulator.h"
#include "tests/hidlib/runtime_folder.h"

namespace {

using hidtest::ClientProcess;
using hidtest::RuntimeFolder;

constexpr uid_t kRoot = 0;
constexpr uid_t kNobody = 65534;

// Libraries of earlier releases used these machine-wide names; their tests serialise on
// this lock file, which is taken while objects are planted there.
class MachineWideLock {
 public:
  MachineWideLock()
      : lock_(::open("/tmp/vrq-jxusbhid-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (lock_.IsOpen()) ::flock(lock_.Get(), LOCK_EX);
  }

 private:
  platform::Descriptor lock_;
};

// The client as user uid, with XDG_RUNTIME_DIR set to runtimeDir, or unset when empty;
// XDG_CACHE_HOME unset and HOME set to home when that is given.
std::vector<std::string> ClientAs(uid_t uid, const std::string& runtimeDir,
                                  const std::string& home = "") {
  std::vector<std::string> command;
  if (uid != kRoot) {
    const std::string id = std::to_string(uid);
    command = {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
  }
  command.insert(command.end(), {"env", "-u", "XDG_CACHE_HOME"});
  if (runtimeDir.empty()) {
    command.insert(command.end(), {"-u", "XDG_RUNTIME_DIR"});
  } else {
    command.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
  }
  if (!home.empty()) command.push_back("HOME=" + home);
  command.push_back(HIDLIB_CLIENT);
  return command;
}

// False where "nobody" cannot reach the client: a build under a private folder such as
// /root, or a chroot whose own root folder is private.
bool NobodyCanRunTheClient() {
  return std::system("setpriv --reuid=65534 --regid=65534 --clear-groups -- test -x '" HIDLIB_CLIENT
                     "' 2>/dev/null") == 0;
}

class JXUsbHidUsersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != kRoot) GTEST_SKIP() << "needs root to run clients as another user";
    if (!NobodyCanRunTheClient()) {
      GTEST_SKIP() << "user nobody cannot run " HIDLIB_CLIENT " (a folder on its way is private)";
    }
    ASSERT_TRUE(emulator_.ok()) << emulator_.error();
    ASSERT_TRUE(emulator_.OpenToAllUsers()) << emulator_.error();
    ASSERT_FALSE(nobodysFolder_.path().empty());
    ASSERT_FALSE(nobodysHome_.path().empty());
  }

  // Opens in a new client, writes through the device and closes again.
  void ExpectUsable(const std::vector<std::string>& command) {
    ClientProcess client(command);
    ASSERT_TRUE(client.started());
    const long handle = client.Number("open");
    EXPECT_EQ(handle, client.pid());
    emulator_.SetCredit(64);
    EXPECT_EQ(client.Number("write " + std::to_string(handle) + " 10 0"), 10);
    EXPECT_EQ(client.Number("close " + std::to_string(handle)), 1);
    EXPECT_EQ(client.Output(), "");
  }

  hidtest::HidEmulator emulator_;
  RuntimeFolder nobodysFolder_{kNobody};
  // Where nobody's cache folder is when it has no runtime folder.
  RuntimeFolder nobodysHome_{kNobody};
};

TEST_F(JXUsbHidUsersTest, WhatRootLeavesBehindLocksNoOtherUserOut) {
  for (const std::string& rootsFolder : {std::string(), nobodysFolder_.path()}) {
    // The second round is root with the environment of the user it was started from
    // (as "sudo -E" does): that user's runtime folder is not root's to use.
    SCOPED_TRACE("root's XDG_RUNTIME_DIR: '" + rootsFolder + "'");
    ExpectUsable(ClientAs(kRoot, rootsFolder));
    for (const std::string& nobodysFolder : {nobodysFolder_.path(), std::string()}) {
      SCOPED_TRACE("nobody's XDG_RUNTIME_DIR: '" + nobodysFolder + "'");
      ExpectUsable(ClientAs(kNobody, nobodysFolder, nobodysHome_.path()));
    }
  }
}

// Owner objects in the layout the library uses, made by root for another user to meet: a
// mutex of the priority-protect kind (locking it can abort inside the C library) or one that
// is locked and whose holder is gone, and an owner record that says nothing.
class PlantedObjects {
 public:
  enum class Mutex { kPriorityProtect, kHeldForEver };

  void Plant(const std::string& folder, const std::string& suffix, Mutex kind) {
    PlantFile(folder + "/JX_USBHID_MEMMAP" + suffix, [](void*) { return true; });
    PlantFile(folder + "/JX_USBHID_MUTEX" + suffix, [kind](void* view) {
      auto* words = static_cast<uint32_t*>(view);
      words[0] = 0x4855584A;  // the word that said "ready" in earlier releases
      auto* mutex = reinterpret_cast<pthread_mutex_t*>(words + 2);
      pthread_mutexattr_t attributes;
      pthread_mutexattr_init(&attributes);
      pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
      if (kind == Mutex::kPriorityProtect) {
        pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_PROTECT);
      }
      const bool made = pthread_mutex_init(mutex, &attributes) == 0;
      pthread_mutexattr_destroy(&attributes);
      // A ceiling of 0, out of the real-time range: locking trips an assertion in glibc.
      if (kind == Mutex::kPriorityProtect) mutex->__data.__lock = 0;
      // A plain mutex is never given back when its holder ends.
      return made && (kind != Mutex::kHeldForEver || pthread_mutex_lock(mutex) == 0);
    });
  }
  ~PlantedObjects() {
    for (const std::string& path : planted_)
      ::unlink(path.c_str());
  }
  bool ok() const { return ok_; }

 private:
  template <typename Fill>
  void PlantFile(const std::string& path, Fill fill) {
    ::unlink(path.c_str());
    const platform::Descriptor fd(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.IsOpen()) {
      ok_ = false;
      return;
    }
    planted_.push_back(path);
    ::fchmod(fd.Get(), 0666);  // open to the victim, whatever the umask
    void* view = ::ftruncate(fd.Get(), 4096) == 0
                     ? ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0)
                     : MAP_FAILED;
    if (view == MAP_FAILED || !fill(view)) ok_ = false;
    if (view != MAP_FAILED) ::munmap(view, 4096);
  }

  std::vector<std::string> planted_;
  bool ok_ = true;
};

TEST_F(JXUsbHidUsersTest, ObjectsAnotherUserMadeFirstAreRefusedWithoutHarm) {
  MachineWideLock lock;
  const std::string nobodysCache = nobodysHome_ / ".cache";
  ASSERT_EQ(::mkdir(nobodysCache.c_str(), 0700), 0);
  ASSERT_EQ(::chown(nobodysCache.c_str(), kNobody, kNobody), 0);
  for (const auto kind :
       {PlantedObjects::Mutex::kPriorityProtect, PlantedObjects::Mutex::kHeldForEver}) {
    SCOPED_TRACE(kind == PlantedObjects::Mutex::kPriorityProtect ? "priority-protect mutex"
                                                                 : "mutex held for ever");
    PlantedObjects planted;
    // Where another user can write: the shared-memory folder, under the machine-wide
    // names of earlier releases and under the per-user names they used next.
    planted.Plant("/dev/shm", "", kind);
    planted.Plant("/dev/shm", "." + std::to_string(kNobody), kind);
    ASSERT_TRUE(planted.ok());
    // Without a runtime folder, nobody's objects are in its own cache folder: nothing
    // planted elsewhere is in its way.
    ::rmdir((nobodysCache + "/jxusbhid").c_str());
    ExpectUsable(ClientAs(kNobody, "", nobodysHome_.path()));

    // Planted where only nobody (and root) can write: refused, and nobody goes on living.
    PlantedObjects inPlace;
    inPlace.Plant(nobodysFolder_.path(), "", kind);
    inPlace.Plant(nobodysCache + "/jxusbhid", "", kind);
    ASSERT_TRUE(inPlace.ok());
    for (const std::string& folder : {nobodysFolder_.path(), std::string()}) {
      SCOPED_TRACE("nobody's XDG_RUNTIME_DIR: '" + folder + "'");
      ClientProcess victim(ClientAs(kNobody, folder, nobodysHome_.path()));
      EXPECT_EQ(victim.Call("open"), "0");
      EXPECT_EQ(victim.Number("pid"), victim.pid());  // still alive
      EXPECT_EQ(victim.Output(), "");
    }
  }
}

TEST_F(JXUsbHidUsersTest, AnObjectFolderThatIsNotTheUsersOwnIsRefusedWithoutHarm) {
  // Another user's folder where nobody's would be made, and one that others can write.
  const std::string nobodysCache = nobodysHome_ / ".cache";
  ASSERT_EQ(::mkdir(nobodysCache.c_str(), 0700), 0);
  ASSERT_EQ(::chown(nobodysCache.c_str(), kNobody, kNobody), 0);
  const std::string folder = nobodysCache + "/jxusbhid";
  for (const bool othersCanWrite : {false, true}) {
    SCOPED_TRACE(othersCanWrite ? "writable by others" : "root's");
    ::rmdir(folder.c_str());
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    if (othersCanWrite) {
      ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
      ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    }
    ClientProcess victim(ClientAs(kNobody, "", nobodysHome_.path()));
    EXPECT_EQ(victim.Call("open"), "0");
    EXPECT_EQ(victim.Number("pid"), victim.pid());
    EXPECT_EQ(victim.Output(), "");
    EXPECT_TRUE(std::filesystem::is_empty(folder));
  }
}

}  // namespace
