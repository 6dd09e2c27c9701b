// A killed instance never blocks the next start: the lock goes with the
// process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/single_instance.h"
#include "support/test_support.h"

namespace Zentrovak::App {
namespace {

int HoldInstance() {
  if (acquire_single_instance(kSingleInstanceName) != 0) return 3;
  std::puts("held");
  std::fflush(stdout);
  ::pause();
  return 0;
}
const bool registered = Testing::RegisterRole("hold-instance", HoldInstance);

TEST(SingleInstancePosix, TheLockIsFreeAfterTheHolderIsKilled) {
  Testing::RoleChild child = Testing::StartRole("hold-instance");
  ASSERT_GT(child.pid, 0);
  char buffer[16] = {};
  ASSERT_GT(::read(child.output, buffer, sizeof buffer - 1), 0);
  EXPECT_STREQ("held\n", buffer);

  EXPECT_EQ(kAlreadyRunning, acquire_single_instance(kSingleInstanceName));
  Testing::KillRole(child);
  EXPECT_EQ(0, acquire_single_instance(kSingleInstanceName));
  release_single_instance();
}

}  // namespace
}  // namespace Zentrovak::App
