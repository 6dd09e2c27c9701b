// A killed instance never blocks the next start: the lock goes with the
// process.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/single_instance.h"
#include "support/test_support.h"

extern char** environ;

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
  int out[2];
  ASSERT_EQ(0, ::pipe(out));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  ::setenv("ZENTROVAK_TEST_ROLE", "hold-instance", 1);
  std::string program = Testing::TestProgramPath();
  char* argv[] = {program.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(0, ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ));
  ::unsetenv("ZENTROVAK_TEST_ROLE");
  ::close(out[1]);
  char buffer[16] = {};
  ASSERT_GT(::read(out[0], buffer, sizeof buffer - 1), 0);
  EXPECT_STREQ("held\n", buffer);

  EXPECT_EQ(kAlreadyRunning, acquire_single_instance(kSingleInstanceName));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(out[0]);
  EXPECT_EQ(0, acquire_single_instance(kSingleInstanceName));
  release_single_instance();
}

}  // namespace
}  // namespace Zentrovak::App
