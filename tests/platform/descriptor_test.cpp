// Descriptor: one owner per descriptor, whatever happens to it; and the EINTR retry.
#include "platform/descriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace {

using platform::Descriptor;

bool IsOpenNumber(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

struct PipeEnds {
  Descriptor read;
  Descriptor write;
  PipeEnds() {
    int fds[2] = {-1, -1};
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    read = Descriptor(fds[0]);
    write = Descriptor(fds[1]);
  }
};

TEST(Descriptor, EveryWayOfLettingGoClosesExactlyOnce) {
  int number = -1;
  {
    PipeEnds pipe;
    number = pipe.read.Get();
    ASSERT_TRUE(IsOpenNumber(number));
  }
  EXPECT_FALSE(IsOpenNumber(number)) << "destructor";

  PipeEnds a;
  PipeEnds b;
  int replaced = a.read.Get();
  int moved = b.read.Get();
  a.read = std::move(b.read);
  EXPECT_FALSE(IsOpenNumber(replaced)) << "move assignment closes what it replaces";
  EXPECT_EQ(a.read.Get(), moved);
  EXPECT_FALSE(b.read.IsOpen());
  EXPECT_TRUE(IsOpenNumber(moved));

  Descriptor& same = a.read;  // through a reference: clang rejects a visible self-move
  a.read = std::move(same);   // self-move keeps the descriptor
  EXPECT_TRUE(IsOpenNumber(moved));

  Descriptor taken(std::move(a.read));
  EXPECT_EQ(taken.Get(), moved);
  EXPECT_TRUE(taken.Close());
  EXPECT_FALSE(IsOpenNumber(moved));
  EXPECT_TRUE(taken.Close()) << "closing an empty owner is harmless";
}

TEST(Descriptor, ReleaseHandsOverWithoutClosing) {
  PipeEnds pipe;
  int number = pipe.write.Release();
  EXPECT_FALSE(pipe.write.IsOpen());
  EXPECT_TRUE(IsOpenNumber(number));
  Descriptor again(number);  // the new owner closes it
}

TEST(Descriptor, ResetKeepsTheErrnoOfTheOpenThatFailed) {
  PipeEnds pipe;
  errno = 0;
  pipe.read.Reset(open("/nonexistent/vrq-descriptor-test", O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(pipe.read.IsOpen());
  EXPECT_EQ(Descriptor(-5).Get(), -1) << "any negative number is empty";
}

TEST(Descriptor, DuplicateSharesTheFileAndIsCloseOnExec) {
  PipeEnds pipe;
  Descriptor copy = pipe.write.Duplicate();
  ASSERT_TRUE(copy.IsOpen());
  EXPECT_NE(copy.Get(), pipe.write.Get());
  EXPECT_TRUE(fcntl(copy.Get(), F_GETFD) & FD_CLOEXEC);
  pipe.write.Reset();
  ASSERT_EQ(write(copy.Get(), "x", 1), 1);
  char c = 0;
  EXPECT_EQ(read(pipe.read.Get(), &c, 1), 1);
  EXPECT_EQ(c, 'x');

  errno = 0;
  EXPECT_FALSE(Descriptor().Duplicate().IsOpen());
  EXPECT_EQ(errno, EBADF);
}

TEST(RetryOnInterrupt, RetriesOnlyInterruptedCallsAndKeepsTheirErrno) {
  int calls = 0;
  auto interruptedTwice = [&]() -> long {
    ++calls;
    if (calls <= 2) {
      errno = EINTR;
      return -1;
    }
    return 42;
  };
  EXPECT_EQ(platform::RetryOnInterrupt(interruptedTwice), 42);
  EXPECT_EQ(calls, 3);

  calls = 0;
  auto wouldBlock = [&] {
    ++calls;
    errno = EAGAIN;
    return -1;
  };
  EXPECT_EQ(platform::RetryOnInterrupt(wouldBlock), -1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(errno, EAGAIN);
}

}  // namespace
