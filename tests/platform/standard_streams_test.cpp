// Standard output that nobody needs to read: a closed pipe, a full disk or a reader that
// lags never turn the stream bad, and the next line is tried again.
#include "platform/standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <ostream>
#include <string>

namespace {

std::string ReadAvailable(int fd) {
  std::string text;
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(got));
  return text;
}

TEST(SteadyOutputTest, AClosedPipeOrAFullDiskNeverTurnsTheStreamBad) {
  platform::IgnoreBrokenPipes();
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  for (const int fd : {ends[1], full}) {
    platform::SteadyOutput buffer(fd);
    std::ostream out(&buffer);
    out << "a line nobody reads" << std::endl;
    out << std::string(100000, 'x') << '\n' << std::flush;  // past the buffer, at once
    EXPECT_TRUE(out.good()) << fd;
  }
  close(ends[1]);
  close(full);
}

// A reader that cannot keep up loses what did not fit, not what comes after.
TEST(SteadyOutputTest, WhatAFullPipeDoesNotTakeIsDroppedAndTheNextLineArrives) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
  const int capacity = fcntl(ends[1], F_GETPIPE_SZ);
  ASSERT_GT(capacity, 0);
  platform::SteadyOutput buffer(ends[1]);
  std::ostream out(&buffer);
  out << std::string(static_cast<size_t>(capacity) + 5000, 'x') << std::flush;
  EXPECT_TRUE(out.good());
  EXPECT_EQ(ReadAvailable(ends[0]).size(), static_cast<size_t>(capacity));
  out << "next\n" << std::flush;
  EXPECT_EQ(ReadAvailable(ends[0]), "next\n");
  close(ends[0]);
  close(ends[1]);
}

TEST(SteadyStandardStreamsTest, TakesStandardOutputAndErrorAndGivesThemBack) {
  std::streambuf* const out = std::cout.rdbuf();
  std::streambuf* const err = std::cerr.rdbuf();
  {
    platform::SteadyStandardStreams streams;
    EXPECT_NE(std::cout.rdbuf(), out);
    EXPECT_NE(std::cerr.rdbuf(), err);
    EXPECT_TRUE(std::cout.good());
  }
  EXPECT_EQ(std::cout.rdbuf(), out);
  EXPECT_EQ(std::cerr.rdbuf(), err);
}

}  // namespace
