#include "hidlib/HidLibrary.h"

#include "hidlib/bind_all.h"
#include "platform/fs.h"

namespace hidlib {
namespace {

std::string LibraryPathIn(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + HidLibrary::kFileName;
}

}  // namespace

HidLibrary::HidLibrary() : HidLibrary(platform::FolderOf(platform::ExecutablePath())) {}

HidLibrary::HidLibrary(const std::string& folder) {
  // An executable whose folder is unknown has no library beside it.
  if (!folder.empty()) Load(LibraryPathIn(folder));
}

bool HidLibrary::Load(const std::string& path) {
  Release();
  Module = platform::DynamicLibrary::Open(path);
  if (!Module.IsLoaded()) return false;
  if (BindAll(Module, Named("hidusbGetVersion", GetVersionFn), Named("hidusbOpen", OpenFn),
              Named("hidusbClose", CloseFn), Named("hidusbIsOpened", IsOpenedFn),
              Named("hidusbReadData", ReadDataFn), Named("hidusbWriteData", WriteDataFn),
              Named("hidusbGetHandle", GetHandleFn))) {
    return true;
  }
  Module.Close();
  return false;
}

bool HidLibrary::Release() {
  if (deviceHandle_ != 0) {
    // hidusbClose runs once either way; also when the library reports the device closed,
    // as the ownership is given up only there.
    if (IsDeviceOpen() != 0) CloseDevice();
    if (deviceHandle_ != 0) CloseDevice();
  }
  Module.Close();
  ClearFunctions();
  return true;
}

int32_t HidLibrary::CloseDevice() {
  int32_t result = 0;
  if (deviceHandle_ != 0 && CloseFn != nullptr) result = CloseFn(deviceHandle_);
  deviceHandle_ = 0;
  return result;
}

int32_t HidLibrary::IsDeviceOpen() {
  if (deviceHandle_ == 0 || IsOpenedFn == nullptr) return 0;
  return IsOpenedFn(deviceHandle_);
}

int HidLibrary::BoundFunctionCount() const {
  int bound = 0;
  for (const void* function :
       {reinterpret_cast<const void*>(GetVersionFn), reinterpret_cast<const void*>(OpenFn),
        reinterpret_cast<const void*>(CloseFn), reinterpret_cast<const void*>(IsOpenedFn),
        reinterpret_cast<const void*>(ReadDataFn), reinterpret_cast<const void*>(WriteDataFn),
        reinterpret_cast<const void*>(GetHandleFn)}) {
    bound += function != nullptr ? 1 : 0;
  }
  return bound;
}

int32_t HidLibrary::GetVersion(char* buffer, int32_t size) const {
  return GetVersionFn != nullptr ? GetVersionFn(buffer, size) : 0;
}

void HidLibrary::ClearFunctions() {
  ClearAll(GetVersionFn, OpenFn, CloseFn, IsOpenedFn, ReadDataFn, WriteDataFn, GetHandleFn);
  deviceHandle_ = 0;
}

}  // namespace hidlib
