#include "net/bounded_worker.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace Zentrovak::Network {

namespace {
// Shared by the waiting caller and the worker; whichever leaves last frees it.
struct BoundedState {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int32_t answer = 0;
  std::atomic<bool> abandoned{false};
};
}  // namespace

std::optional<int32_t> RunBounded(BoundedJob job, uint32_t timeoutMs) {
  auto state = std::make_shared<BoundedState>();
  try {
    std::thread([state, job = std::move(job)] {
      const int32_t answer = job(state->abandoned);
      std::lock_guard<std::mutex> lock(state->mutex);
      state->answer = answer;
      state->finished = true;
      state->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  std::unique_lock<std::mutex> lock(state->mutex);
  if (state->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return state->finished; }))
    return state->answer;
  state->abandoned = true;
  return std::nullopt;
}

}  // namespace Zentrovak::Network
