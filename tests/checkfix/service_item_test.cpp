// Services: the start-and-wait rules against scripted services on a
// scripted clock, and the check and repair against the machine's real
// service control (Wine's Spooler; the posix machine's service records).
#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "checkfix/service_item.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::ServiceStatus;

// A service that answers a script of statuses, one per query (the last one
// repeats), on a clock that moves only when the waiting sleeps.
class ScriptedService : public Platform::ServiceControl {
 public:
  ScriptedService(std::deque<ServiceStatus> beforeStart, std::deque<ServiceStatus> afterStart)
      : beforeStart_(std::move(beforeStart)), afterStart_(std::move(afterStart)) {}
  Platform::Win32Error QueryStatus(ServiceStatus& status) override {
    std::deque<ServiceStatus>& script = started_ ? afterStart_ : beforeStart_;
    status = script.front();
    if (script.size() > 1) script.pop_front();
    ++queries_;
    return 0;
  }
  Platform::Win32Error Start() override {
    started_ = true;
    return startError_;
  }
  Platform::Win32Error Stop() override { return 0; }

  bool started_ = false;
  int queries_ = 0;
  Platform::Win32Error startError_ = 0;

 private:
  std::deque<ServiceStatus> beforeStart_;
  std::deque<ServiceStatus> afterStart_;
};

struct FakeClock {
  uint32_t now = 0;
  ServiceWaitClock clock() {
    return {[this] { return now; }, [this](uint32_t ms) { now += ms; }};
  }
};

constexpr uint32_t kStopped = Platform::kServiceStopped;
constexpr uint32_t kStartPending = Platform::kServiceStartPending;
constexpr uint32_t kStopPending = Platform::kServiceStopPending;
constexpr uint32_t kRunning = Platform::kServiceRunning;
constexpr uint32_t kPaused = Platform::kServicePaused;

TEST(StartServiceAndWait, FollowsTheServiceThroughItsPendingStates) {
  struct Case {
    const char* name;
    std::deque<ServiceStatus> before, after;
    Platform::HResult expected;
    bool starts;
  } const cases[] = {
      {"stopped, starts at once", {{kStopped, 0, 0}}, {{kRunning, 0, 0}}, 0, true},
      {"already running: nothing to start", {{kRunning, 0, 0}}, {}, 1, false},
      {"paused: nothing to start", {{kPaused, 0, 0}}, {}, 1, false},
      {"a stop that ends, then a slow start making progress",
       {{kStopPending, 1, 3000}, {kStopPending, 2, 3000}, {kStopped, 0, 0}},
       {{kStartPending, 1, 2000}, {kStartPending, 2, 2000}, {kStartPending, 3, 2000}, {kRunning, 0, 0}},
       0, true},
      {"a stop that never ends", {{kStopPending, 5, 2000}}, {}, kServiceStartTimedOut, false},
      {"a start that stalls", {{kStopped, 0, 0}}, {{kStartPending, 1, 1500}}, kServiceNotRunning, true},
      {"a start that falls back to stopped", {{kStopped, 0, 0}}, {{kStartPending, 1, 3000}, {kStopped, 0, 0}},
       kServiceNotRunning, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedService service(c.before, c.after.empty() ? std::deque<ServiceStatus>{{kRunning, 0, 0}} : c.after);
    FakeClock clock;
    EXPECT_EQ(c.expected, StartServiceAndWait(service, clock.clock()));
    EXPECT_EQ(c.starts, service.started_);
    EXPECT_LT(clock.now, 60000u);  // every wait is bounded
  }
}

TEST(StartServiceAndWait, AStartRefusedAnswersTheSystemError) {
  ScriptedService service({{kStopped, 0, 0}}, {{kStopped, 0, 0}});
  service.startError_ = Platform::kErrorServiceDisabled;
  FakeClock clock;
  EXPECT_EQ(Platform::HResultFromWin32(Platform::kErrorServiceDisabled), StartServiceAndWait(service, clock.clock()));
}

// The machine's own services: Wine's Spooler is stopped until started; the
// posix machine gets a record that behaves the same.
class MachineService : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    Platform::RegistryKey key;
    ASSERT_EQ(0u, Platform::RegistryKey::Create(Platform::kHkeyLocalMachine,
                                                u"SYSTEM\\CurrentControlSet\\Services\\Spooler",
                                                Platform::RegAccess::ReadWrite, Platform::RegView::Default, key));
    key.WriteDword(u"StartQueries", 1);
#endif
    std::unique_ptr<Platform::ServiceControl> spooler;
    ASSERT_EQ(0u, Platform::OpenSystemService(u"Spooler", spooler));
    spooler->Stop();
  }
  void TearDown() override {
    std::unique_ptr<Platform::ServiceControl> spooler;
    if (Platform::OpenSystemService(u"Spooler", spooler) == 0) spooler->Stop();
  }
};

TEST_F(MachineService, AStoppedServiceFailsItsCheckAndTheRepairStartsIt) {
  CheckFixService services;
  ConfigEntry entry;
  entry.text = "Spooler";
  EXPECT_EQ(Failed, services.CheckEntry(entry));
  EXPECT_EQ(Passed, services.FixEntry(entry));
  EXPECT_EQ(Passed, services.CheckEntry(entry));
  EXPECT_EQ(Passed, services.FixEntry(entry));  // running: nothing to do

  ConfigEntry missing;
  missing.text = "ZentrovakNoSuchService";
  EXPECT_EQ(Failed, services.CheckEntry(missing));
  EXPECT_EQ(Failed, services.FixEntry(missing));
  std::unique_ptr<Platform::ServiceControl> none;
  EXPECT_EQ(Platform::kErrorServiceDoesNotExist, Platform::OpenSystemService(u"ZentrovakNoSuchService", none));
}

}  // namespace
}  // namespace Zentrovak::Assistant
