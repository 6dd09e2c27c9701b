#include <gtest/gtest.h>

#include "platform/process.h"
#include "support/test_support.h"

namespace Zentrovak::Platform {
namespace {

TEST(ProcessPosix, LinuxOnlyOptionsLeaveTheCommandLine) {
  const std::string machine = Testing::TestMachineDirectory();
  std::string args[] = {"/opt/x/NetBankAssistant", "--no-browser", "--machine", machine, "2", "--json",
                        "with space", "quote\"d", "--check", "tail\\"};
  char* argv[10];
  for (int i = 0; i < 10; ++i) argv[i] = args[i].data();
  const PlatformOptions& options = InitializeProcess(10, argv);
  EXPECT_TRUE(options.noBrowser);
  EXPECT_TRUE(options.json);
  EXPECT_TRUE(options.check);
  EXPECT_EQ(machine, options.machineDirectory);
  // Quoted so that the Windows splitting rule gives the arguments back.
  EXPECT_EQ(u"/opt/x/NetBankAssistant 2 \"with space\" \"quote\\\"d\" tail\\", ProcessCommandLine());
}

}  // namespace
}  // namespace Zentrovak::Platform
