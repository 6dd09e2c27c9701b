#include "app/single_instance.h"

#include "platform/message_loop.h"
#include "platform/process.h"

namespace Zentrovak::App {

using Platform::HResult;

void SynchronizationObject::close() {
  if (handle_ != Platform::kNoHandle) Platform::CloseKernelHandle(handle_);
  handle_ = Platform::kNoHandle;
}

void SynchronizationObject::attach(Platform::KernelHandle handle) {
  close();
  handle_ = handle;
}

HResult SynchronizationObject::take_created(const Platform::CreatedKernelObject& created) {
  if (created.handle == Platform::kNoHandle) {
    if (created.lastError == Platform::kErrorInvalidHandle) return Platform::kEInvalidArg;
    // A failed creation always leaves an error; keep the result negative
    // even if the system forgot to set one.
    return created.lastError ? Platform::HResultFromWin32(created.lastError) : Platform::kEFail;
  }
  attach(created.handle);
  return created.lastError == Platform::kErrorAlreadyExists ? 1 : 0;
}

HResult Mutex::create(std::u16string_view name, bool initialOwner) {
  return take_created(Platform::CreateNamedMutex(name, initialOwner));
}

namespace {
Mutex& SingleInstanceMutex() {
  static Mutex mutex;
  return mutex;
}
}  // namespace

HResult acquire_single_instance(std::u16string_view name) {
  Mutex& mutex = SingleInstanceMutex();
  const HResult result = mutex.create(name, true);
  if (result == 1) {
    mutex.close();
    return kAlreadyRunning;
  }
  return result;
}

void release_single_instance() { SingleInstanceMutex().close(); }

std::atomic<bool>& ApplicationRunning() {
  static std::atomic<bool> running{false};
  return running;
}

int run_message_loop() {
  Platform::RunMessageLoop(ApplicationRunning());
  return 1;
}

void quit_application() {
  release_single_instance();
  Platform::PostQuit(0);
  ApplicationRunning() = false;
}

void restart_application() {
  release_single_instance();
  // A failed start still ends this instance.
  Platform::StartNewInstance();
  Platform::PostQuit(0);
  ApplicationRunning() = false;
  // check_update restarts from a worker thread, whose quit message the
  // loop never sees: a message to the loop makes it look at the flag now.
  Platform::PostToMessageLoop([] {});
}

void allow_window_message(uint32_t message, Platform::WindowHandle window) {
  Platform::AllowWindowMessage(message, window);
}

}  // namespace Zentrovak::App
