#include "hidlib/hid_api.h"

namespace hidlib {

bool HidApi::Bind(const char* soname) {
  if (IsBound()) return true;
  library_ = platform::DynamicLibrary::Open(soname);
  if (!library_.IsLoaded()) return false;
  // All seven are required, in this order; a back end without one of them is not used.
  const bool complete = platform::BindSymbol(library_, "hid_init", init) &&
                        platform::BindSymbol(library_, "hid_enumerate", enumerate) &&
                        platform::BindSymbol(library_, "hid_free_enumeration", free_enumeration) &&
                        platform::BindSymbol(library_, "hid_open_path", open_path) &&
                        platform::BindSymbol(library_, "hid_close", close) &&
                        platform::BindSymbol(library_, "hid_write", write) &&
                        platform::BindSymbol(library_, "hid_get_input_report", get_input_report);
  if (!complete || init() != 0) {
    library_.Close();
    ClearFunctions();
    return false;
  }
  platform::BindSymbol(library_, "hid_exit", exit_);
  return true;
}

void HidApi::Unbind() {
  if (exit_ != nullptr) exit_();
  library_.Close();
  ClearFunctions();
}

void HidApi::ClearFunctions() {
  init = nullptr;
  enumerate = nullptr;
  free_enumeration = nullptr;
  open_path = nullptr;
  close = nullptr;
  write = nullptr;
  get_input_report = nullptr;
  exit_ = nullptr;
}

}  // namespace hidlib
