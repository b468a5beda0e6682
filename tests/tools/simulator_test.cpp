// vrq-printer-sim as a program: the scripted host (sim_client) runs the dialogue through
// the real discovery, port and watcher against it, with and without faults.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/dialogue_host.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using simtest::Pattern;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::string text = ReadText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

struct SimRun {
  int status = -1;
  std::string output;      // the scripted host's report
  std::string errors;      // standard error of both
  std::string transcript;  // transcript.txt of the flash folder
  std::string summary;     // summary.json of the flash folder
  fs::path flashDir;

  bool Says(const std::string& line) const {
    return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
  }
  bool HasViolation() const { return transcript.find("VIOLATION:") != std::string::npos; }
};

class SimulatorTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vrq-sim-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work_ = pattern;
  }
  void TearDown() override { fs::remove_all(work_); }

  // Runs vrq-printer-sim with simArgs around command (sim_client with clientArgs when
  // command is empty), with stdout and stderr in files.
  SimRun Run(std::vector<std::string> simArgs, std::vector<std::string> clientArgs,
             std::vector<std::string> command = {}) {
    if (command.empty()) command.push_back(SIM_CLIENT);
    command.insert(command.end(), clientArgs.begin(), clientArgs.end());
    return Finish(Start(simArgs, command));
  }

  // Starts vrq-printer-sim with simArgs around command, in the background; attr (if any)
  // sets the signal mask it starts with.
  pid_t Start(const std::vector<std::string>& simArgs, const std::vector<std::string>& command,
              const posix_spawnattr_t* attr = nullptr) {
    std::vector<std::string> args = {VRQ_PRINTER_SIM, "--restart-ms", "300", "--flash-dir",
                                     (work_ / "flash").string()};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    args.push_back("--");
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (auto& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (work_ / "out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (work_ / "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argv[0], &actions, attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
  }

  // Waits for the simulator started by Start and gathers what it left.
  SimRun Finish(pid_t pid) {
    SimRun run;
    run.flashDir = work_ / "flash";
    if (pid < 0) return run;
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = ReadText(work_ / "out.txt");
    run.errors = ReadText(work_ / "err.txt");
    run.transcript = ReadText(run.flashDir / "transcript.txt");
    run.summary = ReadText(run.flashDir / "summary.json");
    // A sanitizer report would hide behind an expected failure status.
    EXPECT_EQ(run.errors.find("Sanitizer"), std::string::npos) << run.errors;
    EXPECT_EQ(run.errors.find("runtime error"), std::string::npos) << run.errors;
    return run;
  }

  fs::path work_;
};

// Fast settings for the scripted host: 1,000-character pieces without pauses, which
// split the hex lines anywhere.
const std::vector<std::string> kQuick = {"--piece",         "1000", "--piece-delay-ms", "0",
                                         "--reply-wait-ms", "1500"};

std::vector<std::string> With(std::vector<std::string> args) {
  args.insert(args.end(), kQuick.begin(), kQuick.end());
  return args;
}

TEST_F(SimulatorTest, WholeDialogueIsStoredAsSentWithoutViolations) {
  SimRun run = Run({}, With({"--image-size", "5000", "--section", "bootloader:100", "--section",
                             "font:131100", "--section", "system:70"}));
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_TRUE(run.Says("connect: Connect Success!"));
  EXPECT_TRUE(run.Says("send-next: Please send next!"));
  EXPECT_TRUE(run.Says("done"));
  EXPECT_FALSE(run.HasViolation()) << run.transcript;

  EXPECT_EQ(ReadBytes(run.flashDir / "firmware.bin"), Pattern(5000, 11));
  EXPECT_EQ(ReadBytes(run.flashDir / "bootloader.bin"), Pattern(100, 20));
  EXPECT_EQ(ReadBytes(run.flashDir / "system.bin"), Pattern(70, 23));
  EXPECT_EQ(ReadBytes(run.flashDir / "font.bin"), Pattern(131100, 24));

  const std::string expected = "CONNECT VRQ\nSECOND LINE\nDF 0 536870912 5000 " +
                               std::to_string(simtest::Sum(Pattern(5000, 11))) +
                               "\nCKID\nBUZZER TP=1\nSETIT TP=0,ADD=0,LEN=100,CK=" +
                               std::to_string(simtest::Sum(Pattern(100, 20))) +
                               ",MD=1\nBUZZER TP=1\n";
  EXPECT_EQ(run.transcript.substr(0, expected.size()), expected);
  EXPECT_NE(run.transcript.find("SETIT TP=4,ADD=131072,LEN=28,"), std::string::npos);
  EXPECT_EQ(run.transcript.substr(run.transcript.size() - 17), "LINK\nBUZZER TP=2\n");

  // A printer writing its flash answers no sooner than 50 ms after the block's last byte.
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    size_t after = line.find(": OK after ");
    if (after != std::string::npos) {
      EXPECT_GE(std::stoi(line.substr(after + 11)), 45) << line;
    }
  }
}

TEST_F(SimulatorTest, BrokenHexTextIsAnsweredWithAnErrorAndRecorded) {
  SimRun run = Run({}, With({"--section", "system:40", "--lower-hex"}));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("block TP=3 ADD=0: ERROR"), std::string::npos) << run.output;
  EXPECT_TRUE(run.HasViolation());
  EXPECT_NE(run.errors.find("breaches"), std::string::npos);
  EXPECT_FALSE(fs::exists(run.flashDir / "system.bin"));
}

TEST_F(SimulatorTest, FaultsBeforeTheRestart) {
  SimRun run = Run({"--fault", "no-connect-reply"}, With({}));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.Says("fail: no reply to the connect line")) << run.output;

  run = Run({"--fault", "garbage"}, With({}));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.Says("fail: connect refused")) << run.output;
  EXPECT_FALSE(run.Says("connect: Connect Success!"));
}

TEST_F(SimulatorTest, PrinterThatNeverReturnsOrNeverAsksForMore) {
  SimRun run = Run({"--fault", "never-return"}, With({"--return-wait-ms", "1500"}));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.Says("fail: printer did not come back")) << run.output;

  run = Run({"--fault", "no-send-next"}, With({}));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.Says("printer back"));
  EXPECT_TRUE(run.Says("fail: no Please send next!")) << run.output;
}

TEST_F(SimulatorTest, NoMacAndNoLinkReply) {
  SimRun run = Run({"--fault", "no-mac"}, With({"--section", "font:10"}));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.Says("ckid: ERROR")) << run.output;
  EXPECT_EQ(run.transcript.substr(run.transcript.size() - 14), "CKID\nLED TP=6\n");
  EXPECT_FALSE(run.HasViolation()) << run.transcript;

  run = Run({"--fault", "no-link-reply"}, With({"--section", "font:10"}));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.Says("link: (none)")) << run.output;
  EXPECT_EQ(run.transcript.substr(run.transcript.size() - 17), "LINK\nBUZZER TP=3\n");
  EXPECT_FALSE(run.HasViolation()) << run.transcript;
}

TEST_F(SimulatorTest, BlockErrorAndSilentBlock) {
  SimRun run = Run({"--fault", "block-error:2"}, With({"--section", "font:131100"}));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("block TP=4 ADD=0: OK"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("block TP=4 ADD=131072: ERROR"), std::string::npos) << run.output;
  EXPECT_EQ(ReadBytes(run.flashDir / "font.bin"), Pattern(131072, 24));

  run = Run({"--fault", "block-silent:system:1"},
            With({"--section", "bootloader:10", "--section", "system:10"}));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("block TP=0 ADD=0: OK"), std::string::npos) << run.output;
  EXPECT_TRUE(run.Says("fail: block TP=3 ADD=0: no reply")) << run.output;
}

TEST_F(SimulatorTest, UnpluggedDuringABlockFailsTheWriteAndLeavesNoPrinter) {
  SimRun run = Run({"--fault", "unplug-block:2"},
                   With({"--section", "font:200000", "--piece", "500", "--piece-delay-ms", "1"}));
  EXPECT_EQ(run.status, 1);
  // Depending on how much the node had buffered, a write fails or the answer never comes;
  // either way the next write finds the printer gone.
  EXPECT_TRUE(run.Says("fail: block TP=4 ADD=131072: write returned -1") ||
              run.Says("fail: block TP=4 ADD=131072: no reply"))
      << run.output;
  EXPECT_TRUE(run.Says("probe write: -1")) << run.output;
  EXPECT_TRUE(run.Says("printers found: 0")) << run.output;
}

// The script's image and sections, and what a printer that took them all holds.
const std::vector<std::string> kSmallUpdate = {"--image-size", "2000", "--section", "font:300"};

void ExpectWholeUpdate(const fs::path& folder, const std::string& transcript) {
  EXPECT_EQ(ReadBytes(folder / "firmware.bin"), Pattern(2000, 11));
  EXPECT_EQ(ReadBytes(folder / "font.bin"), Pattern(300, 24));
  EXPECT_NE(transcript.find("LINK\nBUZZER TP=2\n"), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("VIOLATION"), std::string::npos) << transcript;
}

void ExpectWholeUpdateIn(const fs::path& folder) {
  ExpectWholeUpdate(folder, ReadText(folder / "transcript.txt"));
}

// A transcript written with --timestamps, its times taken off: every line must begin
// with seconds to the millisecond and a blank, in order, none later than latest.
std::string WithoutTimes(const std::string& stamped, double latest) {
  std::istringstream lines(stamped);
  std::string plain;
  double last = 0;
  for (std::string line; std::getline(lines, line);) {
    size_t blank = line.find(' ');
    size_t point = line.find('.');
    bool shaped = blank != std::string::npos && point != std::string::npos && point > 0 &&
                  blank == point + 4 && line.find_first_not_of("0123456789.") == blank;
    EXPECT_TRUE(shaped) << line;
    if (!shaped) return stamped;
    double time = std::stod(line.substr(0, blank));
    EXPECT_GE(time, last) << line;
    EXPECT_LE(time, latest) << line;
    last = time;
    plain += line.substr(blank + 1) + "\n";
  }
  return plain;
}

// summary.json's command_seconds, -1 when it has none.
double CommandSeconds(const std::string& summary) {
  const std::string key = "\"command_seconds\": ";
  size_t at = summary.find(key);
  return at == std::string::npos ? -1 : std::stod(summary.substr(at + key.size()));
}

TEST_F(SimulatorTest, SeveralPrintersEachKeepTheirOwnPortSerialFlashAndTranscript) {
  std::vector<std::string> args = With(kSmallUpdate);
  args.insert(args.end(), {"--port", "1-1.5"});
  SimRun run = Run({"--printers", "3", "--restart-ms", "1000"}, args);
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_TRUE(run.Says("opened /dev/usb/lp1")) << run.output;
  ExpectWholeUpdateIn(run.flashDir / "1-1.5");
  // Not one byte reached the others.
  for (const char* other : {"1-1.4", "1-1.6"}) {
    EXPECT_TRUE(fs::exists(run.flashDir / other / "transcript.txt")) << other;
    EXPECT_EQ(ReadText(run.flashDir / other / "transcript.txt"), "") << other;
    EXPECT_FALSE(fs::exists(run.flashDir / other / "firmware.bin")) << other;
  }
  EXPECT_FALSE(fs::exists(run.flashDir / "transcript.txt"));

  // Discovery sees every printer with its own port path, serial number and node.
  SimRun list = Run({"--printers", "2"}, {},
                    {"/bin/sh", "-c",
                     "for d in \"$UMOCKDEV_DIR\"/sys/bus/usb/devices/1-1.?; do "
                     "echo $(basename $d) $(cat $d/serial) $(ls $d/*/usbmisc); done"});
  EXPECT_EQ(list.output, "1-1.4 VRQSIM0001 lp0\n1-1.5 VRQSIM0002 lp1\n") << list.errors;
}

TEST_F(SimulatorTest, APrinterBackFirstTakesTheLowestFreeNodeAndThePinnedOneIsFoundOnItsPort) {
  std::vector<std::string> args = With(kSmallUpdate);
  args.insert(args.end(), {"--port", "1-1.4"});
  SimRun run = Run({"--printers", "2", "--restart-ms", "1000", "--fault",
                    "restart-with:1-1.4@1-1.5", "--verbose"},
                   args);
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_TRUE(run.Says("opened /dev/usb/lp0")) << run.output;
  EXPECT_TRUE(run.Says("opened /dev/usb/lp1")) << run.output;  // after the restart
  EXPECT_NE(run.errors.find("1-1.5: printer back on lp0"), std::string::npos) << run.errors;
  EXPECT_NE(run.errors.find("1-1.4: printer back on lp1"), std::string::npos) << run.errors;
  ExpectWholeUpdateIn(run.flashDir / "1-1.4");
  EXPECT_EQ(ReadText(run.flashDir / "1-1.5" / "transcript.txt"), "");
}

TEST_F(SimulatorTest, SixteenHostsUpdateSixteenPrintersAtOnceAndEachComesBackOnAFreeNode) {
  // All sixteen restart within a few milliseconds of each other: 96 device events, and
  // every printer takes the lowest node free when it comes back.
  std::string client = std::string(SIM_CLIENT) + " --image-size 2000 --section font:300";
  for (const std::string& arg : kQuick)
    client += " " + arg;
  SimRun run = Run({"--printers", "16", "--restart-ms", "1000", "--timestamps", "--verbose"}, {},
                   {"/bin/sh", "-c",
                    "pids=; for i in $(seq 4 19); do " + client +
                        " --port 1-1.$i >/dev/null & pids=\"$pids $!\"; done; "
                        "for pid in $pids; do wait $pid || exit 1; done; "
                        "for i in $(seq 4 19); do d=\"$UMOCKDEV_DIR\"/sys/bus/usb/devices/1-1.$i; "
                        "echo $(basename $d) $(cat $d/serial) $(ls $d/*/usbmisc); done"});
  ASSERT_EQ(run.status, 0) << run.errors;
  double ran = CommandSeconds(run.summary);
  EXPECT_GT(ran, 1.0) << run.summary;  // at least the time away after the image

  std::istringstream listing(run.output);
  std::set<std::string> nodes;
  for (int i = 0; i < 16; ++i) {
    std::string port = "1-1." + std::to_string(4 + i);
    SCOPED_TRACE(port);
    fs::path folder = run.flashDir / port;
    std::string transcript = WithoutTimes(ReadText(folder / "transcript.txt"), ran);
    ExpectWholeUpdate(folder, transcript);
    EXPECT_EQ(transcript.rfind("CONNECT VRQ\n", 0), 0u) << transcript;
    EXPECT_EQ(transcript.find("CONNECT VRQ", 1), std::string::npos) << transcript;
    EXPECT_NE(run.errors.find(port + ": printer back on lp"), std::string::npos) << run.errors;

    // Discovery finds it on its port with its own serial number, on a node of its own.
    std::string found, serial, node;
    listing >> found >> serial >> node;
    char expected[16];
    std::snprintf(expected, sizeof expected, "VRQSIM%04d", i + 1);
    EXPECT_EQ(found, port);
    EXPECT_EQ(serial, expected);
    nodes.insert(node);
  }
  std::set<std::string> all;
  for (int lp = 0; lp < 16; ++lp)
    all.insert("lp" + std::to_string(lp));
  EXPECT_EQ(nodes, all) << run.output;
  // Every printer took its data through the usblp model, from a slot of its own.
  size_t modelled = 0;
  for (size_t at = run.summary.find("\"modelled\": true"); at != std::string::npos;
       at = run.summary.find("\"modelled\": true", at + 1))
    ++modelled;
  EXPECT_EQ(modelled, 16u) << run.summary;
}

TEST_F(SimulatorTest, APrinterRestartsAtAGivenTimeWhateverItsDialogue) {
  SimRun run = Run({"--printers", "2", "--fault", "restart-at:100@1-1.5", "--verbose"}, {},
                   {"/bin/sh", "-c", "sleep 1"});
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_NE(run.errors.find("1-1.5: printer switched off and on"), std::string::npos) << run.errors;
  EXPECT_NE(run.errors.find("1-1.5: printer back on lp1"), std::string::npos) << run.errors;
  EXPECT_EQ(run.errors.find("1-1.4: printer"), std::string::npos) << run.errors;
}

TEST_F(SimulatorTest, APrinterBoundToAnotherDriverIsOnUsbWithoutANode) {
  SimRun run = Run({"--fault", "bound-to:usbfs"}, With({}),
                   {"/bin/sh", "-c",
                    "d=\"$UMOCKDEV_DIR\"/sys/bus/usb/devices/1-1.4:1.0; "
                    "basename $(readlink $d/driver); ls $d; exec \"$0\" \"$@\"",
                    SIM_CLIENT});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output.rfind("usbfs\n", 0), 0u) << run.output;
  EXPECT_EQ(run.output.find("usbmisc"), std::string::npos) << run.output;
  EXPECT_TRUE(run.Says("fail: no printer")) << run.output;
}

TEST_F(SimulatorTest, RunsTheCommandAsAnotherUserWhoMayOpenTheNodeOnlyWhenItsModeSaysSo) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can run a command as another user";
  if (std::system("setpriv --reuid=65534 --regid=65534 --clear-groups -- test -x '" SIM_CLIENT
                  "' 2>/dev/null") != 0) {
    GTEST_SKIP() << "user nobody cannot reach " SIM_CLIENT " here (a folder on its way is private)";
  }
  SimRun run = Run({"--user", "nobody"}, With(kSmallUpdate));
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  ExpectWholeUpdateIn(run.flashDir);

  run = Run({"--user", "nobody", "--node-mode", "600"}, With({}));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.Says("cannot open /dev/usb/lp0: Permission denied")) << run.output;
}

TEST_F(SimulatorTest, RefusesPrinterCountsAndFaultsThatNameNoPrinter) {
  for (std::vector<std::string> bad : {std::vector<std::string>{"--printers", "0"},
                                       {"--printers", "17"},
                                       {"--printers", "2", "--fault", "never-return@1-1.6"},
                                       {"--fault", "restart-with:1-1.5"},
                                       {"--node-mode", "9"},
                                       {"--user", "no-such-user-here"}}) {
    SimRun run = Run(bad, {}, {"/bin/true"});
    EXPECT_EQ(run.status, 125) << bad[0] << " " << bad[1];
    EXPECT_FALSE(run.errors.empty());
  }
}

TEST_F(SimulatorTest, ExitsWithTheCommandsStatus) {
  EXPECT_EQ(Run({}, {}, {"/bin/sh", "-c", "exit 7"}).status, 7);
  EXPECT_EQ(Run({}, {}, {"/no/such/program"}).status, 127);
  SimRun bad = Run({"--fault", "flash-on-fire"}, {});
  EXPECT_EQ(bad.status, 125);
  EXPECT_NE(bad.errors.find("unknown fault"), std::string::npos);
  // The command finds the transcript through the environment.
  SimRun env = Run({}, {}, {"/bin/sh", "-c", "test -f \"$VRQ_PRINTER_SIM_TRANSCRIPT\""});
  EXPECT_EQ(env.status, 0);
}

// ---------------------------------------------------------------------------------------
// The printer node as usblp: a host of plain system calls (usblp_probe) under the model.

// The first lines of the dialogue, each write waited for.
std::vector<std::string> ProbeUpTo(std::vector<std::string> more, const char* open = "open") {
  std::vector<std::string> steps = {USBLP_PROBE, open,          "line:CONNECT VRQ", "reply",
                                    "wait-out",  "line:SECOND", "wait-out"};
  steps.insert(steps.end(), more.begin(), more.end());
  return steps;
}

// The milliseconds a probe line reports ("... in 12 ms", "... after 12 ms"), for the first
// line that begins with prefix; -1 when there is none.
long MsOf(const std::string& output, const std::string& prefix) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) != 0) continue;
    size_t end = line.rfind(" ms");
    size_t start = line.rfind(' ', end - 1);
    if (end == std::string::npos || start == std::string::npos) return -1;
    return std::stol(line.substr(start + 1, end - start - 1));
  }
  return -1;
}

std::string DfText(size_t size) {
  std::string line = simtest::DfLine(Pattern(size, 11));
  return line.substr(0, line.size() - 2);
}

TEST_F(SimulatorTest, UsblpANonBlockingWriteReturnsAtOnceAndTheNextFindsTheChunkInFlight) {
  // At 200,000 bytes/s a chunk of 8 KiB is on the bus for 41 ms.
  SimRun run = Run({"--rate", "200000"}, {},
                   ProbeUpTo({"df:60000", "wait-out", "data:8192", "data:100", "pollout:10",
                              "wait-out", "data:100", "wait-out", "close"}));
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_TRUE(run.Says("reply: Connect Success!")) << run.output;
  EXPECT_LE(MsOf(run.output, "write 8192: 8192 in"), 5) << run.output;
  EXPECT_GE(MsOf(run.output, "write 100: EAGAIN in"), 0) << run.output;
  EXPECT_GE(MsOf(run.output, "pollout: timeout after"), 10) << run.output;
  size_t timeout = run.output.find("pollout: timeout");
  EXPECT_GE(MsOf(run.output.substr(timeout + 1), "pollout: OUT after"), 20) << run.output;
  EXPECT_TRUE(run.Says("write 100: 100 in 0 ms") || run.Says("write 100: 100 in 1 ms"))
      << run.output;
  EXPECT_EQ(run.transcript.find("lost at close"), std::string::npos) << run.transcript;
  size_t lines = 13 + 8 + DfText(60000).size() + 2;
  EXPECT_NE(run.summary.find("\"bytes_taken\": " + std::to_string(lines + 8192 + 100) + ","),
            std::string::npos)
      << run.summary;
}

TEST_F(SimulatorTest, UsblpACloseThatDoesNotWaitLosesTheChunkAndOneThatWaitsLosesNothing) {
  // The printer answers NAK for 50 ms at the image's last chunk.
  std::vector<std::string> nak = {"--fault", "nak:50@last"};
  SimRun lost = Run(nak, {}, ProbeUpTo({"df:3000", "wait-out", "data:3000", "close", "sleep:400"}));
  ASSERT_EQ(lost.status, 0) << lost.output << lost.errors;
  EXPECT_TRUE(lost.Says("write 3000: 3000 in 0 ms")) << lost.output;
  EXPECT_NE(lost.transcript.find("\n" + DfText(3000) + "\nlost at close: 3000 bytes after " +
                                 DfText(3000) + "\n"),
            std::string::npos)
      << lost.transcript;
  EXPECT_NE(lost.summary.find("\"bytes_lost_at_close\": 3000,"), std::string::npos) << lost.summary;
  EXPECT_NE(lost.summary.find("{\"bytes\": 3000, \"after\": \"" + DfText(3000) + "\""),
            std::string::npos)
      << lost.summary;
  EXPECT_NE(lost.summary.find("\"firmware_started\": false"), std::string::npos);
  EXPECT_FALSE(fs::exists(lost.flashDir / "firmware.bin"));

  SimRun kept = Run(
      nak, {}, ProbeUpTo({"df:3000", "wait-out", "data:3000", "wait-out", "close", "sleep:400"}));
  ASSERT_EQ(kept.status, 0) << kept.output << kept.errors;
  EXPECT_GE(MsOf(kept.output.substr(kept.output.find("write 3000")), "pollout: OUT after"), 50)
      << kept.output;
  EXPECT_EQ(kept.transcript.find("lost at close"), std::string::npos) << kept.transcript;
  EXPECT_NE(kept.summary.find("\"bytes_lost_at_close\": 0,"), std::string::npos) << kept.summary;
  EXPECT_NE(kept.summary.find("\"firmware_started\": true"), std::string::npos) << kept.summary;
  EXPECT_EQ(ReadBytes(kept.flashDir / "firmware.bin"), Pattern(3000, 11));
}

TEST_F(SimulatorTest, UsblpABlockingWriteReturnsOnceThePrinterHasTakenItAtItsPace) {
  // 64 KiB at 200,000 bytes/s: 328 ms; at full speed (1,216,000 bytes/s): 54 ms.
  std::vector<std::string> steps = ProbeUpTo({"df:65536", "data:65536", "close"}, "open-blocking");
  SimRun slow = Run({"--rate", "200000"}, {}, steps);
  ASSERT_EQ(slow.status, 0) << slow.output << slow.errors;
  EXPECT_GE(MsOf(slow.output, "write 65536: 65536 in"), 300) << slow.output;
  EXPECT_EQ(slow.transcript.find("lost at close"), std::string::npos) << slow.transcript;

  SimRun fast = Run({}, {}, steps);
  ASSERT_EQ(fast.status, 0) << fast.output << fast.errors;
  long ms = MsOf(fast.output, "write 65536: 65536 in");
  EXPECT_GE(ms, 50) << fast.output;
  EXPECT_LT(ms, 200) << fast.output;
}

TEST_F(SimulatorTest, UsblpASecondOpenIsBusyUntilTheHolderClosesOrEnds) {
  const std::string probe = USBLP_PROBE;
  SimRun run = Run(
      {}, {},
      {"/bin/sh", "-c",
       "p=\"$0\"; \"$p\" open dup close-one open2 fork-close open2 sleep:600 close & sleep 0.3; "
       "\"$p\" open; "
       "wait; \"$p\" open close; \"$p\" open; \"$p\" open close",
       probe});
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  // Neither the close of one of two descriptors nor a forked child's close ends the open;
  // a holder that ended without a close holds nothing.
  EXPECT_EQ(run.output,
            "open: ok\nclosed one\nopen2: EBUSY\nchild closed\nopen2: EBUSY\nopen: EBUSY\nclosed\n"
            "open: ok\nclosed\nopen: ok\nopen: ok\nclosed\n");
}

TEST_F(SimulatorTest, UsblpANodeThatGoesAwayEndsAWaitAtOnce) {
  // The first chunk is held for 5 s, but the printer is switched off after 400 ms.
  SimRun run = Run({"--fault", "nak:5000@1", "--fault", "restart-at:400"}, {},
                   {USBLP_PROBE, "open-blocking", "line:CONNECT", "pollout:3000", "close"});
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  long ms = MsOf(run.output, "write 9: EIO in");
  EXPECT_GE(ms, 300) << run.output;
  EXPECT_LT(ms, 2000) << run.output;
  EXPECT_LT(MsOf(run.output, "pollout:"), 100) << run.output;
  EXPECT_NE(run.output.find("HUP after"), std::string::npos) << run.output;
}

TEST_F(SimulatorTest, UsblpAProgramWithoutThePreloadHasEveryByteDelivered) {
  std::vector<std::string> steps = ProbeUpTo({"df:3000", "data:3000", "close", "sleep:400"});
  steps.insert(steps.begin(),
               {"/bin/sh", "-c", "LD_PRELOAD=libumockdev-preload.so.0 exec \"$0\" \"$@\""});
  SimRun run = Run({"--fault", "nak:50@last", "--verbose"}, {}, steps);
  ASSERT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_EQ(run.transcript.find("lost at close"), std::string::npos) << run.transcript;
  EXPECT_EQ(ReadBytes(run.flashDir / "firmware.bin"), Pattern(3000, 11));
  size_t said = run.errors.find("without the usblp model");
  ASSERT_NE(said, std::string::npos) << run.errors;
  EXPECT_EQ(run.errors.find("without the usblp model", said + 1), std::string::npos);
  EXPECT_NE(run.summary.find("\"modelled\": false"), std::string::npos) << run.summary;
}

// ---------------------------------------------------------------------------------------
// Signals: COMMAND starts as a shell would start it, and what is sent to the simulator
// reaches it as it was sent.

TEST_F(SimulatorTest, CommandStartsWithEverySignalAtItsDefaultAndNoneBlocked) {
  // As a background job of a script would be started: SIGINT and SIGQUIT ignored, and
  // here SIGPIPE too, with SIGUSR1 and SIGTERM blocked.
  struct sigaction ignore {
  }, old[3];
  ignore.sa_handler = SIG_IGN;
  const int ignored[] = {SIGINT, SIGQUIT, SIGPIPE};
  for (int i = 0; i < 3; ++i)
    sigaction(ignored[i], &ignore, &old[i]);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  sigaddset(&blocked, SIGTERM);
  posix_spawnattr_setsigmask(&attr, &blocked);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = Start({}, {"grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"}, &attr);
  posix_spawnattr_destroy(&attr);
  for (int i = 0; i < 3; ++i)
    sigaction(ignored[i], &old[i], nullptr);
  SimRun run = Finish(pid);
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.output, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST_F(SimulatorTest, SignalsSentToTheSimulatorReachTheCommandAsSentAndNothingIsEscalated) {
  pid_t pid =
      Start({}, {"/bin/sh", "-c",
                 "for s in INT USR1 TERM; do trap \"echo got $s\" $s; done; echo ready; i=0; "
                 "while [ $i -lt 30 ]; do sleep 0.05; i=$((i+1)); done; echo done"});
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 300 && ReadText(work_ / "out.txt").find("ready") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (int signal : {SIGINT, SIGUSR1, SIGTERM, SIGTERM}) {
    kill(pid, signal);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  SimRun run = Finish(pid);
  // Every one once, as sent; a command that outlives two SIGTERMs ends as it chooses.
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.output, "ready\ngot INT\ngot USR1\ngot TERM\ngot TERM\ndone\n");
}

}  // namespace
