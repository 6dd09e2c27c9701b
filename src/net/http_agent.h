// The HTTP agent: one session, at most one open connection that is reused
// while requests go to the same host and port, synchronous GETs into
// memory or into a file.
//
// Overlapping requests from several threads are kept apart by one lock per
// request around the agent's own members: resolving the URL, replacing the
// connection, `currentPath` and `requestFlags`, and opening the request on
// the connection happen under `stateMutex_`. The transfer itself (send,
// receive, body) runs outside the lock on the request's own handle, which
// keeps its connection alive; so a request that hangs (a probe abandoned at
// its time limit, a server that stalls) never blocks the requests after it,
// and an abandoned request that takes the lock again leaves the members
// alone. A request made on a bounded worker's thread is cancelled when the
// worker is abandoned: libcurl stops at once, WinHTTP at its next call.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "net/bounded_worker.h"
#include "net/http_backend.h"
#include "platform/errors.h"

namespace Zentrovak::Network {

// Notices of a download: kind 0 failed after the response (a: HRESULT),
// 1 status of 400 or more (a: status), 2 a block was written (a: bytes so
// far; an answer of 0 stops the download), 3 ended successfully (a: bytes).
// b is the declared length, 0 when absent.
using DownloadNotify = int32_t (*)(void* userValue, int32_t kind, uint32_t a, uint32_t b);

namespace NoticeKind {
inline constexpr int32_t kFailed = 0;
inline constexpr int32_t kHttpError = 1;
inline constexpr int32_t kBlockWritten = 2;
inline constexpr int32_t kFinished = 3;
}  // namespace NoticeKind

class CWinHttpAgent {
 public:
  explicit CWinHttpAgent(std::u16string_view userAgent);
  virtual ~CWinHttpAgent();
  CWinHttpAgent(const CWinHttpAgent&) = delete;
  CWinHttpAgent& operator=(const CWinHttpAgent&) = delete;

  // 0 when the session opened, else the error that kept it shut; requests
  // on an agent without a session fail with that error.
  Platform::Win32Error SessionError() const { return sessionError_; }

  // A GET into `body`; queryText, when given, is sent after a "?". A status
  // of 400 or more leaves `body` as it was and still answers S_OK.
  Platform::HResult Get(std::u16string_view url, std::string_view queryText, std::string& body);
  // A GET streamed into `fileName` in blocks. The file is created only for
  // a status below 400, and removed again when the download fails.
  Platform::HResult Download(std::u16string_view url, std::u16string_view fileName, DownloadNotify notify,
                             void* userValue);

  // Largest body Get keeps in memory; a longer one fails with E_OUTOFMEMORY.
  static constexpr size_t kMaxBodyInMemory = 64u << 20;

  // The members, read under the agent's lock (tests look at them between
  // requests).
  struct State {
    uint32_t requestFlags = 0;
    std::u16string autoConfigUrl;
    std::u16string connectedHost;
    std::u16string currentPath;
    uint16_t connectedPort = 0;
    bool connected = false;
  };
  State Snapshot() const;

 protected:
  virtual void OnSessionOpened(HttpSession& session) {}
  virtual void OnConnected(HttpConnection& connection) {}
  virtual void OnRequestOpened(HttpRequest& request) {}
  virtual bool AcceptStatus(HttpRequest& request, uint32_t status) { return true; }

  void SetSessionProxy(std::u16string_view proxyList, std::u16string_view bypassList,
                       std::u16string_view userName, std::u16string_view password);

 private:
  // One request from its opening to the status of its response.
  struct Exchange {
    CancelSignal* cancel = nullptr;
    std::unique_ptr<HttpRequest> request;
    CancelSignal::Registration watch;  // dropped before the request
    uint32_t status = 0;
    std::u16string address;  // absolute: the one the response came from
  };
  Platform::HResult StartRequest(std::u16string_view url, std::u16string_view queryText, Exchange& exchange);
  // Under the lock: the request object from the agent's members, and the
  // absolute address it asks for.
  Platform::Win32Error OpenRequest(std::u16string_view url, std::u16string_view queryText, CancelSignal* cancel,
                                   std::unique_ptr<HttpRequest>& request, std::u16string& address);
  // Follows the redirects of the response in `exchange` on connections of
  // their own (the agent's connection stays where it was): to http or
  // https, never from https down to http, at most kMaxRedirects. A redirect
  // that is not followed is the response.
  Platform::HResult FollowRedirects(Exchange& exchange);
  Platform::HResult SendAndReceive(std::u16string_view address, Exchange& exchange);
  // Both under stateMutex_.
  Platform::Win32Error ResolveRequestPath(std::u16string_view url, std::u16string& path);
  bool EnsureConnection(const std::u16string& host, uint16_t port);

  static uint32_t QueryNumberHeader(HttpRequest& request, HttpNumberHeader header);
  Platform::HResult ReadBody(HttpRequest& request, CancelSignal* cancel, std::string& body);
  Platform::HResult ReadBodyToFile(HttpRequest& request, std::u16string_view fileName, DownloadNotify notify,
                                   void* userValue, CancelSignal* cancel);

  mutable std::mutex stateMutex_;
  uint32_t requestFlags_ = 0;
  std::u16string autoConfigUrl_;
  std::unique_ptr<HttpSession> session_;
  std::shared_ptr<HttpConnection> connection_;
  std::u16string connectedHost_;
  std::u16string currentPath_;
  uint16_t connectedPort_ = 0;
  Platform::Win32Error sessionError_ = 0;
};

// The agent with the fixed user agent "Mozilla/5.0" and the switch that
// lets requests ignore certificate faults.
class AssistantHttp : public CWinHttpAgent {
 public:
  AssistantHttp();
  std::atomic<int32_t> relaxCertificateChecks{0};

 protected:
  void OnRequestOpened(HttpRequest& request) override;
};

// The one process-wide agent, made on first use. It is never destroyed: an
// abandoned probe may still be inside a request when the process ends.
AssistantHttp& TheAssistantHttp();

}  // namespace Zentrovak::Network
