// Test entry point: every test program gets a machine of its own (posix) so
// that no test touches the user's real machine directory.
#include <gtest/gtest.h>

#include "support/test_support.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  Zentrovak::Testing::PrepareTestMachine(argc, argv);
  int roleExit = 0;
  if (Zentrovak::Testing::RunRoleIfAsked(&roleExit)) return roleExit;
  const int result = RUN_ALL_TESTS();
  Zentrovak::Testing::CleanUpTestMachine();
  return result;
}
