// Builds the program's HidLibrary the way vrq-update does and tells what it found:
// "loaded VERSION" or "empty".
#include <cstdio>

#include "hidlib/HidLibrary.h"

int main() {
  hidlib::HidLibrary library;
  if (!library.IsLoaded()) {
    std::printf("empty\n");
    return 0;
  }
  char version[16];
  const int length = library.GetVersion(version, sizeof version);
  std::printf("loaded %.*s\n", length, version);
  return 0;
}
