// FdWatch on FLTK's event loop (Fl::add_fd): descriptor callbacks run on the GUI thread
// whenever FLTK waits or pumps. An exception that escapes one is shown in an error box
// and the loop goes on.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/fd_watch.h"

namespace app {

class FltkFdWatch final : public platform::FdWatch {
 public:
  FltkFdWatch() = default;
  ~FltkFdWatch() override;
  FltkFdWatch(const FltkFdWatch&) = delete;
  FltkFdWatch& operator=(const FltkFdWatch&) = delete;

  void Watch(int fd, std::function<void()> onReadable) override;
  void Unwatch(int fd) override;
  // While held, no callback runs; a descriptor that stays readable is served afterwards.
  void Hold(bool held) { held_ = held; }

 private:
  static void Dispatch(int fd, void* self);

  std::map<int, std::shared_ptr<std::function<void()>>> watches_;
  bool held_ = false;
};

}  // namespace app
