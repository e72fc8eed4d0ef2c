// CTest runs every test as a process of its own, and lists the tests by
// running this binary once more: whatever the binary does before its first
// test (global initialisers, parameter tables) is paid hundreds of times.
// Inputs are made inside the tests; this keeps it so.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "support/testutil.h"

namespace {

double ChildrenSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Processor time, not wall time, so a busy machine does not fail it; the
// best of three. The sanitizers' own start-up is left out.
TEST(SuiteStartup, ListingTheTestsTakesAnInstant) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' start-up is not the suite's";
#endif
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  const std::string list = "'" + std::string(self, static_cast<size_t>(n)) + "' --gtest_list_tests > /dev/null";
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    const double before = ChildrenSeconds();
    ASSERT_EQ(testutil::System(list), 0);
    best = std::min(best, ChildrenSeconds() - before);
  }
  EXPECT_LT(best, 0.2) << "seconds to list the tests: something expensive runs at start-up";
}

}  // namespace
