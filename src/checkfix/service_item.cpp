#include "checkfix/service_item.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/message_loop.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

using Platform::ServiceControl;
using Platform::ServiceStatus;

namespace {

// A tenth of the hint, within one and ten seconds.
uint32_t PollInterval(uint32_t waitHint) { return std::clamp<uint32_t>(waitHint / 10, 1000, 10000); }

// Tracks whether a pending state still makes progress: the check point
// has to move within the announced wait hint.
class Progress {
 public:
  Progress(const ServiceWaitClock& clock, const ServiceStatus& status)
      : clock_(clock), since_(clock.ticks()), checkPoint_(status.checkPoint) {}
  // False when the service made no progress for longer than its hint.
  bool Moving(const ServiceStatus& status) {
    if (status.checkPoint > checkPoint_) {
      since_ = clock_.ticks();
      checkPoint_ = status.checkPoint;
      return true;
    }
    return clock_.ticks() - since_ <= status.waitHint;
  }

 private:
  const ServiceWaitClock& clock_;
  uint32_t since_;
  uint32_t checkPoint_;
};

std::unique_ptr<ServiceControl> OpenEntryService(const ConfigEntry& entry) {
  std::unique_ptr<ServiceControl> service;
  if (entry.text.empty()) return nullptr;
  if (Platform::OpenSystemService(Platform::Utf8ToUtf16(entry.text), service)) return nullptr;
  return service;
}

}  // namespace

ServiceWaitClock SystemWaitClock() {
  return {[] { return Platform::TickCount(); },
          [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }};
}

Platform::HResult StartServiceAndWait(ServiceControl& service, const ServiceWaitClock& clock) {
  ServiceStatus status;
  if (Platform::Win32Error e = service.QueryStatus(status)) return Platform::HResultFromWin32(e);
  if (status.state != Platform::kServiceStopped && status.state != Platform::kServiceStopPending) return 1;

  Progress stopping(clock, status);
  while (status.state == Platform::kServiceStopPending) {
    clock.sleep(PollInterval(status.waitHint));
    if (Platform::Win32Error e = service.QueryStatus(status)) return Platform::HResultFromWin32(e);
    if (status.state == Platform::kServiceStopPending && !stopping.Moving(status)) return kServiceStartTimedOut;
  }

  if (Platform::Win32Error e = service.Start()) return Platform::HResultFromWin32(e);
  if (Platform::Win32Error e = service.QueryStatus(status)) return Platform::HResultFromWin32(e);
  Progress starting(clock, status);
  while (status.state == Platform::kServiceStartPending) {
    clock.sleep(PollInterval(status.waitHint));
    ServiceStatus next;
    if (service.QueryStatus(next)) break;
    status = next;
    if (status.state == Platform::kServiceStartPending && !starting.Moving(status)) break;
  }
  return status.state == Platform::kServiceRunning ? 0 : kServiceNotRunning;
}

int32_t CheckFixService::CheckEntry(ConfigEntry& entry) {
  const std::unique_ptr<ServiceControl> service = OpenEntryService(entry);
  ServiceStatus status;
  if (!service || service->QueryStatus(status)) return Failed;
  return status.state == Platform::kServiceRunning ? Passed : Failed;
}

int32_t CheckFixService::FixEntry(ConfigEntry& entry) {
  const std::unique_ptr<ServiceControl> service = OpenEntryService(entry);
  if (!service) return Failed;
  return Platform::Failed(StartServiceAndWait(*service)) ? Failed : Passed;
}

}  // namespace Zentrovak::Assistant
