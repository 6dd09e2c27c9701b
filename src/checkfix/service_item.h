// Each listed Windows service must be running (check type "service"); the
// repair starts it.
#pragma once
#include <functional>

#include "checkfix/check_fix.h"
#include "platform/errors.h"
#include "platform/services.h"

namespace Zentrovak::Assistant {

// The clock of the waits: the system's millisecond tick count and a sleep.
struct ServiceWaitClock {
  std::function<uint32_t()> ticks;
  std::function<void(uint32_t ms)> sleep;
};
ServiceWaitClock SystemWaitClock();

inline constexpr Platform::HResult kServiceStartTimedOut = Platform::HResultFromWin32(Platform::kErrorTimeout);
inline constexpr Platform::HResult kServiceNotRunning = Platform::kEFail;

// Starts a stopped service (waiting first for a stop in progress to end)
// and waits while it is start pending, within the wait hints the service
// announces. 0 when it runs afterwards; 1 when it was neither stopped nor
// stopping; kServiceStartTimedOut when a stop did not end in time;
// kServiceNotRunning when it is not running after the start; any other
// system error as an HRESULT.
Platform::HResult StartServiceAndWait(Platform::ServiceControl& service,
                                      const ServiceWaitClock& clock = SystemWaitClock());

class CheckFixService : public ICheckFix {
 public:
  // Passed when the entry's service is running.
  int32_t CheckEntry(ConfigEntry& entry) override;
  // Passed when it was started, or needed no start.
  int32_t FixEntry(ConfigEntry& entry) override;
};

}  // namespace Zentrovak::Assistant
