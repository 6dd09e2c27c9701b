#include "net/bounded_worker.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

namespace Zentrovak::Network {

namespace {

thread_local CancelSignal* currentSignal = nullptr;

// Shared by the waiting caller and the worker; whichever leaves last frees it.
struct BoundedState {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int32_t answer = 0;
  CancelSignal abandoned;
};

}  // namespace

void CancelSignal::Raise() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (raised_.exchange(true)) return;
  for (auto& [id, hook] : hooks_) hook();
}

CancelSignal::Registration CancelSignal::OnRaise(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (raised_.load()) {
    hook();
    return {};
  }
  const uint64_t id = nextId_++;
  hooks_.emplace(id, std::move(hook));
  return Registration(this, id);
}

CancelSignal::Registration::~Registration() { Reset(); }

CancelSignal::Registration::Registration(Registration&& other) noexcept
    : signal_(std::exchange(other.signal_, nullptr)), id_(other.id_) {}

CancelSignal::Registration& CancelSignal::Registration::operator=(Registration&& other) noexcept {
  if (this != &other) {
    Reset();
    signal_ = std::exchange(other.signal_, nullptr);
    id_ = other.id_;
  }
  return *this;
}

void CancelSignal::Registration::Reset() {
  if (!signal_) return;
  std::lock_guard<std::mutex> lock(signal_->mutex_);
  signal_->hooks_.erase(id_);
  signal_ = nullptr;
}

CancelSignal* CurrentCancelSignal() { return currentSignal; }

ScopedCancelSignal::ScopedCancelSignal(CancelSignal* signal) : previous_(currentSignal) {
  currentSignal = signal;
}

ScopedCancelSignal::~ScopedCancelSignal() { currentSignal = previous_; }

std::optional<int32_t> RunBounded(BoundedJob job, uint32_t timeoutMs) {
  auto state = std::make_shared<BoundedState>();
  try {
    std::thread([state, job = std::move(job)] {
      int32_t answer;
      {
        ScopedCancelSignal scope(&state->abandoned);
        answer = job(state->abandoned.Flag());
      }
      std::lock_guard<std::mutex> lock(state->mutex);
      state->answer = answer;
      state->finished = true;
      state->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  {
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return state->finished; }))
      return state->answer;
  }
  // Raised outside the state's lock: the hooks may take locks of their own
  // that the worker holds while it finishes.
  state->abandoned.Raise();
  return std::nullopt;
}

}  // namespace Zentrovak::Network
