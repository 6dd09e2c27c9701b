#include "ui/script_jobs.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/com_apartment.h"

namespace Zentrovak::UI {

namespace {

// The asyncallc queue and its worker. Never destroyed: jobs may still run
// while the process ends.
struct AsyncWorkQueue {
  std::mutex lock;
  std::deque<ExternalAsyncThread*> jobs;
  bool workerRunning = false;
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
  try {
    std::thread(RunAndDestroy, job).detach();
  } catch (...) {
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
