// The posix registry store keeps every committed write through a crash, and
// sets a damaged file aside instead of emptying it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/machine.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace Zentrovak::Platform {
namespace {

constexpr char16_t kBurstKey[] = u"Software\\ZentrovakTests\\Burst";

// Writes numbered values as fast as it can and reports each one only after
// its write has returned.
int WriteBurst() {
  RegistryKey key;
  if (RegistryKey::Create(kHkeyCurrentUser, kBurstKey, RegAccess::ReadWrite, RegView::Default, key)) return 3;
  for (uint32_t i = 0;; ++i) {
    std::vector<uint8_t> payload(512, static_cast<uint8_t>(i));
    if (key.WriteBinary(u"v" + ToU16(static_cast<int32_t>(i)), payload)) return 4;
    std::printf("%u\n", i);
    std::fflush(stdout);
  }
}
const bool registered = Testing::RegisterRole("registry-burst", WriteBurst);

TEST(RegistryStorePosix, AKilledWriterLosesNoCommittedValue) {
  Testing::RoleChild child = Testing::StartRole("registry-burst");
  ASSERT_GT(child.pid, 0);
  FILE* reports = ::fdopen(::dup(child.output), "r");
  long last = -1;
  unsigned reported = 0;
  while (std::fscanf(reports, "%u", &reported) == 1) {
    last = reported;
    if (last >= 400) break;
  }
  Testing::KillRole(child);  // in the middle of the burst
  std::fclose(reports);
  ASSERT_GE(last, 400);

  RegistryKey key;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, kBurstKey, RegAccess::Read, RegView::Default, key));
  for (long i = 0; i <= last; ++i) {
    std::vector<uint8_t> value;
    ASSERT_EQ(kErrorSuccess, key.ReadBinary(u"v" + ToU16(static_cast<int32_t>(i)), value)) << i;
    ASSERT_EQ(std::vector<uint8_t>(512, static_cast<uint8_t>(i)), value) << i;
  }
  key.Close();
  RegistryKey::DeleteTree(kHkeyCurrentUser, kBurstKey, RegView::Default);
}

TEST(RegistryStorePosix, ADamagedStoreIsSetAsideNotEmptied) {
  const std::string original = Posix::MachineDirectory();
  const std::string machine = original + "/damaged-machine";
  std::filesystem::create_directories(machine);
  const std::string garbage(8192, '\x5a');
  std::ofstream(machine + "/registry.db", std::ios::binary) << garbage;
  Posix::SetMachineDirectory(machine);

  RegistryKey key;
  testing::internal::CaptureStderr();
  const auto error = RegistryKey::Create(kHkeyCurrentUser, u"Software\\After", RegAccess::ReadWrite,
                                         RegView::Default, key);
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_EQ(kErrorSuccess, error);
  EXPECT_EQ(kErrorSuccess, key.WriteDword(u"x", 1));
  EXPECT_NE(std::string::npos, report.find("damaged"));

  int asideCount = 0;
  for (const auto& entry : std::filesystem::directory_iterator(machine)) {
    if (entry.path().filename().string().rfind("registry.db.corrupt-", 0) != 0) continue;
    if (entry.path().string().find("-wal") != std::string::npos) continue;
    ++asideCount;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(garbage, kept);  // the old bytes are kept for inspection
  }
  EXPECT_EQ(1, asideCount);
  key.Close();
  Posix::SetMachineDirectory(original);
}

}  // namespace
}  // namespace Zentrovak::Platform
