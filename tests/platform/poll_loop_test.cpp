// PollLoop: callbacks for readable descriptors, and unwatching from inside one.
#include "platform/poll_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/descriptor.h"

namespace {

struct Pipe {
  platform::Descriptor readEnd;
  platform::Descriptor writeEnd;
  Pipe() {
    int fds[2] = {-1, -1};
    EXPECT_EQ(pipe(fds), 0);
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
  }
  int ReadEnd() const { return readEnd.Get(); }
  void Signal() const { EXPECT_EQ(write(writeEnd.Get(), "x", 1), 1); }
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
