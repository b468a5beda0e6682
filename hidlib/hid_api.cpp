#include "hidlib/hid_api.h"

#include "hidlib/bind_all.h"

namespace hidlib {

bool HidApi::Bind(const char* soname) {
  if (IsBound()) return true;
  library = platform::DynamicLibrary::Open(soname);
  if (!library.IsLoaded()) return false;
  // All seven are required, in this order; a back end without one of them is not used.
  const bool complete =
      BindAll(library, Named("hid_init", init), Named("hid_enumerate", enumerate),
              Named("hid_free_enumeration", free_enumeration), Named("hid_open_path", open_path),
              Named("hid_close", close), Named("hid_write", write),
              Named("hid_get_input_report", get_input_report));
  if (!complete || init() != 0) {
    library.Close();
    ClearFunctions();
    return false;
  }
  platform::BindSymbol(library, "hid_exit", exit);
  return true;
}

void HidApi::Unbind() {
  if (exit != nullptr) exit();
  library.Close();
  ClearFunctions();
}

void HidApi::ClearFunctions() {
  ClearAll(init, enumerate, free_enumeration, open_path, close, write, get_input_report, exit);
}

}  // namespace hidlib
