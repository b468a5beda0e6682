// The front end's event loop as seen by code that owns a descriptor to watch (the
// device-change watcher's udev monitor). The window's FLTK loop and the terminal front
// end's poll() loop each implement it; callbacks always run on the loop's own thread.
#pragma once

#include <functional>

namespace platform {

class FdWatch {
 public:
  virtual ~FdWatch() = default;

  // Calls onReadable on the loop's thread whenever fd has data waiting (or is in an
  // error state, so that the owner can drain or drop it). Watching an fd that is
  // watched already replaces its callback. The caller keeps ownership of fd and must
  // Unwatch it before closing it.
  virtual void Watch(int fd, std::function<void()> onReadable) = 0;

  // Stops watching fd; a callback for it that has not run yet will not run. Unknown fds
  // are ignored. Safe to call from inside any callback, including fd's own.
  virtual void Unwatch(int fd) = 0;
};

}  // namespace platform
