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
  if (DeviceHandle != 0) {
    // hidusbClose runs once either way; also when the library reports the device closed,
    // as the ownership is given up only there.
    if (IsDeviceOpen() != 0) CloseDevice();
    if (DeviceHandle != 0) CloseDevice();
  }
  Module.Close();
  ClearFunctions();
  return true;
}

int32_t HidLibrary::CloseDevice() {
  int32_t result = 0;
  if (DeviceHandle != 0 && CloseFn != nullptr) result = CloseFn(DeviceHandle);
  DeviceHandle = 0;
  return result;
}

int32_t HidLibrary::IsDeviceOpen() {
  if (DeviceHandle == 0 || IsOpenedFn == nullptr) return 0;
  return IsOpenedFn(DeviceHandle);
}

void HidLibrary::ClearFunctions() {
  ClearAll(GetVersionFn, OpenFn, CloseFn, IsOpenedFn, ReadDataFn, WriteDataFn, GetHandleFn);
  DeviceHandle = 0;
}

}  // namespace hidlib
