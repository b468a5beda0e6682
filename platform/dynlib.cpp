#include "platform/dynlib.h"

#include <dlfcn.h>

#include <utility>

namespace platform {

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary DynamicLibrary::Open(const std::string& path) {
  DynamicLibrary library;
  library.handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  return library;
}

void* DynamicLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

void DynamicLibrary::Close() {
  if (handle_ != nullptr) ::dlclose(std::exchange(handle_, nullptr));
}

}  // namespace platform
