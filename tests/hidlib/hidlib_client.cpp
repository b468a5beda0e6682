// A program that uses libJXUsbHid.so on command, for the tests that need several processes.
// Reads one command per line from standard input and answers each with one line on file
// descriptor 3, so that anything the library might print on standard output or error
// stays apart from the answers.
//
//   open                 hidusbOpen()
//   thread-open          hidusbOpen() on a new thread
//   close H | isopen H   hidusbClose(H) | hidusbIsOpened(H)
//   write H N SEED       hidusbWriteData(H, N bytes (SEED + i) & 0xFF, N)
//   read H N             hidusbReadData(H, buffer, N); answers "COUNT HEX"
//   pid                  the process id
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hidlib/JXUsbHid.h"

namespace {

std::string Answer(const std::string& line) {
  std::istringstream in(line);
  std::string command;
  int handle = 0;
  in >> command;
  if (command == "open") return std::to_string(hidusbOpen());
  if (command == "thread-open") {
    int result = -1;
    std::thread([&] { result = hidusbOpen(); }).join();
    return std::to_string(result);
  }
  if (command == "pid") return std::to_string(::getpid());
  in >> handle;
  if (command == "close") return std::to_string(hidusbClose(handle));
  if (command == "isopen") return std::to_string(hidusbIsOpened(handle));
  if (command == "write") {
    int count = 0, seed = 0;
    in >> count >> seed;
    std::vector<unsigned char> data(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
      data[static_cast<size_t>(i)] = (seed + i) & 0xFF;
    return std::to_string(hidusbWriteData(handle, data.data(), count));
  }
  if (command == "read") {
    int length = 0;
    in >> length;
    std::vector<unsigned char> buffer(static_cast<size_t>(length) + 1);
    const int got = hidusbReadData(handle, buffer.data(), length);
    std::string answer = std::to_string(got) + " ";
    char pair[3];
    for (int i = 0; i < got; ++i) {
      std::snprintf(pair, sizeof pair, "%02X", buffer[static_cast<size_t>(i)]);
      answer += pair;
    }
    return answer;
  }
  return "unknown command";
}

}  // namespace

int main() {
  FILE* answers = ::fdopen(3, "w");
  if (answers == nullptr) return 2;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::fprintf(answers, "%s\n", Answer(line).c_str());
    std::fflush(answers);
  }
  return 0;
}
