// The event loop of the posix host: one queue of tasks served by the thread
// that runs the loop. The bridge server's threads post page work here, as
// the Windows host posts it to the dialog's thread.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/message_loop.h"

namespace Zentrovak::Platform {

namespace {

struct EventLoop {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> tasks;
  bool quit = false;
  std::atomic<uint32_t> threadId{0};
};

EventLoop& Loop() {
  static EventLoop loop;
  return loop;
}

// Runs queued tasks until the deadline, the quit message, or (without a
// deadline) forever. Answers false once quit was posted.
bool Serve(const std::atomic<bool>* running, std::chrono::steady_clock::time_point* deadline) {
  EventLoop& loop = Loop();
  std::unique_lock<std::mutex> lock(loop.mutex);
  for (;;) {
    if (loop.quit) return false;
    if (running && !running->load()) return false;
    if (!loop.tasks.empty()) {
      auto task = std::move(loop.tasks.front());
      loop.tasks.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    if (deadline) {
      if (loop.wake.wait_until(lock, *deadline) == std::cv_status::timeout && loop.tasks.empty())
        return true;
    } else {
      // The running flag may be cleared from another thread without a post.
      loop.wake.wait_for(lock, std::chrono::milliseconds(100));
    }
  }
}

}  // namespace

void RunMessageLoop(const std::atomic<bool>& running) {
  EventLoop& loop = Loop();
  loop.threadId = CurrentThreadId();
  Serve(&running, nullptr);
  std::lock_guard<std::mutex> lock(loop.mutex);
  loop.quit = false;  // a later loop in the same process starts afresh
  loop.tasks.clear();
}

void PostQuit(int) {
  EventLoop& loop = Loop();
  std::lock_guard<std::mutex> lock(loop.mutex);
  loop.quit = true;
  loop.wake.notify_all();
}

bool QuitPosted() {
  EventLoop& loop = Loop();
  std::lock_guard<std::mutex> lock(loop.mutex);
  return loop.quit;
}

void PumpMessagesFor(uint32_t milliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (CurrentThreadId() == Loop().threadId.load()) {
    Serve(nullptr, &deadline);
  } else {
    std::this_thread::sleep_until(deadline);
  }
}

void PostToMessageLoop(std::function<void()> task) {
  EventLoop& loop = Loop();
  std::lock_guard<std::mutex> lock(loop.mutex);
  loop.tasks.push_back(std::move(task));
  loop.wake.notify_all();
}

uint32_t MessageLoopThreadId() { return Loop().threadId.load(); }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

uint32_t TickCount() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

}  // namespace Zentrovak::Platform
