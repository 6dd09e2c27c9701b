// The user-interface thread's message loop.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

namespace Zentrovak::Platform {

// Runs the calling thread's loop while `running` is set and no quit message
// has arrived. win32: GetMessage/TranslateMessage/DispatchMessage. posix: the
// host's event loop, which runs tasks posted to the user-interface thread.
void RunMessageLoop(const std::atomic<bool>& running);

// Posts the quit message. win32 posts it to the calling thread as
// PostQuitMessage does; posix wakes the one event loop of the process.
void PostQuit(int exitCode);

// Whether the quit message was posted and the loop has not ended since.
// Waits that serve the loop end on it: nothing they wait for will come.
bool QuitPosted();

// Serves messages (and, on posix, posted tasks) for at least `milliseconds`,
// returning on time even when nothing arrives.
void PumpMessagesFor(uint32_t milliseconds);

// Runs a task on the thread that runs the message loop. posix: queued on the
// event loop. win32: the dialog marshals page calls itself; this posts a
// thread message that the loop runs.
void PostToMessageLoop(std::function<void()> task);

// The thread running the message loop, once it runs (0 before).
uint32_t MessageLoopThreadId();
uint32_t CurrentThreadId();

// Milliseconds since an arbitrary start, wrapping at 32 bits like
// GetTickCount; differences taken as unsigned are always right.
uint32_t TickCount();

}  // namespace Zentrovak::Platform
