// The program's hold on libJXUsbHid.so: loaded from beside the executable at start, its
// seven functions bound by name, and let go at exit. The program performs no device I/O
// through it; loading alone sets up the library's shared owner objects.
#pragma once

#include <cstdint>
#include <string>

#include "hidlib/JXUsbHid.h"
#include "platform/dynlib.h"

namespace hidlib {

class HidLibrary {
 public:
  static constexpr const char kFileName[] = "libJXUsbHid.so";

  // Loads kFileName from the folder of the running executable, if it lies there.
  HidLibrary();
  // Loads kFileName from folder (with or without the final "/").
  explicit HidLibrary(const std::string& folder);
  ~HidLibrary() { Release(); }
  HidLibrary(const HidLibrary&) = delete;
  HidLibrary& operator=(const HidLibrary&) = delete;

  // Releases what is held, then loads the library at path and binds its seven functions.
  // True only when it loaded and has all seven; otherwise nothing stays loaded.
  bool Load(const std::string& path);
  // Closes a held device, unloads the library and empties every field. Always true.
  bool Release();
  // hidusbClose of the held device; 0 when none is held or the function is missing.
  // DeviceHandle is 0 afterwards.
  int32_t CloseDevice();
  // hidusbIsOpened of the held device; 0 when none is held or the function is missing.
  int32_t IsDeviceOpen();

  bool IsLoaded() const { return Module.IsLoaded(); }

  // Either Module and all seven functions are set, or all eight are empty.
  platform::DynamicLibrary Module;
  decltype(&::hidusbGetVersion) GetVersionFn = nullptr;
  decltype(&::hidusbOpen) OpenFn = nullptr;
  decltype(&::hidusbClose) CloseFn = nullptr;
  decltype(&::hidusbIsOpened) IsOpenedFn = nullptr;
  decltype(&::hidusbReadData) ReadDataFn = nullptr;
  decltype(&::hidusbWriteData) WriteDataFn = nullptr;
  decltype(&::hidusbGetHandle) GetHandleFn = nullptr;
  // The handle hidusbOpen returned; 0 = no device held. The program never opens one.
  int32_t DeviceHandle = 0;

 private:
  void ClearFunctions();
};

}  // namespace hidlib
