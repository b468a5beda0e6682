#include "platform/poll_loop.h"

#include <poll.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace platform {

void PollLoop::Watch(int fd, std::function<void()> onReadable) {
  if (fd < 0 || !onReadable) return;
  watches_[fd] = std::make_shared<std::function<void()>>(std::move(onReadable));
}

void PollLoop::Unwatch(int fd) {
  watches_.erase(fd);
}

int PollLoop::RunOnce(int timeoutMs) {
  std::vector<pollfd> fds;
  std::vector<Callback> callbacks;
  fds.reserve(watches_.size());
  for (const auto& [fd, callback] : watches_) {
    fds.push_back(pollfd{fd, POLLIN, 0});
    callbacks.push_back(callback);
  }
  int ready = poll(fds.data(), fds.size(), timeoutMs);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  int ran = 0;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    // A callback may have unwatched (or re-watched) this fd meanwhile: run only the
    // callback that is still registered and was registered when poll() looked.
    auto it = watches_.find(fds[i].fd);
    if (it == watches_.end() || it->second != callbacks[i]) continue;
    Callback keep = it->second;  // the callback may unwatch itself while it runs
    (*keep)();
    ++ran;
  }
  return ran;
}

}  // namespace platform
