// The posix machine's service records pass through pending states the way
// the service control manager reports them, so the check and repair meet
// paused services and stops that never end as they would on Windows.
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "checkfix/service_item.h"
#include "platform/registry.h"

namespace Zentrovak::Assistant {
namespace {

void MakeService(const char16_t* name, std::initializer_list<std::pair<const char16_t*, uint32_t>> values) {
  Platform::RegistryKey key;
  ASSERT_EQ(0u, Platform::RegistryKey::Create(Platform::kHkeyLocalMachine,
                                              std::u16string(u"SYSTEM\\CurrentControlSet\\Services\\") + name,
                                              Platform::RegAccess::ReadWrite, Platform::RegView::Default, key));
  for (const auto& [value, data] : values) ASSERT_EQ(0u, key.WriteDword(value, data));
}

uint32_t StateOf(const char16_t* name) {
  std::unique_ptr<Platform::ServiceControl> service;
  Platform::ServiceStatus status;
  if (Platform::OpenSystemService(name, service) || service->QueryStatus(status)) return 0;
  return status.state;
}

ConfigEntry Service(const char* name) {
  ConfigEntry entry;
  entry.text = name;
  return entry;
}

TEST(MachineServiceRecords, APausedServiceFailsItsCheckAndTheRepairLeavesItPaused) {
  MakeService(u"PausedSvc", {{u"CurrentState", Platform::kServicePaused}});
  CheckFixService services;
  ConfigEntry entry = Service("PausedSvc");
  EXPECT_EQ(Failed, services.CheckEntry(entry));
  EXPECT_EQ(Passed, services.FixEntry(entry));
  EXPECT_EQ(Platform::kServicePaused, StateOf(u"PausedSvc"));
}

TEST(MachineServiceRecords, AStopThatNeverEndsFailsTheRepair) {
  MakeService(u"StuckSvc", {{u"CurrentState", Platform::kServiceStopPending},
                            {u"PendingQueries", 0xFFFFFFFFu},
                            {u"WaitHint", 0}});
  CheckFixService services;
  ConfigEntry entry = Service("StuckSvc");
  EXPECT_EQ(Failed, services.CheckEntry(entry));
  EXPECT_EQ(Failed, services.FixEntry(entry));
  EXPECT_EQ(Platform::kServiceStopPending, StateOf(u"StuckSvc"));
}

TEST(MachineServiceRecords, ADisabledServiceCannotBeStarted) {
  MakeService(u"DisabledSvc", {{u"Start", 4}});
  std::unique_ptr<Platform::ServiceControl> service;
  ASSERT_EQ(0u, Platform::OpenSystemService(u"DisabledSvc", service));
  EXPECT_EQ(Platform::HResultFromWin32(Platform::kErrorServiceDisabled), StartServiceAndWait(*service));
  CheckFixService services;
  ConfigEntry entry = Service("DisabledSvc");
  EXPECT_EQ(Failed, services.FixEntry(entry));
  EXPECT_EQ(Platform::kServiceStopped, StateOf(u"DisabledSvc"));
}

}  // namespace
}  // namespace Zentrovak::Assistant
