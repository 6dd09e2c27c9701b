// The posix dialog: the page runs in a browser window and reaches the
// program through a loopback bridge server. The server listens on
// 127.0.0.1 on a port of the system's choosing and answers only requests
// that carry the run's secret (a cookie set by the first address, or the
// header X-Zentrovak-Secret), name the server itself as Host, and come from
// its own origin when they name one. It serves the page set with a shim
// that gives the page window.external; program-to-page calls travel on an
// event stream, or in the answer of a pending synchronous callc when the
// page's script is blocked in one.
//
// One concern per file: page_server (the connections, the reading of
// requests and their limits), page_dialog.cpp (start, admission, routes,
// the dialog interface), page_site.cpp (the pages served), page_stream.cpp
// (the event stream), page_calls.cpp (the calls in both directions and
// their waits), async_call_order (the order of the asynchronous calls).
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "ui/bs_dialog_host.h"
#include "ui/posix/async_call_order.h"
#include "ui/posix/page_server.h"
#include "ui/resources.h"
#include "ui/script_jobs.h"

namespace Zentrovak::UI::Posix {

// Where the pages come from: the program's resources, or a test's own set.
struct PageSource {
  std::function<std::optional<ResourceData>(uint32_t id)> html;
  std::function<std::optional<ResourceData>(std::string_view relativeName)> file;
};
PageSource ResourcePageSource();

class CPageDialog : public IBSDialog, public IScriptHost, public std::enable_shared_from_this<CPageDialog> {
 public:
  // How long the page may be gone (closed, or between a reload's two
  // documents) before the dialog counts as closed.
  static constexpr int kPageGoneMilliseconds = 3000;
  // How long after the start address was fetched a page has to ask for the
  // start page, the site or the bridge before the window counts as closed.
  static constexpr int kFollowUpMilliseconds = 10000;
  // Program-to-page operations queued on the event stream at most; past it
  // an operation fails (the page has stopped reading its stream).
  static constexpr size_t kMaxQueuedEvents = 4096;
  // Asynchronous calls queued or running at most; a page's call past it is
  // refused.
  static constexpr int kMaxWaitingJobs = 4096;

  CPageDialog(const BSDialogParams& params, PageSource source);
  ~CPageDialog() override;

  // Starts the server; false when it cannot listen.
  bool Start();
  // The first address (it carries the secret), the origin, the secret.
  std::string StartAddress() const;
  std::string Origin() const;
  const std::string& Secret() const { return secret_; }
  // Tells the page that the program ends, so it closes its window.
  void AnnounceClose() { SendEvent({{"op", "close"}}); }
  // Ends the server and every wait for the page; idempotent.
  void Close();
  bool IsClosed() const { return closed_.load(); }
  // Called on the user-interface thread when the page is gone for good.
  std::function<void()> onPageGone;

  // IBSDialog
  Platform::WindowHandle GetHwnd() override { return this; }
  Platform::HResult Resize(int32_t width, int32_t height) override;
  Platform::HResult CallPageFunction(std::u16string_view name, const Variant* args, int count,
                                     Variant* result) override;
  Platform::HResult SetScriptVariable(std::u16string_view name, const Variant& value) override;
  Platform::HResult GetScriptVariable(std::u16string_view name, Variant* result) override;
  Platform::HResult ExecScript(std::u16string_view script) override;
  Platform::HResult NewScriptObject(std::u16string_view constructorName, std::shared_ptr<ScriptObject>* out,
                                    const std::function<Platform::HResult(ScriptObject*)>& callback) override;

  // IScriptHost
  IBSDialog* Dialog() override { return this; }
  bool RunCommand(Variant& result, const Variant& name, const Variant& a1, const Variant& a2, const Variant& a3,
                  const Variant& a4) override;
  Platform::HResult CompleteCall(const std::shared_ptr<ScriptObject>& callback, const Variant& result) override;

  // A modal box in the page; answers the button.
  int ShowBox(const nlohmann::json& box);
  // Sends one operation to the page and waits for its answer, from any
  // thread.
  Platform::HResult PageOperation(nlohmann::json op, nlohmann::json* answer);

 private:
  struct CallChannel;
  struct EventStream;
  struct WorkerSend;
  std::optional<PageAnswer> Admit(const PageRequest& head) const;
  bool FromOwnDocument(const PageRequest& request) const;
  void Route(PageRequest request, const std::shared_ptr<PageExchange>& exchange);
  void RouteBridgeCall(const PageRequest& request, const std::shared_ptr<PageExchange>& exchange);
  PageAnswer ServeStartPage();
  PageAnswer ServeFile(const std::string& path);
  void ProxyResUrl(const PageRequest& request, const std::shared_ptr<PageExchange>& exchange);
  PageAnswer ServeSiteFile(const std::string& relative);
  void ChooseSite();
  void WatchForFollowUp();
  void ServeEvents(const std::shared_ptr<PageExchange>& exchange);
  bool TakeEvents(const std::shared_ptr<EventStream>& stream, std::string& out);
  void HandleCallc(const nlohmann::json& body, const std::shared_ptr<PageExchange>& exchange);
  void HandleContinue(const nlohmann::json& body, const std::shared_ptr<PageExchange>& exchange);
  PageAnswer HandleAsync(const nlohmann::json& body);
  void ExpireAsyncCalls();
  void WatchAsyncGapsLocked();
  void HandleAnswer(const nlohmann::json& body);
  void HandleNotify(const nlohmann::json& body);
  // Answers the channel's waiting request when it has something for it.
  void Deliver(const std::shared_ptr<CallChannel>& channel);
  // Under mutex_: an answer the page gives to an operation nobody waits
  // for is dropped.
  void KeepAnswerLocked(int64_t id, const nlohmann::json& answer);

  Platform::HResult OperateOnUiThread(nlohmann::json op, nlohmann::json* answer);
  Platform::HResult OperateFromWorker(nlohmann::json op, nlohmann::json* answer);
  void SendForWorker(const nlohmann::json& op, WorkerSend& sending);
  void WaitForFirstDocument();
  bool PumpUntil(const std::function<bool()>& done, std::optional<uint64_t> generation,
                 const std::shared_ptr<EventStream>& pageStream);
  void SendEvent(const nlohmann::json& event);
  bool QueueEventLocked(const nlohmann::json& event);
  void StreamEnded(uint64_t generation);
  Variant Decode(const nlohmann::json& wire);
  std::shared_ptr<ScriptObject> PageObjectFor(int64_t handle);
  std::string ShimScript() const;
  bool OnUiThread() const;

  BSDialogParams params_;
  PageSource source_;
  std::string secret_;
  std::string pageToken_;
  enum class SiteKind { None, Web, Files };
  SiteKind site_ = SiteKind::None;
  std::u16string siteFolder_;  // Files: the page's folder
  std::string siteStart_;      // Files: the page's file name
  std::atomic<bool> followedUp_{false};
  int port_ = 0;
  std::unique_ptr<PageServer> server_;
  uint32_t uiThread_ = 0;
  std::atomic<bool> closed_{false};

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<EventStream> stream_;  // the page's event stream
  uint64_t generation_ = 0;              // counts the page's documents
  bool pageReady_ = false;
  int64_t nextId_ = 1;
  // The operations waiting for the page's answer, with the answer once it
  // came.
  std::map<int64_t, std::optional<nlohmann::json>> answers_;
  // Every synchronous call until the page has its result: an operation sent
  // in a call's answer may be answered after the command has finished.
  std::map<int64_t, std::shared_ptr<CallChannel>> channels_;
  // Pushed and popped by the user-interface thread (under mutex_).
  std::vector<std::shared_ptr<CallChannel>> channelStack_;
  // Asynchronous calls of the page's documents, started in the order each
  // issued them.
  std::mutex asyncMutex_;
  AsyncCallOrder asyncOrder_;
  bool asyncGapWatched_ = false;
};

}  // namespace Zentrovak::UI::Posix
