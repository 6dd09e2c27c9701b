// Windows services as the service control manager shows them: a status
// with the pending states' check point and wait hint, a start, a stop.
//
// win32: the service control manager, services opened with full access.
// posix: a stand-in kept in the machine's registry under
// HKLM\SYSTEM\CurrentControlSet\Services\<name>, where Windows keeps its
// services' settings. A key there is a service. Besides Windows' own
// "Start" (4: disabled, so a start answers 1058), the stand-in keeps its
// run state in DWORD values:
//   "CurrentState"    the state (ServiceState); absent: stopped
//   "CheckPoint"      advanced by each status query while a state is pending
//   "WaitHint"        milliseconds, as the service announces them
//   "PendingQueries"  status queries left before a pending state settles
//                     (stop pending: stopped; start and continue pending:
//                     running; pause pending: paused); 0xFFFFFFFF: it never
//                     settles, nor does its check point move
//   "StartQueries"    "PendingQueries" a start begins with (absent: 0, so
//                     the service runs at once)
//   "StartedState"    the state a start settles in (absent: running)
#pragma once
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::Platform {

enum ServiceState : uint32_t {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServiceContinuePending = 5,
  kServicePausePending = 6,
  kServicePaused = 7,
};

struct ServiceStatus {
  uint32_t state = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;  // milliseconds
};

inline constexpr Win32Error kErrorServiceDoesNotExist = 1060;
inline constexpr Win32Error kErrorServiceDisabled = 1058;
inline constexpr Win32Error kErrorServiceAlreadyRunning = 1056;
inline constexpr Win32Error kErrorServiceNotActive = 1062;

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  virtual Win32Error QueryStatus(ServiceStatus& status) = 0;
  // Asks the service to start (no arguments); it may still be pending.
  virtual Win32Error Start() = 0;
  virtual Win32Error Stop() = 0;
};

// Opens the local machine's service of that key name with full access.
Win32Error OpenSystemService(std::u16string_view name, std::unique_ptr<ServiceControl>& out);

}  // namespace Zentrovak::Platform
