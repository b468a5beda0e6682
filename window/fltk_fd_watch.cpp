#include "window/fltk_fd_watch.h"

#include <FL/Fl.H>

#include "window/fltk_message_box.h"

namespace app {

FltkFdWatch::~FltkFdWatch() {
  for (const auto& [fd, callback] : watches_)
    Fl::remove_fd(fd);
}

void FltkFdWatch::Watch(int fd, std::function<void()> onReadable) {
  watches_[fd] = std::make_shared<std::function<void()>>(std::move(onReadable));
  Fl::add_fd(fd, FL_READ | FL_EXCEPT, &FltkFdWatch::Dispatch, this);
}

void FltkFdWatch::Unwatch(int fd) {
  if (watches_.erase(fd) > 0) Fl::remove_fd(fd);
}

void FltkFdWatch::Dispatch(int fd, void* self) {
  auto* watch = static_cast<FltkFdWatch*>(self);
  if (watch->held_) return;
  auto found = watch->watches_.find(fd);
  if (found == watch->watches_.end()) return;
  // Keep the callback alive even if it unwatches its own descriptor.
  std::shared_ptr<std::function<void()>> callback = found->second;
  RunEventHandler(*callback);
}

}  // namespace app
