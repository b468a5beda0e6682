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
  // How many of the seven functions are bound: 7 while the library is loaded, else 0.
  int BoundFunctionCount() const;
  // hidusbGetVersion of the loaded library; 0 when none is loaded.
  int32_t GetVersion(char* buffer, int32_t size) const;
  // The handle hidusbOpen returned for the device held; 0 = none. The program never
  // opens one: it binds the library, it does not use it.
  int32_t DeviceHandle() const { return deviceHandle_; }
  // Holds the device that hidusbOpen gave handle to: Release closes it.
  void AdoptDevice(int32_t handle) { deviceHandle_ = handle; }

 private:
  void ClearFunctions();

  // Either Module and all seven functions are set, or all eight are empty. The program
  // performs no transfer through them; each is bound so that a library that lacks it is
  // refused whole, as one that cannot serve a caller.
  platform::DynamicLibrary Module;
  decltype(&::hidusbGetVersion) GetVersionFn = nullptr;  // the --version of the library
  decltype(&::hidusbOpen) OpenFn = nullptr;              // takes the printer for a caller
  decltype(&::hidusbClose) CloseFn = nullptr;            // gives a held device back (Release)
  decltype(&::hidusbIsOpened) IsOpenedFn = nullptr;      // asks before that close (Release)
  decltype(&::hidusbReadData) ReadDataFn = nullptr;      // a caller's reads
  decltype(&::hidusbWriteData) WriteDataFn = nullptr;    // a caller's writes
  decltype(&::hidusbGetHandle) GetHandleFn = nullptr;    // a caller's scratch buffers
  int32_t deviceHandle_ = 0;
};

}  // namespace hidlib
