#include "history/history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;

class HistoryTest : public ::testing::Test {
 protected:
  HistoryTest() {
    std::string pattern = (fs::temp_directory_path() / "vrq-history-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    ::chmod(dir_.c_str(), 0755);  // another user may look in
  }
  ~HistoryTest() override { fs::remove_all(dir_); }

  // The history of a user whose $XDG_STATE_HOME is dir_/state.
  history::Location Place() const {
    history::LocationInputs inputs;
    inputs.effectiveUid = 1000;
    inputs.xdgStateHome = dir_ + "/state";
    return history::ResolveLocation(inputs);
  }

  std::string dir_;
};

// Record number n, of printer serial/port.
history::HistoryRecord Record(int n, const std::string& serial = "S1",
                              const std::string& port = "1-1.4") {
  history::HistoryRecord record;
  record.timeUtc = "2024-05-01T09:30:00Z";
  record.programVersion = "1.0.0";
  record.serial = serial;
  record.portPath = port;
  record.packageFile = "update.fwp";
  record.packageSha256 = std::string(64, 'c');
  record.packageVersion = "V2.13";
  record.status = "success";
  record.message = "record " + std::to_string(n);
  record.totalSeconds = n;
  return record;
}

std::vector<std::string> Messages(const std::vector<history::HistoryRecord>& records) {
  std::vector<std::string> messages;
  for (const auto& record : records)
    messages.push_back(record.message.value_or("-"));
  return messages;
}

void AppendText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::app) << text;
}

unsigned Mode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Runs body in a child process; true when it returned true.
bool InChild(const std::function<bool()>& body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body() ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(HistoryLocation, RootKeepsItInVarLibAndUsersInTheirStateFolder) {
  history::LocationInputs inputs;
  inputs.effectiveUid = 0;
  inputs.xdgStateHome = "/home/ann/.state";  // sudo -E keeps a user's environment
  inputs.home = "/home/ann";
  history::Location root = history::ResolveLocation(inputs);
  EXPECT_EQ(root.file, "/var/lib/vrq-update/history.jsonl");
  EXPECT_EQ(root.rotated, "/var/lib/vrq-update/history.jsonl.1");
  EXPECT_EQ(root.folderMode, 0755u);
  EXPECT_EQ(root.fileMode, 0644u);

  inputs.effectiveUid = 1000;
  history::Location user = history::ResolveLocation(inputs);
  EXPECT_EQ(user.folder, "/home/ann/.state/vrq-update");
  EXPECT_EQ(user.file, "/home/ann/.state/vrq-update/history.jsonl");
  EXPECT_EQ(user.folderMode, 0700u);
  EXPECT_EQ(user.fileMode, 0600u);
  inputs.xdgStateHome = "/home/ann/.state/";
  EXPECT_EQ(history::ResolveLocation(inputs).file, "/home/ann/.state/vrq-update/history.jsonl");

  // A relative or empty $XDG_STATE_HOME counts as unset.
  for (const char* ignored : {"state", "", "./state"}) {
    inputs.xdgStateHome = ignored;
    EXPECT_EQ(history::ResolveLocation(inputs).file,
              "/home/ann/.local/state/vrq-update/history.jsonl")
        << ignored;
  }
  inputs.xdgStateHome.reset();
  EXPECT_EQ(history::ResolveLocation(inputs).file,
            "/home/ann/.local/state/vrq-update/history.jsonl");

  // Without $HOME (or with a relative one), the user database's home.
  inputs.userDatabaseHome = "/srv/ann";
  inputs.home.reset();
  EXPECT_EQ(history::ResolveLocation(inputs).file,
            "/srv/ann/.local/state/vrq-update/history.jsonl");
  inputs.home = "ann";
  EXPECT_EQ(history::ResolveLocation(inputs).file,
            "/srv/ann/.local/state/vrq-update/history.jsonl");

  inputs.userDatabaseHome.clear();
  history::Location nowhere = history::ResolveLocation(inputs);
  EXPECT_EQ(nowhere.file, "");
  EXPECT_NE(nowhere.problem, "");
  history::History log(nowhere);
  EXPECT_EQ(log.Append(Record(1)).problem, nowhere.problem);
  EXPECT_EQ(log.Read().warnings, std::vector<std::string>{nowhere.problem});
}

TEST(HistoryLocation, TheProcesssOwnUserAndEnvironment) {
  const char* saved = std::getenv("XDG_STATE_HOME");
  ::setenv("XDG_STATE_HOME", "/tmp/state-of-test", 1);
  const history::LocationInputs inputs = history::CurrentLocationInputs();
  EXPECT_EQ(inputs.effectiveUid, ::geteuid());
  EXPECT_EQ(inputs.xdgStateHome, "/tmp/state-of-test");
  if (saved != nullptr)
    ::setenv("XDG_STATE_HOME", saved, 1);
  else
    ::unsetenv("XDG_STATE_HOME");
}

TEST_F(HistoryTest, AppendMakesPrivateFoldersAndFileAndAMissingFileIsAnEmptyHistory) {
  history::History log(Place());
  const history::ReadOutcome empty = log.Read();
  EXPECT_TRUE(empty.records.empty());
  EXPECT_TRUE(empty.warnings.empty());
  EXPECT_FALSE(fs::exists(dir_ + "/state"));  // reading makes nothing

  history::HistoryRecord record = Record(1);
  record.timeUtc.clear();  // stamped with now
  const history::AppendOutcome written = log.Append(record);
  EXPECT_TRUE(written.written);
  EXPECT_EQ(written.problem, "");
  EXPECT_EQ(Mode(dir_ + "/state"), 0700u);
  EXPECT_EQ(Mode(dir_ + "/state/vrq-update"), 0700u);
  EXPECT_EQ(Mode(log.Where().file), 0600u);
  const auto read = log.Read();
  ASSERT_EQ(read.records.size(), 1u);
  EXPECT_EQ(history::CheckRecord(read.records[0]), "");

  record.status = "done";
  const history::AppendOutcome refused = log.Append(record);
  EXPECT_FALSE(refused.written);
  EXPECT_EQ(refused.problem,
            "the update history record is not written: the status \"done\" is not known");
  EXPECT_EQ(log.Read().records.size(), 1u);
}

TEST_F(HistoryTest, NewestFirstAcrossTheRotatedFile) {
  history::History log(Place(), 1500);  // about five records a file
  for (int n = 1; n <= 12; ++n)
    ASSERT_TRUE(log.Append(Record(n)).written);
  ASSERT_TRUE(fs::exists(log.Where().rotated));
  EXPECT_LE(fs::file_size(log.Where().file), 1500u);
  const auto read = log.Read();
  EXPECT_TRUE(read.warnings.empty());
  const auto messages = Messages(read.records);
  ASSERT_GE(messages.size(), 6u);
  EXPECT_LE(messages.size(), 12u);
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i], "record " + std::to_string(12 - i));  // newest first, none missing
  }
}

TEST_F(HistoryTest, TheRealLimitRotatesATenMebibyteFile) {
  history::History log(Place());
  ASSERT_TRUE(log.Append(Record(1)).written);
  const std::string line = history::RecordJson(Record(2)) + "\n";
  std::string filler;
  while (fs::file_size(log.Where().file) + filler.size() + line.size() <= history::kRotateBytes) {
    filler += line;
  }
  AppendText(log.Where().file, filler);
  const uintmax_t full = fs::file_size(log.Where().file);
  ASSERT_TRUE(log.Append(Record(3)).written);
  EXPECT_EQ(fs::file_size(log.Where().rotated), full);
  EXPECT_EQ(log.Read().records.front().message, "record 3");
  EXPECT_EQ(log.Read().records.back().message, "record 1");
  EXPECT_EQ(log.Read().records.size(), filler.size() / line.size() + 2);
}

TEST_F(HistoryTest, DamagedLinesAreSkippedWithAWarningEach) {
  history::History log(Place());
  fs::create_directories(log.Where().folder);
  auto line = [](int n) { return history::RecordJson(Record(n)) + "\n"; };
  std::string unknownStatus = line(4);
  unknownStatus.replace(unknownStatus.find("success"), 7, "great");
  AppendText(log.Where().rotated, line(1) + line(2) + "{\"schema\":1,\"record\":\"upd\n");
  AppendText(log.Where().file, line(3) + "garbage\n\n" + unknownStatus + line(5));

  const auto read = log.Read();
  EXPECT_EQ(Messages(read.records),
            (std::vector<std::string>{"record 5", "record 3", "record 2", "record 1"}));
  const std::string file = log.Where().file, rotated = log.Where().rotated;
  EXPECT_EQ(read.warnings,
            (std::vector<std::string>{
                "history line 2 is damaged; skipped (" + file + ": not JSON)",
                "history line 4 is damaged; skipped (" + file + ": status is not known)",
                "history line 3 is damaged; skipped (" + rotated + ": not JSON)"}));
  // The newest record of a serial is found past a damaged line, and the line is told.
  std::vector<std::string> warnings;
  EXPECT_EQ(log.LatestFor("S1", &warnings)->message, "record 5");
  EXPECT_TRUE(warnings.empty());
  AppendText(log.Where().file, "{}\n");
  EXPECT_EQ(log.LatestFor("S1", &warnings)->message, "record 5");
  EXPECT_EQ(warnings, std::vector<std::string>{"history line 6 is damaged; skipped (" + file +
                                               ": schema is missing)"});
}

TEST_F(HistoryTest, FilteredByPrinterAndTheNewestRecordOfASerial) {
  // Three records a file.
  const int64_t size = static_cast<int64_t>(history::RecordJson(Record(1)).size()) + 1;
  history::History log(Place(), 3 * size + size / 2);
  ASSERT_TRUE(log.Append(Record(1, "A", "1-1.4")).written);
  ASSERT_TRUE(log.Append(Record(2, "B", "1-1.5")).written);
  ASSERT_TRUE(log.Append(Record(3, "", "1-1.6")).written);
  ASSERT_TRUE(log.Append(Record(4, "A", "1-1.5")).written);  // A moved to B's old port
  ASSERT_TRUE(log.Append(Record(5, "C", "1-1.6")).written);

  EXPECT_EQ(Messages(log.Read({"A"}).records), (std::vector<std::string>{"record 4", "record 1"}));
  EXPECT_EQ(Messages(log.Read({"1-1.5"}).records),
            (std::vector<std::string>{"record 4", "record 2"}));
  EXPECT_EQ(Messages(log.Read({"B", "1-1.6"}).records),
            (std::vector<std::string>{"record 5", "record 3", "record 2"}));
  EXPECT_TRUE(log.Read({"nobody"}).records.empty());
  EXPECT_TRUE(log.Read({""}).records.empty());
  EXPECT_EQ(log.Read().records.size(), 5u);

  EXPECT_EQ(log.LatestFor("A")->message, "record 4");
  EXPECT_EQ(log.LatestFor("B")->message, "record 2");  // in the rotated file by now
  EXPECT_FALSE(log.LatestFor("1-1.4"));                // a serial, not a port
  EXPECT_FALSE(log.LatestFor(""));                     // a printer without one is never matched
  EXPECT_FALSE(log.LatestFor("D"));
}

TEST_F(HistoryTest, SerialsThatAreNotUtf8AreFoundByTheirOwnBytesOnly) {
  history::History log(Place());
  ASSERT_TRUE(log.Append(Record(1, "S\xff", "1-1.4")).written);
  ASSERT_TRUE(log.Append(Record(2, "S\xfe", "1-1.5")).written);
  EXPECT_EQ(log.LatestFor("S\xff")->message, "record 1");
  EXPECT_EQ(log.LatestFor("S\xfe")->message, "record 2");
  EXPECT_FALSE(log.LatestFor("S\xef\xbf\xbd"));  // U+FFFD names neither
  EXPECT_EQ(Messages(log.Read({"S\xfe"}).records), std::vector<std::string>{"record 2"});
}

TEST_F(HistoryTest, APrinterIsDoneOnlyWhenItsNewestRecordIsASuccessWithThatPackage) {
  history::History log(Place());
  const std::string sha = std::string(64, 'c'), other = std::string(64, 'd');
  EXPECT_FALSE(history::UpdatedWith(log.LatestFor("S1"), sha));
  ASSERT_TRUE(log.Append(Record(1)).written);
  EXPECT_TRUE(history::UpdatedWith(log.LatestFor("S1"), sha));
  EXPECT_FALSE(history::UpdatedWith(log.LatestFor("S1"), other));
  EXPECT_FALSE(history::UpdatedWith(log.LatestFor("S1"), ""));

  history::HistoryRecord failed = Record(2);
  failed.status = "failed_after_image";
  failed.exitStatus = 3;
  ASSERT_TRUE(log.Append(failed).written);
  EXPECT_FALSE(history::UpdatedWith(log.LatestFor("S1"), sha));

  history::HistoryRecord unknownPackage = Record(3);
  unknownPackage.packageSha256.reset();
  ASSERT_TRUE(log.Append(unknownPackage).written);
  EXPECT_FALSE(history::UpdatedWith(log.LatestFor("S1"), sha));
}

TEST_F(HistoryTest, ProcessesAppendingAtOnceLeaveOnlyWholeRecords) {
  constexpr int kWriters = 3, kRecords = 1000;
  const history::History log(Place());
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t child = ::fork();
    if (child == 0) {
      bool ok = true;
      for (int n = 0; n < kRecords && ok; ++n) {
        ok = log.Append(Record(n, "W" + std::to_string(w), "1-1." + std::to_string(w))).written;
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const auto read = log.Read();
  EXPECT_TRUE(read.warnings.empty()) << read.warnings.front();
  EXPECT_EQ(read.records.size(), static_cast<size_t>(kWriters * kRecords));
  for (int w = 0; w < kWriters; ++w) {
    const auto own = log.Read({"W" + std::to_string(w)}).records;
    ASSERT_EQ(own.size(), static_cast<size_t>(kRecords));
    EXPECT_EQ(own.front().message, "record " + std::to_string(kRecords - 1));
  }
}

TEST_F(HistoryTest, AFolderThatCannotBeWrittenFailsTheAppendWithTheReason) {
  fs::create_directories(dir_ + "/state/vrq-update");
  ::chmod((dir_ + "/state").c_str(), 0755);
  ::chmod((dir_ + "/state/vrq-update").c_str(), 0555);
  const history::History log(Place());
  // Root writes anywhere: what a user meets is seen as another user.
  const bool asAnotherUser = ::geteuid() == 0;
  EXPECT_TRUE(InChild([&] {
    if (asAnotherUser &&
        (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)) {
      return false;
    }
    const history::AppendOutcome outcome = log.Append(Record(1));
    return !outcome.written &&
           outcome.problem == "cannot write " + log.Where().file + ": Permission denied" &&
           log.Read().records.empty() && log.Read().warnings.empty();
  }));
  EXPECT_FALSE(fs::exists(log.Where().file));

  // A folder where a file should be.
  history::LocationInputs inputs;
  inputs.effectiveUid = 1000;
  inputs.xdgStateHome = dir_ + "/plain-file";
  std::ofstream(dir_ + "/plain-file") << "x";
  const history::AppendOutcome blocked =
      history::History(history::ResolveLocation(inputs)).Append(Record(1));
  EXPECT_FALSE(blocked.written);
  EXPECT_EQ(blocked.problem,
            "cannot make the folder " + dir_ + "/plain-file/vrq-update: Not a directory");
}

// Runs the shared JSON validator over files against the project's schema.
int Validate(const std::string& files) {
  const std::string command = std::string(VRQ_PYTHON3) + " " + VRQ_VALIDATE + " " + VRQ_SCHEMA +
                              " " + files + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(HistoryTest, EveryRecordWrittenMeetsTheJsonContract) {
  history::History log(Place());
  history::HistoryRecord record = Record(1);
  ASSERT_TRUE(log.Append(record).written);
  for (const char* status : {"failed", "failed_after_image", "stopped", "stopped_after_image",
                             "declined", "refused", "unchanged"}) {
    record.status = status;
    record.exitStatus = 130;
    record.writingSeconds = 12.345678;
    ASSERT_TRUE(log.Append(record).written);
  }
  record.packageSha256.reset();
  record.writingSeconds.reset();
  record.message.reset();
  record.serial = "\xff\x01odd";
  record.timeUtc.clear();
  ASSERT_TRUE(log.Append(record).written);
  EXPECT_EQ(Validate(log.Where().file), 0);

  // The check is not empty: a record of another shape fails it.
  AppendText(dir_ + "/bad.jsonl", history::RecordJson(Record(1)).replace(1, 10, "\"schema\":2"));
  EXPECT_EQ(Validate(dir_ + "/bad.jsonl"), 1);
}

}  // namespace
