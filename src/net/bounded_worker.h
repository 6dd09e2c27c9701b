// A job run on a worker thread of its own and waited for at most a time
// limit. A job that outlives the limit is abandoned, never killed: it runs
// to its end on its own and its answer is dropped. The job sees an
// `abandoned` flag that turns true at that moment, so it can cancel its
// transfer and must not touch shared state afterwards.
//
// HTTP requests made on the worker's thread pick up the worker's cancel
// signal by themselves (see CurrentCancelSignal), so a job that calls
// HttpGetToMemory needs nothing more to have its transfer cancelled when
// the time runs out.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace Zentrovak::Network {

// Raised once, from any thread. Code that blocks can hook its own way of
// stopping into it for as long as it blocks.
class CancelSignal {
 public:
  CancelSignal() = default;
  CancelSignal(const CancelSignal&) = delete;
  CancelSignal& operator=(const CancelSignal&) = delete;

  bool IsRaised() const { return raised_.load(); }
  const std::atomic<bool>& Flag() const { return raised_; }
  // Sets the flag and runs every hook registered at that moment.
  void Raise();

  // Keeps a hook registered while it lives. The hook runs on the raising
  // thread under the signal's lock, so destroying the registration waits
  // for a hook that is running: afterwards nothing the hook uses is touched.
  class Registration {
   public:
    Registration() = default;
    Registration(CancelSignal* signal, uint64_t id) : signal_(signal), id_(id) {}
    ~Registration();
    Registration(Registration&& other) noexcept;
    Registration& operator=(Registration&& other) noexcept;
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

   private:
    void Reset();
    CancelSignal* signal_ = nullptr;
    uint64_t id_ = 0;
  };
  // A hook registered after the signal was raised runs at once.
  Registration OnRaise(std::function<void()> hook);

 private:
  std::atomic<bool> raised_{false};
  std::mutex mutex_;
  std::map<uint64_t, std::function<void()>> hooks_;
  uint64_t nextId_ = 1;
};

// The signal of the bounded job running on the calling thread; null on any
// other thread.
CancelSignal* CurrentCancelSignal();

// Makes `signal` the calling thread's current signal while it lives (tests
// and callers that bound work by other means).
class ScopedCancelSignal {
 public:
  explicit ScopedCancelSignal(CancelSignal* signal);
  ~ScopedCancelSignal();
  ScopedCancelSignal(const ScopedCancelSignal&) = delete;
  ScopedCancelSignal& operator=(const ScopedCancelSignal&) = delete;

 private:
  CancelSignal* previous_;
};

using BoundedJob = std::function<int32_t(const std::atomic<bool>& abandoned)>;

// The job's answer when it ended in time; nothing when the time ran out or
// the thread could not be started.
std::optional<int32_t> RunBounded(BoundedJob job, uint32_t timeoutMs);

}  // namespace Zentrovak::Network
