#include <windows.h>

#include "platform/services.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Platform {

namespace {

using Win32::Wide;

inline void CloseServiceFn(SC_HANDLE h) { ::CloseServiceHandle(h); }
using UniqueServiceHandle = Win32::UniqueResource<SC_HANDLE, nullptr, CloseServiceFn>;

class SystemService : public ServiceControl {
 public:
  SystemService(UniqueServiceHandle manager, UniqueServiceHandle service)
      : manager_(std::move(manager)), service_(std::move(service)) {}

  Win32Error QueryStatus(ServiceStatus& status) override {
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service_.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                sizeof process, &needed))
      return ::GetLastError();
    status.state = process.dwCurrentState;
    status.checkPoint = process.dwCheckPoint;
    status.waitHint = process.dwWaitHint;
    return kErrorSuccess;
  }

  Win32Error Start() override { return ::StartServiceW(service_.get(), 0, nullptr) ? kErrorSuccess : ::GetLastError(); }

  Win32Error Stop() override {
    SERVICE_STATUS status{};
    return ::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status) ? kErrorSuccess : ::GetLastError();
  }

 private:
  UniqueServiceHandle manager_;
  UniqueServiceHandle service_;
};

}  // namespace

Win32Error OpenSystemService(std::u16string_view name, std::unique_ptr<ServiceControl>& out) {
  out.reset();
  UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return ::GetLastError();
  const std::wstring wide = Wide(name);
  UniqueServiceHandle service(::OpenServiceW(manager.get(), wide.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return ::GetLastError();
  out = std::make_unique<SystemService>(std::move(manager), std::move(service));
  return kErrorSuccess;
}

}  // namespace Zentrovak::Platform
