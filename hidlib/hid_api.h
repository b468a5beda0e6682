// hidapi's hidraw back end, loaded at run time and bound by name.
#pragma once

#include <hidapi/hidapi.h>

#include "platform/dynlib.h"

namespace hidlib {

// The soname of the back end that libhidapi-hidraw0 installs.
inline constexpr const char kHidApiLibrary[] = "libhidapi-hidraw.so.0";

class HidApi {
 public:
  // Loads the back end and binds hid_init, hid_enumerate, hid_free_enumeration,
  // hid_open_path, hid_close, hid_write and hid_get_input_report, then runs hid_init.
  // False, with nothing left bound, when the library or one of the seven names is missing
  // or hid_init fails. Binding again while bound keeps the current binding.
  bool Bind(const char* soname = kHidApiLibrary);
  // Runs hid_exit when the back end has it (it frees hidapi's own error texts) and unloads.
  void Unbind();
  bool IsBound() const { return library.IsLoaded(); }

  decltype(&::hid_init) init = nullptr;
  decltype(&::hid_enumerate) enumerate = nullptr;
  decltype(&::hid_free_enumeration) free_enumeration = nullptr;
  decltype(&::hid_open_path) open_path = nullptr;
  decltype(&::hid_close) close = nullptr;
  decltype(&::hid_write) write = nullptr;
  decltype(&::hid_get_input_report) get_input_report = nullptr;

 private:
  void ClearFunctions();

  platform::DynamicLibrary library;
  decltype(&::hid_exit) exit = nullptr;
};

}  // namespace hidlib
