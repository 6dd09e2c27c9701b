// The agent's HTTP stack on Windows: WinHTTP, one handle owner per object.
//
// A synchronous WinHTTP call cannot be interrupted safely from another
// thread: closing the request handle under a running call lets the handle
// value be reused by the next request while the old call still holds it
// (and Wine does not even wake the blocked call). So a cancelled request
// stops at its next call, and a call that hangs ends by WinHTTP's own
// timeouts; the agent keeps such a request away from its shared members.
#include <atomic>
#include <memory>
#include <string>

#include "net/http_backend.h"
#include "net/win32/winhttp_handles.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Network {

using Platform::Win32Error;
using Platform::Win32::Wide;

namespace {

class WinHttpConnection;

class WinHttpRequest : public HttpRequest {
 public:
  WinHttpRequest(std::shared_ptr<WinHttpConnection> connection, Win32::CWinHttpRequest request,
                 std::shared_ptr<Win32::CWinHttpSession> session)
      : connection_(std::move(connection)), request_(std::move(request)), session_(std::move(session)) {}

  Win32Error QuerySecurityFlags(uint32_t& flags) override {
    if (cancelled_) return HttpError::kOperationCancelled;
    DWORD value = 0;
    DWORD size = sizeof value;
    const DWORD error = request_.QueryOption(WINHTTP_OPTION_SECURITY_FLAGS, &value, &size);
    if (error == 0) flags = value;
    return error;
  }
  Win32Error SetSecurityFlags(uint32_t flags) override {
    if (cancelled_) return HttpError::kOperationCancelled;
    DWORD value = flags;
    return request_.SetOption(WINHTTP_OPTION_SECURITY_FLAGS, &value, sizeof value);
  }
  Win32Error ApplyAutoProxy(std::u16string_view url, std::u16string_view autoConfigUrl) override {
    if (cancelled_) return HttpError::kOperationCancelled;
    const std::wstring script = Wide(autoConfigUrl);
    const std::wstring target = Wide(url);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.dwAutoDetectFlags = 0;
    options.lpszAutoConfigUrl = script.c_str();
    options.fAutoLogonIfChallenged = TRUE;
    Win32::ProxyInfo answer;
    const DWORD error = session_->GetProxyForUrl(target.c_str(), &options, &answer.info);
    if (error != 0) return error;
    return request_.SetOption(WINHTTP_OPTION_PROXY, &answer.info, sizeof answer.info);
  }
  Win32Error SendRequest() override {
    if (cancelled_) return HttpError::kOperationCancelled;
    return request_.SendRequest(WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
  }
  Win32Error ReceiveResponse() override {
    if (cancelled_) return HttpError::kOperationCancelled;
    return request_.ReceiveResponse();
  }
  Win32Error QueryNumberHeader(HttpNumberHeader header, uint32_t& value) override {
    if (cancelled_) return HttpError::kOperationCancelled;
    const DWORD level = header == HttpNumberHeader::StatusCode ? WINHTTP_QUERY_STATUS_CODE : WINHTTP_QUERY_CONTENT_LENGTH;
    DWORD number = 0;
    DWORD size = sizeof number;
    const DWORD error = request_.QueryHeaders(level | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &number,
                                              &size, WINHTTP_NO_HEADER_INDEX);
    if (error == 0) value = number;
    return error;
  }
  Win32Error QueryLocation(std::u16string& location) override {
    if (cancelled_) return HttpError::kOperationCancelled;
    DWORD size = 0;
    DWORD error = request_.QueryHeaders(WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                                        &size, WINHTTP_NO_HEADER_INDEX);
    if (error != ERROR_INSUFFICIENT_BUFFER) return error == 0 ? HttpError::kHeaderNotFound : error;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    error = request_.QueryHeaders(WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                                  WINHTTP_NO_HEADER_INDEX);
    if (error != 0) return error;
    text.resize(size / sizeof(wchar_t));
    location = Platform::Win32::U16(text);
    return 0;
  }
  Win32Error QueryDataAvailable(uint32_t& bytes) override {
    if (cancelled_) return HttpError::kOperationCancelled;
    DWORD available = 0;
    const DWORD error = request_.QueryDataAvailable(&available);
    bytes = error == 0 ? available : 0;
    return error;
  }
  Win32Error ReadData(void* buffer, uint32_t size, uint32_t& read) override {
    if (cancelled_) return HttpError::kOperationCancelled;
    DWORD got = 0;
    const DWORD error = request_.ReadData(buffer, size, &got);
    read = error == 0 ? got : 0;
    return error;
  }
  void Cancel() override { cancelled_ = true; }

 private:
  // The parents' handles stay open while this request lives.
  std::shared_ptr<WinHttpConnection> connection_;
  Win32::CWinHttpRequest request_;
  std::shared_ptr<Win32::CWinHttpSession> session_;
  std::atomic<bool> cancelled_{false};
};

class WinHttpConnection : public HttpConnection, public std::enable_shared_from_this<WinHttpConnection> {
 public:
  WinHttpConnection(Win32::CWinHttpConnect connect, std::shared_ptr<Win32::CWinHttpSession> session)
      : connect_(std::move(connect)), session_(std::move(session)) {}

  Win32Error OpenRequest(std::u16string_view objectName, uint32_t flags,
                         std::unique_ptr<HttpRequest>& request) override {
    const std::wstring object = Wide(objectName);
    Win32::CWinHttpRequest handle;
    const DWORD error = connect_.OpenRequest(L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, flags, handle);
    if (error != 0) return error;
    // The agent follows redirects itself, the same way on every system.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (const DWORD refused = handle.SetOption(WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy)) return refused;
    request = std::make_unique<WinHttpRequest>(shared_from_this(), std::move(handle), session_);
    return 0;
  }

 private:
  Win32::CWinHttpConnect connect_;
  std::shared_ptr<Win32::CWinHttpSession> session_;
};

class WinHttpSession : public HttpSession {
 public:
  Win32Error Open(std::u16string_view userAgent, std::u16string_view proxyList, std::u16string_view bypassList) {
    const std::wstring agent = Wide(userAgent);
    if (proxyList.empty())
      return session_->Open(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0);
    const std::wstring proxy = Wide(proxyList);
    const std::wstring bypass = Wide(bypassList);
    return session_->Open(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(),
                          bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0);
  }
  Win32Error SetProxy(std::u16string_view proxyList, std::u16string_view bypassList) override {
    std::wstring proxy = Wide(proxyList);
    std::wstring bypass = Wide(bypassList);
    WINHTTP_PROXY_INFO info{};
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = proxy.data();
    info.lpszProxyBypass = bypass.empty() ? nullptr : bypass.data();
    return session_->SetOption(WINHTTP_OPTION_PROXY, &info, sizeof info);
  }
  Win32Error SetProxyCredentials(std::u16string_view userName, std::u16string_view password) override {
    Win32Error result = 0;
    if (!userName.empty()) {
      std::wstring name = Wide(userName);
      result = session_->SetOption(WINHTTP_OPTION_PROXY_USERNAME, name.data(), static_cast<DWORD>(name.size()));
    }
    if (!password.empty()) {
      std::wstring secret = Wide(password);
      const Win32Error error =
          session_->SetOption(WINHTTP_OPTION_PROXY_PASSWORD, secret.data(), static_cast<DWORD>(secret.size()));
      if (result == 0) result = error;
    }
    return result;
  }
  Win32Error Connect(std::u16string_view host, uint16_t port, std::shared_ptr<HttpConnection>& connection) override {
    const std::wstring name = Wide(host);
    Win32::CWinHttpConnect connect;
    if (const DWORD error = session_->Connect(name.c_str(), port, connect)) return error;
    connection = std::make_shared<WinHttpConnection>(std::move(connect), session_);
    return 0;
  }

 private:
  std::shared_ptr<Win32::CWinHttpSession> session_ = std::make_shared<Win32::CWinHttpSession>();
};

std::u16string Copy(const wchar_t* text, DWORD length) {
  return text ? Platform::Win32::U16(text, length) : std::u16string();
}

}  // namespace

Win32Error OpenHttpSession(std::u16string_view userAgent, std::u16string_view proxyList,
                           std::u16string_view bypassList, std::unique_ptr<HttpSession>& session) {
  auto opened = std::make_unique<WinHttpSession>();
  if (const Win32Error error = opened->Open(userAgent, proxyList, bypassList)) return error;
  session = std::move(opened);
  return 0;
}

Win32Error CrackUrl(std::u16string_view url, CrackedUrl& parts) {
  const std::wstring text = Wide(url);
  wchar_t scheme[10], host[100], path[512], extra[512];
  URL_COMPONENTS components{};
  components.dwStructSize = sizeof components;
  components.lpszScheme = scheme;
  components.dwSchemeLength = 10;
  components.lpszHostName = host;
  components.dwHostNameLength = 100;
  components.lpszUrlPath = path;
  components.dwUrlPathLength = 512;
  components.lpszExtraInfo = extra;
  components.dwExtraInfoLength = 512;
  if (const DWORD error = Win32::CrackUrl(text.c_str(), static_cast<DWORD>(text.size()), 0, &components))
    return error;
  parts.scheme = Copy(scheme, components.dwSchemeLength);
  parts.host = Copy(host, components.dwHostNameLength);
  parts.port = components.nPort;
  parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
  parts.path = Copy(path, components.dwUrlPathLength);
  parts.extra = Copy(extra, components.dwExtraInfoLength);
  return 0;
}

bool GetIEProxyConfigForCurrentUser(UserProxyConfig& config) {
  Win32::IEProxyConfig owner;
  if (Win32::GetIEProxyConfigForCurrentUser(owner) != 0) return false;
  auto text = [](const wchar_t* value) {
    return value ? Platform::Win32::U16(value, wcslen(value)) : std::u16string();
  };
  config.autoConfigUrl = text(owner.config.lpszAutoConfigUrl);
  config.proxy = text(owner.config.lpszProxy);
  config.bypass = text(owner.config.lpszProxyBypass);
  return true;
}

}  // namespace Zentrovak::Network
