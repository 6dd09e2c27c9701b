#include "ui/script_jobs.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/com_apartment.h"

namespace Zentrovak::UI {

namespace {

// At most this many asyncalld jobs run at once, each on a thread of its
// own; later ones wait for a thread. A page that starts thousands of calls
// that wait (for the page, for a server) must not make thousands of threads.
constexpr int kMaxDedicatedThreads = 16;

// The asyncallc queue and its worker, and the asyncalld jobs waiting for a
// thread. Never destroyed: jobs may still run while the process ends.
struct AsyncWorkQueue {
  std::mutex lock;
  std::deque<ExternalAsyncThread*> jobs;
  bool workerRunning = false;
  std::deque<ExternalAsyncThread*> waitingForThread;
  int dedicatedThreads = 0;
  int unfinished = 0;  // queued, running or on their own threads
  std::condition_variable allDone;
};

AsyncWorkQueue& Queue() {
  static auto* queue = new AsyncWorkQueue;
  return *queue;
}

void JobFinished() {
  AsyncWorkQueue& q = Queue();
  std::lock_guard<std::mutex> hold(q.lock);
  if (--q.unfinished == 0) q.allDone.notify_all();
}

void RunAndDestroy(ExternalAsyncThread* job) {
  job->Run();
  job->Destroy();
  JobFinished();
}

void SharedWorker() {
  Platform::ComApartmentScope com(Platform::ApartmentKind::Worker);
  AsyncWorkQueue& q = Queue();
  for (;;) {
    ExternalAsyncThread* job = nullptr;
    {
      std::lock_guard<std::mutex> hold(q.lock);
      if (q.jobs.empty()) {
        // Decided under the same hold as the check, so a job queued after
        // this starts a new worker.
        q.workerRunning = false;
        return;
      }
      job = q.jobs.front();
      q.jobs.pop_front();
    }
    RunAndDestroy(job);
  }
}

// A thread of the asyncalld jobs: runs its job, then the next one waiting,
// if any. Commands may use COM (the zone checks do).
void DedicatedWorker(ExternalAsyncThread* job) {
  Platform::ComApartmentScope com(Platform::ApartmentKind::Worker);
  AsyncWorkQueue& q = Queue();
  while (job) {
    RunAndDestroy(job);
    std::lock_guard<std::mutex> hold(q.lock);
    job = nullptr;
    if (!q.waitingForThread.empty()) {
      job = q.waitingForThread.front();
      q.waitingForThread.pop_front();
    } else {
      --q.dedicatedThreads;
    }
  }
}

}  // namespace

ExternalAsyncThread::ExternalAsyncThread(bool queuedJob, std::shared_ptr<IScriptHost> host, const Variant& cb,
                                         const Variant& n, const Variant& v1, const Variant& v2, const Variant& v3,
                                         const Variant& v4)
    : queued(queuedJob),
      dialog(std::move(host)),
      callback(cb.IsDispatch() ? cb.AsDispatch() : nullptr),
      name(n), a1(v1), a2(v2), a3(v3), a4(v4) {}

void ExternalAsyncThread::Run() {
  Variant result;
  if (dialog) dialog->RunCommand(result, name, a1, a2, a3, a4);
  if (dialog && callback) dialog->CompleteCall(callback, result);
}

void StartJob(ExternalAsyncThread* job) {
  if (!job) return;
  AsyncWorkQueue& q = Queue();
  std::unique_lock<std::mutex> hold(q.lock);
  ++q.unfinished;
  if (job->queued) {
    q.jobs.push_back(job);
    if (q.workerRunning) return;
    try {
      std::thread(SharedWorker).detach();
      q.workerRunning = true;
    } catch (...) {
      // No thread: the job stays queued and the next one tries again.
    }
    return;
  }
  if (q.dedicatedThreads >= kMaxDedicatedThreads) {
    q.waitingForThread.push_back(job);
    return;
  }
  try {
    std::thread(DedicatedWorker, job).detach();
    ++q.dedicatedThreads;
  } catch (...) {
    // No thread now: the job waits for one that ends, or for the next start.
    if (q.dedicatedThreads > 0) {
      q.waitingForThread.push_back(job);
      return;
    }
    --q.unfinished;
    hold.unlock();
    job->Destroy();
  }
}

int RunningJobs() {
  AsyncWorkQueue& q = Queue();
  std::lock_guard<std::mutex> hold(q.lock);
  return q.unfinished;
}

bool WaitForJobs(uint32_t milliseconds) {
  AsyncWorkQueue& q = Queue();
  std::unique_lock<std::mutex> hold(q.lock);
  return q.allDone.wait_for(hold, std::chrono::milliseconds(milliseconds), [&] { return q.unfinished == 0; });
}

}  // namespace Zentrovak::UI
