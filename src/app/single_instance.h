// One instance per desktop session, the message loop, quit and restart.
#pragma once
#include <atomic>
#include <cstdint>
#include <string_view>

#include "platform/errors.h"
#include "platform/kernel_object.h"
#include "platform/window.h"

namespace Zentrovak::App {

inline constexpr char16_t kSingleInstanceName[] = u"{CD6857CA-84D5-41D8-907C-AECE0DE62FE7}";
inline constexpr Platform::HResult kAlreadyRunning = static_cast<Platform::HResult>(0x800700B7u);

// Owner of one kernel object handle.
class SynchronizationObject {
 public:
  SynchronizationObject() = default;
  virtual ~SynchronizationObject() { close(); }
  SynchronizationObject(const SynchronizationObject&) = delete;
  SynchronizationObject& operator=(const SynchronizationObject&) = delete;

  void close();
  void attach(Platform::KernelHandle handle);
  // Takes what a creation call gave: none with error 6 is E_INVALIDARG,
  // none otherwise the error as an HRESULT; a handle is kept and the result
  // is 1 when the name already existed (183), else 0.
  Platform::HResult take_created(const Platform::CreatedKernelObject& created);
  Platform::KernelHandle handle() const { return handle_; }

 protected:
  Platform::KernelHandle handle_ = Platform::kNoHandle;
};

class Mutex : public SynchronizationObject {
 public:
  Platform::HResult create(std::u16string_view name, bool initialOwner);
};

// 0: the only instance; 0x800700B7: another instance holds the name (the
// handle is closed again); another HRESULT on failure.
Platform::HResult acquire_single_instance(std::u16string_view name);
void release_single_instance();

// The running flag of the application: set at start-up, cleared by quit
// and restart; the message loop runs while it is set.
std::atomic<bool>& ApplicationRunning();
int run_message_loop();
void quit_application();
void restart_application();
void allow_window_message(uint32_t message, Platform::WindowHandle window);

}  // namespace Zentrovak::App
