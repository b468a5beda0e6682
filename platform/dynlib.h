// Owner of a dynamically loaded library (dlopen/dlsym/dlclose).
#pragma once

#include <string>

namespace platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary() { Close(); }
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads the library at path (or by soname when path has no "/"). IsLoaded() tells
  // whether it worked.
  static DynamicLibrary Open(const std::string& path);

  bool IsLoaded() const { return handle_ != nullptr; }
  // Address of an exported symbol, nullptr when the library lacks it.
  void* Symbol(const char* name) const;
  // Unloads now; safe to call more than once.
  void Close();

 private:
  void* handle_ = nullptr;
};

// Binds an exported function by name into a typed pointer; false when it is missing.
template <typename Fn>
bool BindSymbol(const DynamicLibrary& library, const char* name, Fn*& out) {
  out = reinterpret_cast<Fn*>(library.Symbol(name));
  return out != nullptr;
}

}  // namespace platform
