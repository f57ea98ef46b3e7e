// The Windows child-process runner: the test program started again for one
// test, reaching the n-th RunInChild call with the earlier calls' results
// replayed, returning exactly what the body printed ("\n" line ends) and how
// the child ended.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "common/child_process.hpp"

namespace {

using orvek::test::RunInChild;

TEST(WindowsChildProcess, OutputAndExitStatusOfSeveralCallsInOneTest) {
  const auto first = RunInChild([] { std::fputs("first line\nsecond line\n", stdout); });
  ASSERT_TRUE(first.supported);
  EXPECT_EQ(first.output, "first line\nsecond line\n");
  EXPECT_EQ(first.exit_status, 0);

  // The child of the second call replays the first result and takes this
  // path only if that replay is exact.
  if (first.output != "first line\nsecond line\n") return;
  const auto second = RunInChild([] {
    std::printf("stopping %d\n", 7);
    std::fflush(stdout);
    std::exit(3);
  });
  EXPECT_EQ(second.output, "stopping 7\n");
  EXPECT_EQ(second.exit_status, 3);

  const auto third = RunInChild([] {});
  EXPECT_EQ(third.output, "");
  EXPECT_EQ(third.exit_status, 0);
}

TEST(WindowsChildProcess, CrashIsNotANormalExit) {
  const auto crashed = RunInChild([] {
    std::fputs("before\n", stdout);
    std::fflush(stdout);
    volatile int *nowhere = nullptr;
    *nowhere = 1;
  });
  ASSERT_TRUE(crashed.supported);
  EXPECT_EQ(crashed.output, "before\n");
  EXPECT_EQ(crashed.exit_status, -1);
}

TEST(WindowsChildProcess, ParentStateIsUntouched) {
  static int counter = 0;
  counter = 5;
  const auto child = RunInChild([] {
    counter = 99;
    std::printf("%d\n", counter);
  });
  EXPECT_EQ(child.output, "99\n");
  EXPECT_EQ(counter, 5);
}

} // namespace
