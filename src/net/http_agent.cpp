#include "net/http_agent.h"

#include <algorithm>
#include <vector>

#include "net/bounded_worker.h"
#include "net/url_reference.h"
#include "platform/files.h"
#include "platform/text.h"

namespace Zentrovak::Network {

using Platform::HResult;
using Platform::HResultFromWin32;
using Platform::Win32Error;

namespace {

constexpr uint32_t kBlockSize = 64 * 1024;

// Stops the request's blocking operations when the signal is raised, for
// as long as it lives; declared after the request so it goes first.
CancelSignal::Registration WatchCancel(CancelSignal* cancel, HttpRequest& request) {
  if (!cancel) return {};
  return cancel->OnRaise([&request] { request.Cancel(); });
}

bool Raised(const CancelSignal* cancel) { return cancel && cancel->IsRaised(); }

}  // namespace

CWinHttpAgent::CWinHttpAgent(std::u16string_view userAgent) {
  // The user's proxy goes into the session as it is opened rather than as an
  // option afterwards: the same on Windows, and Wine honours only this way.
  // The setting for automatic detection is not used.
  UserProxyConfig config;
  if (!GetIEProxyConfigForCurrentUser(config)) config = {};
  sessionError_ = OpenHttpSession(userAgent, config.proxy, config.bypass, session_);
  if (sessionError_ != 0 || !session_) {
    if (sessionError_ == 0) sessionError_ = HttpError::kInternalError;
    session_.reset();
    return;
  }
  OnSessionOpened(*session_);
  autoConfigUrl_ = config.autoConfigUrl;
}

CWinHttpAgent::~CWinHttpAgent() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  connection_.reset();
  session_.reset();
}

CWinHttpAgent::State CWinHttpAgent::Snapshot() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  State state;
  state.requestFlags = requestFlags_;
  state.autoConfigUrl = autoConfigUrl_;
  state.connectedHost = connectedHost_;
  state.currentPath = currentPath_;
  state.connectedPort = connectedPort_;
  state.connected = connection_ != nullptr;
  return state;
}

void CWinHttpAgent::SetSessionProxy(std::u16string_view proxyList, std::u16string_view bypassList,
                                    std::u16string_view userName, std::u16string_view password) {
  if (!session_) return;
  session_->SetProxy(proxyList, bypassList);
  if (!userName.empty() || !password.empty()) session_->SetProxyCredentials(userName, password);
}

Win32Error CWinHttpAgent::ResolveRequestPath(std::u16string_view url, std::u16string& path) {
  if (!Platform::AsciiStartsWithIgnoreCase(url, u"http://") && !Platform::AsciiStartsWithIgnoreCase(url, u"https://")) {
    path = currentPath_ + std::u16string(url);
    return 0;
  }
  CrackedUrl parts;
  if (Win32Error error = CrackUrl(url, parts)) return error;
  // A fragment never leaves the client, and a "?" inside it starts no
  // query. Crackers differ on where the extra part begins when both
  // appear, so the two parts are joined and cut here.
  const std::u16string joined = parts.path + parts.extra;
  const std::u16string rest = joined.substr(0, joined.find(u'#'));
  const size_t query = rest.find(u'?');
  path = rest.substr(0, query);
  if (EnsureConnection(parts.host, parts.port)) {
    currentPath_ = path;
    requestFlags_ = parts.secure ? kWinHttpFlagSecure : 0;
  }
  if (query != std::u16string::npos) path += rest.substr(query);
  return 0;
}

bool CWinHttpAgent::EnsureConnection(const std::u16string& host, uint16_t port) {
  if (connection_ && connectedHost_ == host && connectedPort_ == port) return true;
  connection_.reset();
  currentPath_.clear();
  std::shared_ptr<HttpConnection> connection;
  if (session_->Connect(host, port, connection) != 0 || !connection) {
    connectedHost_.clear();
    connectedPort_ = 0;
    return false;
  }
  connection_ = std::move(connection);
  OnConnected(*connection_);
  connectedHost_ = host;
  connectedPort_ = port;
  return true;
}

Win32Error CWinHttpAgent::OpenRequest(std::u16string_view url, std::u16string_view queryText, CancelSignal* cancel,
                                      std::unique_ptr<HttpRequest>& request, std::u16string& address) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  // An abandoned request leaves the members to the requests after it.
  if (Raised(cancel)) return HttpError::kOperationCancelled;
  if (!session_) return sessionError_;
  std::u16string path;
  if (Win32Error error = ResolveRequestPath(url, path)) return error;
  if (!queryText.empty()) {
    path += path.find(u'?') == std::u16string::npos ? u"?" : u"&";
    path += queryText;
  }
  // Without a connection there is no request, and the send fails on it.
  if (!connection_ || connection_->OpenRequest(path, requestFlags_, request) != 0 || !request) {
    request.reset();
    return Platform::kErrorInvalidHandle;
  }
  address = (requestFlags_ & kWinHttpFlagSecure ? u"https://" : u"http://") + connectedHost_ + u":" +
            Platform::ToU16(connectedPort_) + path;
  return 0;
}

uint32_t CWinHttpAgent::QueryNumberHeader(HttpRequest& request, HttpNumberHeader header) {
  uint32_t value = 0;
  return request.QueryNumberHeader(header, value) == 0 ? value : 0;
}

HResult CWinHttpAgent::StartRequest(std::u16string_view url, std::u16string_view queryText, Exchange& exchange) {
  exchange.cancel = CurrentCancelSignal();
  if (Win32Error error = OpenRequest(url, queryText, exchange.cancel, exchange.request, exchange.address))
    return HResultFromWin32(error);
  if (HResult result = SendAndReceive(url, exchange); Platform::Failed(result)) return result;
  return FollowRedirects(exchange);
}

HResult CWinHttpAgent::SendAndReceive(std::u16string_view address, Exchange& exchange) {
  HttpRequest& request = *exchange.request;
  exchange.watch = WatchCancel(exchange.cancel, request);
  // The automatic-configuration script may have to be fetched: outside the
  // lock, like the transfer, and already under the cancel watch.
  if (!autoConfigUrl_.empty()) request.ApplyAutoProxy(address, autoConfigUrl_);
  OnRequestOpened(request);
  if (Win32Error error = request.SendRequest()) return HResultFromWin32(error);
  if (Win32Error error = request.ReceiveResponse()) return HResultFromWin32(error);
  if (Raised(exchange.cancel)) return HResultFromWin32(HttpError::kOperationCancelled);
  exchange.status = QueryNumberHeader(request, HttpNumberHeader::StatusCode);
  return Platform::kSOk;
}

HResult CWinHttpAgent::FollowRedirects(Exchange& exchange) {
  for (int followed = 0;; ++followed) {
    const uint32_t status = exchange.status;
    if (status < 300 || status > 399 || status == 304) return Platform::kSOk;
    std::u16string location;
    if (exchange.request->QueryLocation(location) != 0) return Platform::kSOk;
    const std::u16string target = ResolveReference(exchange.address, location);
    if (!MayFollowRedirect(exchange.address, target)) return Platform::kSOk;
    if (followed == kMaxRedirects) return HResultFromWin32(HttpError::kRedirectFailed);
    CrackedUrl parts;
    if (Win32Error error = CrackUrl(target, parts)) return HResultFromWin32(error);
    const std::u16string joined = parts.path + parts.extra;
    std::unique_ptr<HttpRequest> next;
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      std::shared_ptr<HttpConnection> connection;
      if (!session_) return HResultFromWin32(sessionError_);
      if (Win32Error error = session_->Connect(parts.host, parts.port, connection)) return HResultFromWin32(error);
      OnConnected(*connection);
      if (Win32Error error = connection->OpenRequest(joined.substr(0, joined.find(u'#')),
                                                     parts.secure ? kWinHttpFlagSecure : 0, next))
        return HResultFromWin32(error);
    }
    exchange.watch = {};
    exchange.request = std::move(next);
    exchange.address = target;
    if (HResult result = SendAndReceive(target, exchange); Platform::Failed(result)) return result;
  }
}

HResult CWinHttpAgent::Get(std::u16string_view url, std::string_view queryText, std::string& body) {
  Exchange exchange;
  const HResult result = StartRequest(url, Platform::Utf8ToUtf16(queryText), exchange);
  if (Platform::Failed(result)) return result;
  if (AcceptStatus(*exchange.request, exchange.status) && exchange.status < 400) {
    std::string received;
    if (const HResult read = ReadBody(*exchange.request, exchange.cancel, received); Platform::Failed(read)) return read;
    body = std::move(received);
  }
  return result;
}

HResult CWinHttpAgent::ReadBody(HttpRequest& request, CancelSignal* cancel, std::string& body) {
  std::vector<char> block(kBlockSize);
  for (;;) {
    uint32_t available = 0;
    if (request.QueryDataAvailable(available) != 0 || available == 0) break;
    while (available > 0) {
      uint32_t read = 0;
      if (request.ReadData(block.data(), std::min(available, kBlockSize), read) != 0 || read == 0) {
        available = 0;
        break;
      }
      if (body.size() + read > kMaxBodyInMemory) return Platform::kEOutOfMemory;
      body.append(block.data(), read);
      available -= read;
    }
    if (Raised(cancel)) return HResultFromWin32(HttpError::kOperationCancelled);
  }
  return Raised(cancel) ? HResultFromWin32(HttpError::kOperationCancelled) : Platform::kSOk;
}

HResult CWinHttpAgent::Download(std::u16string_view url, std::u16string_view fileName, DownloadNotify notify,
                                void* userValue) {
  Exchange exchange;
  HResult result = StartRequest(url, {}, exchange);
  if (Platform::Failed(result)) return result;
  if (AcceptStatus(*exchange.request, exchange.status)) {
    if (exchange.status < 400)
      result = ReadBodyToFile(*exchange.request, fileName, notify, userValue, exchange.cancel);
    else if (notify)
      notify(userValue, NoticeKind::kHttpError, exchange.status, 0);
  }
  return result;
}

HResult CWinHttpAgent::ReadBodyToFile(HttpRequest& request, std::u16string_view fileName, DownloadNotify notify,
                                      void* userValue, CancelSignal* cancel) {
  const uint32_t declared = QueryNumberHeader(request, HttpNumberHeader::ContentLength);
  Platform::FileStream file;
  if (Win32Error error = file.Open(fileName, Platform::FileStream::Mode::CreateAlways)) return HResultFromWin32(error);

  std::vector<char> block(kBlockSize);
  uint64_t written = 0;
  bool broken = false;  // the transfer failed, was cancelled or was stopped
  Win32Error writeError = 0;
  while (!broken && writeError == 0) {
    uint32_t available = 0;
    if (request.QueryDataAvailable(available) != 0) {
      broken = true;
      break;
    }
    if (available == 0) break;
    while (available > 0) {
      uint32_t read = 0;
      if (request.ReadData(block.data(), std::min(available, kBlockSize), read) != 0) {
        broken = true;
        break;
      }
      if (read == 0) break;
      if ((writeError = file.Write(block.data(), read)) != 0) break;
      written += read;
      available -= read;
      if (notify && notify(userValue, NoticeKind::kBlockWritten, static_cast<uint32_t>(written), declared) == 0) {
        broken = true;
        break;
      }
    }
    if (Raised(cancel)) broken = true;
  }
  file.Close();

  HResult result = Platform::kSOk;
  if (writeError != 0) result = HResultFromWin32(writeError);
  else if (broken || (declared != 0 && written != declared)) result = Platform::kEFail;
  // A file cut short must not pass for the whole download.
  if (Platform::Failed(result)) Platform::RemoveFile(fileName);
  if (notify) {
    if (Platform::Failed(result))
      notify(userValue, NoticeKind::kFailed, static_cast<uint32_t>(result), declared);
    else
      notify(userValue, NoticeKind::kFinished, static_cast<uint32_t>(written), declared);
  }
  return result;
}

AssistantHttp::AssistantHttp() : CWinHttpAgent(u"Mozilla/5.0") {}

void AssistantHttp::OnRequestOpened(HttpRequest& request) {
  if (!relaxCertificateChecks.load()) return;
  uint32_t flags = 0;
  if (request.QuerySecurityFlags(flags) == 0)
    request.SetSecurityFlags(flags | kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreCertCnInvalid |
                             kIgnoreCertDateInvalid);
}

AssistantHttp& TheAssistantHttp() {
  static AssistantHttp* agent = new AssistantHttp();
  return *agent;
}

}  // namespace Zentrovak::Network
