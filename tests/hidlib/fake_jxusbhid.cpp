// A stand-in for libJXUsbHid.so that records what happens to it: its loading, its unloading
// and every call, one line each, in the file named by $FAKE_JXUSBHID_LOG. Built twice: with
// all seven functions, and with FAKE_SIX_ONLY without hidusbGetHandle.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Log(const char* what, long value = 0) {
  const char* path = std::getenv("FAKE_JXUSBHID_LOG");
  if (path == nullptr) return;
  if (FILE* log = std::fopen(path, "a")) {
    std::fprintf(log, "%s %ld\n", what, value);
    std::fclose(log);
  }
}

// hidusbIsOpened answers what $FAKE_JXUSBHID_OPENED says (default 1).
int OpenedAnswer() {
  const char* value = std::getenv("FAKE_JXUSBHID_OPENED");
  return value != nullptr && std::strcmp(value, "0") == 0 ? 0 : 1;
}

__attribute__((constructor)) void Loaded() {
  Log("load");
}
__attribute__((destructor)) void Unloaded() {
  Log("unload");
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int hidusbGetVersion(char*, int size) {
  Log("hidusbGetVersion", size);
  return 0;
}
EXPORT int hidusbOpen(void) {
  Log("hidusbOpen");
  return 0;
}
EXPORT int hidusbClose(int handle) {
  Log("hidusbClose", handle);
  return 1;
}
EXPORT int hidusbIsOpened(int handle) {
  Log("hidusbIsOpened", handle);
  return OpenedAnswer();
}
EXPORT int hidusbReadData(int handle, unsigned char*, int) {
  Log("hidusbReadData", handle);
  return 0;
}
EXPORT int hidusbWriteData(int handle, const unsigned char*, int) {
  Log("hidusbWriteData", handle);
  return 0;
}
#ifndef FAKE_SIX_ONLY
EXPORT intptr_t hidusbGetHandle(int, int selector) {
  Log("hidusbGetHandle", selector);
  return 0;
}
#endif
