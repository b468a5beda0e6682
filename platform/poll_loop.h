// FdWatch on poll(): the terminal front end's event loop and the tests' one.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>

#include "platform/fd_watch.h"

namespace platform {

class PollLoop final : public FdWatch {
 public:
  PollLoop() = default;
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  void Watch(int fd, std::function<void()> onReadable) override;
  void Unwatch(int fd) override;

  // Waits up to timeoutMs (0: just look, negative: without limit) for a watched fd to
  // become readable, then runs the callback of every fd found readable. Returns the
  // number of callbacks run, 0 on time-out or interruption by a signal, and -1 when
  // poll() itself failed.
  int RunOnce(int timeoutMs);

  size_t WatchedCount() const { return watches_.size(); }

 private:
  using Callback = std::shared_ptr<std::function<void()>>;
  std::map<int, Callback> watches_;
};

}  // namespace platform
