// The script bridge's asynchronous calls: asyncallc jobs run one after
// another on one shared worker thread, asyncalld jobs each on a thread of
// their own (a bounded number at once; the others wait for a thread);
// either hands its result to the page's callback on the user-interface
// thread. Shared by both hosts.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/errors.h"
#include "ui/bs_dialog.h"
#include "ui/variant.h"

namespace Zentrovak::UI {

// What a dialog offers the bridge's jobs.
class IScriptHost {
 public:
  virtual ~IScriptHost() = default;
  virtual IBSDialog* Dialog() = 0;
  // Runs the dialog's command handler; false (result untouched) without one.
  virtual bool RunCommand(Variant& result, const Variant& name, const Variant& a1, const Variant& a2,
                          const Variant& a3, const Variant& a4) = 0;
  // Calls callback.call(callback, result) on the user-interface thread and
  // waits for it; from any thread.
  virtual Platform::HResult CompleteCall(const std::shared_ptr<ScriptObject>& callback, const Variant& result) = 0;
};

class IThreadParameter {
 public:
  virtual ~IThreadParameter() = default;
  virtual void Run() = 0;
  virtual void Destroy() { delete this; }
};

class ExternalAsyncThread : public IThreadParameter {
 public:
  // `callback` is kept only when it is a script function or object.
  ExternalAsyncThread(bool queued, std::shared_ptr<IScriptHost> dialog, const Variant& callback, const Variant& name,
                      const Variant& a1, const Variant& a2, const Variant& a3, const Variant& a4);
  void Run() override;

  const bool queued;
  // Keeps the dialog object (not its window) alive while the job runs, so
  // a job that outlives the window fails its page calls harmlessly.
  const std::shared_ptr<IScriptHost> dialog;
  const std::shared_ptr<ScriptObject> callback;
  const Variant name, a1, a2, a3, a4;
};

// Queued jobs go to the shared worker, others get a thread each (or wait
// for one); the job is destroyed on the thread that ran it.
void StartJob(ExternalAsyncThread* job);

// Jobs queued or running; used at exit to let them finish.
int RunningJobs();
// Waits up to `milliseconds` for every job to end; true when none is left.
bool WaitForJobs(uint32_t milliseconds);

}  // namespace Zentrovak::UI
