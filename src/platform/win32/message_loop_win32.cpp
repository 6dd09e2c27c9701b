#include <windows.h>

#include <atomic>
#include <memory>

#include "platform/message_loop.h"

namespace Zentrovak::Platform {

namespace {

// A thread message that carries a task for the loop's thread.
constexpr UINT kRunTaskMessage = WM_APP + 0x31;
std::atomic<DWORD> loopThread{0};

bool RunIfTask(const MSG& msg) {
  if (msg.hwnd != nullptr || msg.message != kRunTaskMessage) return false;
  std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(msg.lParam));
  if (task && *task) (*task)();
  return true;
}

}  // namespace

namespace {
std::atomic<bool> quitPosted{false};
}  // namespace

void RunMessageLoop(const std::atomic<bool>& running) {
  loopThread = ::GetCurrentThreadId();
  MSG msg;
  while (running.load()) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) continue;
    if (got == 0) break;
    if (RunIfTask(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  quitPosted = false;  // a later loop in the same process starts afresh
}

void PostQuit(int exitCode) {
  quitPosted = true;
  ::PostQuitMessage(exitCode);
}

bool QuitPosted() { return quitPosted.load(); }

void PumpMessagesFor(uint32_t milliseconds) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= milliseconds) return;
    // Wait for input no longer than the time that is left.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the main loop
        return;
      }
      if (RunIfTask(msg)) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

void PostToMessageLoop(std::function<void()> task) {
  auto* boxed = new std::function<void()>(std::move(task));
  const DWORD thread = loopThread.load() ? loopThread.load() : ::GetCurrentThreadId();
  if (!::PostThreadMessageW(thread, kRunTaskMessage, 0, reinterpret_cast<LPARAM>(boxed))) delete boxed;
}

uint32_t MessageLoopThreadId() { return loopThread.load(); }
uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }
uint32_t TickCount() { return ::GetTickCount(); }

}  // namespace Zentrovak::Platform
