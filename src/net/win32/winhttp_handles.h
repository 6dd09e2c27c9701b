// Owners of WinHTTP handles, one handle each, closed exactly once. Every
// operation wraps one WinHTTP call on the object's handle and answers 0 or
// the Win32 error code.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <string>
#include <utility>

namespace Zentrovak::Network::Win32 {

class CWinHttp {
 public:
  CWinHttp() = default;
  explicit CWinHttp(HINTERNET handle) : handle(handle) {}
  virtual ~CWinHttp() { Close(); }
  CWinHttp(CWinHttp&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
  CWinHttp& operator=(CWinHttp&& other) noexcept {
    if (this != &other) {
      Close();
      handle = std::exchange(other.handle, nullptr);
    }
    return *this;
  }
  CWinHttp(const CWinHttp&) = delete;
  CWinHttp& operator=(const CWinHttp&) = delete;

  DWORD Close() {
    if (!handle) return 0;
    const BOOL closed = ::WinHttpCloseHandle(std::exchange(handle, nullptr));
    return closed ? 0 : ::GetLastError();
  }
  DWORD QueryOption(DWORD option, void* buffer, DWORD* size) const {
    return ::WinHttpQueryOption(handle, option, buffer, size) ? 0 : ::GetLastError();
  }
  DWORD SetOption(DWORD option, void* buffer, DWORD size) {
    return ::WinHttpSetOption(handle, option, buffer, size) ? 0 : ::GetLastError();
  }

  HINTERNET handle = nullptr;
};

class CWinHttpConnect;
class CWinHttpRequest;

class CWinHttpSession : public CWinHttp {
 public:
  DWORD Open(const wchar_t* userAgent, DWORD accessType, const wchar_t* proxy, const wchar_t* bypass, DWORD flags) {
    Close();
    handle = ::WinHttpOpen(userAgent, accessType, proxy, bypass, flags);
    if (!handle) return ::GetLastError();
    isAsync = (flags & WINHTTP_FLAG_ASYNC) != 0;
    return 0;
  }
  DWORD GetProxyForUrl(const wchar_t* url, WINHTTP_AUTOPROXY_OPTIONS* options, WINHTTP_PROXY_INFO* info) {
    return ::WinHttpGetProxyForUrl(handle, url, options, info) ? 0 : ::GetLastError();
  }
  inline DWORD Connect(const wchar_t* host, INTERNET_PORT port, CWinHttpConnect& connection);

  bool isAsync = false;
};

class CWinHttpConnect : public CWinHttp {
 public:
  inline DWORD OpenRequest(const wchar_t* verb, const wchar_t* objectName, const wchar_t* version,
                           const wchar_t* referrer, const wchar_t** acceptTypes, DWORD flags,
                           CWinHttpRequest& request);
};

class CWinHttpRequest : public CWinHttp {
 public:
  DWORD QueryHeaders(DWORD infoLevel, const wchar_t* name, void* buffer, DWORD* size, DWORD* index) {
    return ::WinHttpQueryHeaders(handle, infoLevel, name, buffer, size, index) ? 0 : ::GetLastError();
  }
  DWORD SendRequest(const wchar_t* headers, DWORD headersLength, void* optional, DWORD optionalLength,
                    DWORD totalLength, DWORD_PTR context) {
    return ::WinHttpSendRequest(handle, headers, headersLength, optional, optionalLength, totalLength, context)
               ? 0
               : ::GetLastError();
  }
  DWORD ReceiveResponse() { return ::WinHttpReceiveResponse(handle, nullptr) ? 0 : ::GetLastError(); }
  DWORD QueryDataAvailable(DWORD* bytes) { return ::WinHttpQueryDataAvailable(handle, bytes) ? 0 : ::GetLastError(); }
  DWORD ReadData(void* buffer, DWORD size, DWORD* read) {
    return ::WinHttpReadData(handle, buffer, size, read) ? 0 : ::GetLastError();
  }
};

DWORD CWinHttpSession::Connect(const wchar_t* host, INTERNET_PORT port, CWinHttpConnect& connection) {
  connection.Close();
  connection.handle = ::WinHttpConnect(handle, host, port, 0);
  return connection.handle ? 0 : ::GetLastError();
}

DWORD CWinHttpConnect::OpenRequest(const wchar_t* verb, const wchar_t* objectName, const wchar_t* version,
                                   const wchar_t* referrer, const wchar_t** acceptTypes, DWORD flags,
                                   CWinHttpRequest& request) {
  request.Close();
  request.handle = ::WinHttpOpenRequest(handle, verb, objectName, version, referrer, acceptTypes, flags);
  return request.handle ? 0 : ::GetLastError();
}

// The handle-less calls.
inline DWORD CrackUrl(const wchar_t* url, DWORD length, DWORD flags, URL_COMPONENTS* components) {
  return ::WinHttpCrackUrl(url, length, flags, components) ? 0 : ::GetLastError();
}

// The configuration's strings belong to the caller, who frees them with
// GlobalFree; this owner does so.
struct IEProxyConfig {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  IEProxyConfig() = default;
  ~IEProxyConfig() {
    if (config.lpszAutoConfigUrl) ::GlobalFree(config.lpszAutoConfigUrl);
    if (config.lpszProxy) ::GlobalFree(config.lpszProxy);
    if (config.lpszProxyBypass) ::GlobalFree(config.lpszProxyBypass);
  }
  IEProxyConfig(const IEProxyConfig&) = delete;
  IEProxyConfig& operator=(const IEProxyConfig&) = delete;
};
inline DWORD GetIEProxyConfigForCurrentUser(IEProxyConfig& owner) {
  return ::WinHttpGetIEProxyConfigForCurrentUser(&owner.config) ? 0 : ::GetLastError();
}

struct ProxyInfo {
  WINHTTP_PROXY_INFO info{};
  ProxyInfo() = default;
  ~ProxyInfo() {
    if (info.lpszProxy) ::GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass) ::GlobalFree(info.lpszProxyBypass);
  }
  ProxyInfo(const ProxyInfo&) = delete;
  ProxyInfo& operator=(const ProxyInfo&) = delete;
};

}  // namespace Zentrovak::Network::Win32
