// A scripted host for the simulator's tests: plays the update application's side of the
// dialogue through the real discovery, port and watcher, and reports every answer on
// standard output, one line each. Exits 0 when the whole dialogue went through.
//
//   sim_client [--image-size N] [--section TYPE:SIZE]... [--piece N] [--piece-delay-ms N]
//              [--lower-hex] [--reply-wait-ms N] [--return-wait-ms N] [--port PORT]
//
// With --port it talks only to the printer on that USB port path, as an updater pinned
// to it does, and reports each node it opens.
//
// The image and the sections are Pattern() data (tests/tools/dialogue_host.h), so that
// the test can compare what the printer stored.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/poll_loop.h"
#include "tests/tools/dialogue_host.h"
#include "usb/_printer_comm.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace simtest;

struct Section {
  std::string type;
  int tp = 0;
  size_t size = 0;
};

struct Script {
  size_t imageSize = 3000;
  std::vector<Section> sections;
  size_t piece = 1024;
  int pieceDelayMs = 10;
  bool lowerHex = false;
  int replyWaitMs = 3000;
  int returnWaitMs = 5000;
  std::string port;  // the printer's USB port path; empty: the first printer found
};

int SectionTp(const std::string& type) {
  if (type == "bootloader") return 0;
  if (type == "system") return 3;
  if (type == "font") return 4;
  return -1;
}

bool ParseScript(int argc, char** argv, Script& script) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--lower-hex") {
      script.lowerHex = true;
      continue;
    }
    if (value == nullptr) return false;
    ++i;
    if (arg == "--image-size") {
      script.imageSize = std::strtoul(value, nullptr, 10);
    } else if (arg == "--piece") {
      script.piece = std::strtoul(value, nullptr, 10);
    } else if (arg == "--piece-delay-ms") {
      script.pieceDelayMs = std::atoi(value);
    } else if (arg == "--reply-wait-ms") {
      script.replyWaitMs = std::atoi(value);
    } else if (arg == "--return-wait-ms") {
      script.returnWaitMs = std::atoi(value);
    } else if (arg == "--port") {
      script.port = value;
    } else if (arg == "--section") {
      std::string text = value;
      size_t colon = text.find(':');
      if (colon == std::string::npos) return false;
      Section section{text.substr(0, colon), SectionTp(text.substr(0, colon)),
                      std::strtoul(text.c_str() + colon + 1, nullptr, 10)};
      if (section.tp < 0) return false;
      script.sections.push_back(section);
    } else {
      return false;
    }
  }
  return script.piece > 0;
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

int Fail(const std::string& why) {
  Say("fail: " + why);
  return 1;
}

class Host {
 public:
  explicit Host(const Script& script) : script_(script), port_(loop_, platform::SystemClock()) {
    port_.EnumForm().OnDeviceChange = [](void* context, int arrived) {
      static_cast<Host*>(context)->events_ += arrived ? 'A' : 'R';
    };
    port_.EnumForm().DeviceChangeContext = this;
  }

  bool Connect() {
    usb::_struct_printer_comm_ table;
    if (script_.port.empty()) {
      usb::EnumUsbPrinters(table);
    } else {
      usb::EnumUsbPrintersOnPort(table, script_.port);
    }
    if (table.count == 0) return false;
    if (!port_.Open(table.open_path[0])) {
      Say("cannot open " + table.open_path[0] + ": " + std::strerror(port_.LastOpenError()));
      return false;
    }
    if (!script_.port.empty()) Say("opened " + table.open_path[0]);
    return true;
  }

  // Connect, tried again until the return wait is over: a pinned printer may come back
  // after another one.
  bool Reconnect() {
    auto end = Clock::now() + std::chrono::milliseconds(script_.returnWaitMs);
    while (!Connect()) {
      if (Clock::now() >= end) return false;
      loop_.RunOnce(50);
    }
    return true;
  }

  int PrintersFound() {
    usb::_struct_printer_comm_ table;
    usb::EnumUsbPrinters(table);
    return table.count;
  }

  bool Send(const std::string& text) {
    return port_.Write(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
  }

  bool Send(const std::vector<uint8_t>& bytes) {
    return port_.Write(bytes.data(), static_cast<int>(bytes.size())) ==
           static_cast<int>(bytes.size());
  }

  // The next reply line without its CR LF, or nothing within the wait.
  std::optional<std::string> Reply() {
    auto end = Clock::now() + std::chrono::milliseconds(script_.replyWaitMs);
    while (Clock::now() < end) {
      size_t crlf = pending_.find("\r\n");
      if (crlf != std::string::npos) {
        std::string line = pending_.substr(0, crlf);
        pending_.erase(0, crlf + 2);
        return line;
      }
      char buffer[256];
      int n = port_.Read(buffer, sizeof buffer);
      if (n < 0) return std::nullopt;
      pending_.append(buffer, n);
      if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
  }

  // Waits for the printer to go away and come back, as the watcher reports it. Pinned to
  // a port, it waits only for its printer to leave that port (Reconnect waits for it
  // to come back): umockdev names a process's event socket by its descriptor number, so
  // of several hosts with the same number only one gets the events. The printer must
  // then stay away for longer than the port's Close takes (400 ms).
  bool AwaitRestart() {
    if (!script_.port.empty()) return AwaitLeaving();

    auto end = Clock::now() + std::chrono::milliseconds(script_.returnWaitMs);
    while (events_.find("RA") == std::string::npos && Clock::now() < end)
      loop_.RunOnce(10);
    return events_.find("RA") != std::string::npos;
  }

  bool AwaitLeaving() {
    auto end = Clock::now() + std::chrono::milliseconds(script_.returnWaitMs);
    usb::_struct_printer_comm_ table;
    do {
      usb::EnumUsbPrintersOnPort(table, script_.port);
      if (table.count == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < end);
    return false;
  }

  usb::TUsbPrinter& Port() { return port_; }

 private:
  const Script& script_;
  platform::PollLoop loop_;
  usb::TUsbPrinter port_;
  std::string pending_;
  std::string events_;
};

int SendBlock(Host& host, const Script& script, int tp, int64_t add,
              const std::vector<uint8_t>& bytes) {
  HexStyle style;
  style.lowerCase = script.lowerHex;
  std::string text = HexText(bytes, style);
  std::string name = "block TP=" + std::to_string(tp) + " ADD=" + std::to_string(add);
  if (!host.Send(SetitLine(tp, add, bytes.size(), Sum(bytes), 1))) return Fail(name + " line");
  for (size_t at = 0; at < text.size(); at += script.piece) {
    std::string piece = text.substr(at, script.piece);
    // A write cut short by the printer going away reports what it took; the next one
    // finds the device gone.
    for (size_t done = 0; done < piece.size();) {
      int written = host.Port().Write(piece.data() + done, static_cast<int>(piece.size() - done));
      if (written <= 0) return Fail(name + ": write returned " + std::to_string(written));
      done += static_cast<size_t>(written);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(script.pieceDelayMs));
  }
  auto sent = Clock::now() - std::chrono::milliseconds(script.pieceDelayMs);
  auto reply = host.Reply();
  if (!reply) return Fail(name + ": no reply");
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
  Say(name + ": " + *reply + " after " + std::to_string(ms) + " ms");
  return *reply == "OK" ? 0 : Fail(name + " refused");
}

int SendSection(Host& host, const Script& script, const Section& section) {
  std::vector<uint8_t> data = Pattern(section.size, 20 + section.tp);
  if (!host.Send(std::string("BUZZER TP=1\r\n"))) return Fail("BUZZER TP=1");
  size_t blockSize = BlockSize(section.tp);
  for (size_t add = 0; add < data.size(); add += blockSize) {
    size_t end = std::min(data.size(), add + blockSize);
    std::vector<uint8_t> block(data.begin() + add, data.begin() + end);
    if (int failed = SendBlock(host, script, section.tp, add, block)) return failed;
  }
  return 0;
}

int RunFirmwareStep(Host& host, const Script& script) {
  if (!host.Send(std::string("CONNECT VRQ\r\n"))) return Fail("connect line");
  auto reply = host.Reply();
  if (!reply) return Fail("no reply to the connect line");
  Say("connect: " + *reply);
  if (*reply != "Connect Success!") return Fail("connect refused");
  std::vector<uint8_t> image = Pattern(script.imageSize, 11);
  if (!host.Send(std::string("SECOND LINE\r\n")) || !host.Send(DfLine(image)) ||
      !host.Send(image)) {
    return Fail("image");
  }
  host.Port().Close();
  if (!host.AwaitRestart()) return Fail("printer did not come back");
  Say("printer back");
  if (!host.Reconnect()) return Fail("cannot open the printer again");
  reply = host.Reply();
  if (!reply) return Fail("no Please send next!");
  Say("send-next: " + *reply);
  return 0;
}

int Run(const Script& script) {
  Host host(script);
  if (!host.Connect()) return Fail("no printer");
  if (int failed = RunFirmwareStep(host, script)) return failed;
  host.Send(std::string("CKID\r\n"));
  auto reply = host.Reply();
  Say("ckid: " + reply.value_or("(none)"));
  if (reply != "OK") {
    host.Send(std::string("LED TP=6\r\n"));
    return Fail("no MAC");
  }
  for (const Section& section : script.sections) {
    if (int failed = SendSection(host, script, section)) {
      Say("probe write: " + std::to_string(host.Port().Write("\r\n", 2)));
      Say("printers found: " + std::to_string(host.PrintersFound()));
      return failed;
    }
  }
  host.Send(std::string("LINK\r\n"));
  reply = host.Reply();
  Say("link: " + reply.value_or("(none)"));
  host.Send(std::string(reply ? "BUZZER TP=2\r\n" : "BUZZER TP=3\r\n"));
  host.Port().Close();
  if (!reply) return Fail("no reply to LINK");
  Say("done");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Script script;
  if (!ParseScript(argc, argv, script)) {
    std::fprintf(stderr, "sim_client: bad arguments\n");
    return 2;
  }
  return Run(script);
}
