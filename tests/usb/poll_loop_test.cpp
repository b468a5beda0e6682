// PollLoop: callbacks for readable descriptors, and unwatching from inside one.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/poll_loop.h"

namespace {

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    close(fds[0]);
    close(fds[1]);
  }
  int ReadEnd() const { return fds[0]; }
  void Signal() const { EXPECT_EQ(write(fds[1], "x", 1), 1); }
};

TEST(PollLoop, RunsTheCallbackOfEachReadableDescriptorOnly) {
  platform::PollLoop loop;
  Pipe a;
  Pipe b;
  int ranA = 0;
  int ranB = 0;
  loop.Watch(a.ReadEnd(), [&] { ++ranA; });
  loop.Watch(b.ReadEnd(), [&] { ++ranB; });
  EXPECT_EQ(loop.RunOnce(0), 0);
  a.Signal();
  EXPECT_EQ(loop.RunOnce(100), 1);
  EXPECT_EQ(ranA, 1);
  EXPECT_EQ(ranB, 0);
}

TEST(PollLoop, ACallbackUnwatchedByAnEarlierOneDoesNotRun) {
  platform::PollLoop loop;
  Pipe a;
  Pipe b;
  int ranB = 0;
  // Both become readable; whichever runs first unwatches both.
  loop.Watch(a.ReadEnd(), [&] {
    loop.Unwatch(a.ReadEnd());
    loop.Unwatch(b.ReadEnd());
  });
  loop.Watch(b.ReadEnd(), [&] {
    ++ranB;
    loop.Unwatch(a.ReadEnd());
    loop.Unwatch(b.ReadEnd());
  });
  a.Signal();
  b.Signal();
  EXPECT_EQ(loop.RunOnce(100), 1);
  EXPECT_EQ(loop.WatchedCount(), 0u);
  EXPECT_EQ(loop.RunOnce(0), 0);
}

}  // namespace
