// Services of the posix machine: records in its registry that start, stop
// and pass through pending states the way the service control manager
// reports them (see platform/services.h).
#include "platform/registry.h"
#include "platform/services.h"

namespace Zentrovak::Platform {

namespace {

constexpr char16_t kServicesKey[] = u"SYSTEM\\CurrentControlSet\\Services\\";
constexpr uint32_t kNeverSettles = 0xFFFFFFFFu;
constexpr uint32_t kStartDisabled = 4;
constexpr Win32Error kErrorInvalidName = 123;

uint32_t ReadOr(const RegistryKey& key, std::u16string_view name, uint32_t fallback) {
  uint32_t value = 0;
  return key.ReadDword(name, value) == kErrorSuccess ? value : fallback;
}

bool IsPending(uint32_t state) {
  return state == kServiceStartPending || state == kServiceStopPending || state == kServiceContinuePending ||
         state == kServicePausePending;
}

uint32_t SettledState(uint32_t pending, const RegistryKey& key) {
  switch (pending) {
    case kServiceStopPending: return kServiceStopped;
    case kServicePausePending: return kServicePaused;
    case kServiceStartPending: return ReadOr(key, u"StartedState", kServiceRunning);
    default: return kServiceRunning;
  }
}

class MachineService : public ServiceControl {
 public:
  explicit MachineService(RegistryKey key) : key_(std::move(key)) {}

  Win32Error QueryStatus(ServiceStatus& status) override {
    status.state = ReadOr(key_, u"CurrentState", kServiceStopped);
    status.checkPoint = ReadOr(key_, u"CheckPoint", 0);
    status.waitHint = ReadOr(key_, u"WaitHint", 0);
    if (!IsPending(status.state)) return kErrorSuccess;
    const uint32_t left = ReadOr(key_, u"PendingQueries", 0);
    if (left == kNeverSettles) return kErrorSuccess;
    if (left == 0) {
      status.state = SettledState(status.state, key_);
      status.checkPoint = 0;
      return Settle(status.state);
    }
    ++status.checkPoint;
    if (Win32Error e = key_.WriteDword(u"PendingQueries", left - 1)) return e;
    return key_.WriteDword(u"CheckPoint", status.checkPoint);
  }

  Win32Error Start() override {
    if (ReadOr(key_, u"Start", 3) == kStartDisabled) return kErrorServiceDisabled;
    if (ReadOr(key_, u"CurrentState", kServiceStopped) != kServiceStopped) return kErrorServiceAlreadyRunning;
    const uint32_t queries = ReadOr(key_, u"StartQueries", 0);
    if (queries == 0) return Settle(SettledState(kServiceStartPending, key_));
    if (Win32Error e = key_.WriteDword(u"PendingQueries", queries)) return e;
    if (Win32Error e = key_.WriteDword(u"CheckPoint", 0)) return e;
    return key_.WriteDword(u"CurrentState", kServiceStartPending);
  }

  Win32Error Stop() override {
    if (ReadOr(key_, u"CurrentState", kServiceStopped) == kServiceStopped) return kErrorServiceNotActive;
    return Settle(kServiceStopped);
  }

 private:
  Win32Error Settle(uint32_t state) {
    if (Win32Error e = key_.WriteDword(u"CheckPoint", 0)) return e;
    if (Win32Error e = key_.WriteDword(u"PendingQueries", 0)) return e;
    return key_.WriteDword(u"CurrentState", state);
  }

  RegistryKey key_;
};

}  // namespace

Win32Error OpenSystemService(std::u16string_view name, std::unique_ptr<ServiceControl>& out) {
  out.reset();
  if (name.empty() || name.size() > 256 || name.find(u'\\') != std::u16string_view::npos ||
      name.find(u'/') != std::u16string_view::npos)
    return kErrorInvalidName;
  RegistryKey key;
  const Win32Error e = RegistryKey::Open(kHkeyLocalMachine, std::u16string(kServicesKey) + std::u16string(name),
                                         RegAccess::ReadWrite, RegView::Default, key);
  if (e == 2) return kErrorServiceDoesNotExist;
  if (e) return e;
  out = std::make_unique<MachineService>(std::move(key));
  return kErrorSuccess;
}

}  // namespace Zentrovak::Platform
