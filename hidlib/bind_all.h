// Binding the functions of a loaded library by name: all of them, or none.
#pragma once

#include "platform/dynlib.h"

namespace hidlib {

template <typename Fn>
struct NamedFunction {
  const char* name;
  Fn*& pointer;
};

template <typename Fn>
NamedFunction<Fn> Named(const char* name, Fn*& pointer) {
  return {name, pointer};
}

// Binds the functions in the order given. False, with every pointer null, when the
// library lacks one of them.
template <typename... Fn>
bool BindAll(const platform::DynamicLibrary& library, NamedFunction<Fn>... functions) {
  if ((platform::BindSymbol(library, functions.name, functions.pointer) && ...)) return true;
  ((functions.pointer = nullptr), ...);
  return false;
}

template <typename... Fn>
void ClearAll(Fn*&... pointers) {
  ((pointers = nullptr), ...);
}

}  // namespace hidlib
