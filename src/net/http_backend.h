// The HTTP agent's view of the system's HTTP stack: a session, connections
// to one host and port, and requests on them, each operation answering 0 or
// a Win32/WinHTTP error code. win32 maps them one to one onto WinHTTP
// handles; posix carries them out with libcurl.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::Network {

// WinHTTP's error codes, which both backends answer.
namespace HttpError {
inline constexpr Platform::Win32Error kOutOfHandles = 12001;
inline constexpr Platform::Win32Error kTimeout = 12002;
inline constexpr Platform::Win32Error kInternalError = 12004;
inline constexpr Platform::Win32Error kInvalidUrl = 12005;
inline constexpr Platform::Win32Error kUnrecognizedScheme = 12006;
inline constexpr Platform::Win32Error kNameNotResolved = 12007;
inline constexpr Platform::Win32Error kOperationCancelled = 12017;
inline constexpr Platform::Win32Error kIncorrectHandleState = 12019;
inline constexpr Platform::Win32Error kCannotConnect = 12029;
inline constexpr Platform::Win32Error kConnectionError = 12030;
inline constexpr Platform::Win32Error kHeaderNotFound = 12150;
inline constexpr Platform::Win32Error kInvalidServerResponse = 12152;
inline constexpr Platform::Win32Error kRedirectFailed = 12156;
inline constexpr Platform::Win32Error kSecureChannelError = 12157;
inline constexpr Platform::Win32Error kAutoProxyServiceError = 12178;
inline constexpr Platform::Win32Error kSecureFailure = 12175;
inline constexpr Platform::Win32Error kUnableToDownloadScript = 12167;
}  // namespace HttpError

inline constexpr uint32_t kWinHttpFlagSecure = 0x00800000;

// Security flags of a request (WINHTTP_OPTION_SECURITY_FLAGS).
inline constexpr uint32_t kIgnoreUnknownCa = 0x100;
inline constexpr uint32_t kIgnoreWrongUsage = 0x200;
inline constexpr uint32_t kIgnoreCertCnInvalid = 0x1000;
inline constexpr uint32_t kIgnoreCertDateInvalid = 0x2000;

// The parts of an absolute http or https URL, as WinHttpCrackUrl splits it
// into buffers of 10 (scheme), 100 (host), 512 (path) and 512 (query and
// fragment) characters; a part that does not fit fails the split.
struct CrackedUrl {
  std::u16string scheme;
  std::u16string host;
  uint16_t port = 0;
  bool secure = false;
  std::u16string path;
  std::u16string extra;  // "?query#fragment", as written
};
Platform::Win32Error CrackUrl(std::u16string_view url, CrackedUrl& parts);

// The current user's browser proxy settings.
struct UserProxyConfig {
  std::u16string autoConfigUrl;
  std::u16string proxy;   // "host:port" or "http=host:port;https=host:port"
  std::u16string bypass;  // "<local>;*.example.com"
};
// False when the settings cannot be read.
bool GetIEProxyConfigForCurrentUser(UserProxyConfig& config);

enum class HttpNumberHeader { StatusCode, ContentLength };

// One request. Its operations run on one thread at a time; Cancel may be
// called from any thread while they run.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  virtual Platform::Win32Error QuerySecurityFlags(uint32_t& flags) = 0;
  virtual Platform::Win32Error SetSecurityFlags(uint32_t flags) = 0;
  // The answer of the automatic-configuration script for `url`, applied to
  // this request; an error leaves the request as it was.
  virtual Platform::Win32Error ApplyAutoProxy(std::u16string_view url, std::u16string_view autoConfigUrl) = 0;
  virtual Platform::Win32Error SendRequest() = 0;
  virtual Platform::Win32Error ReceiveResponse() = 0;
  // WINHTTP_QUERY_FLAG_NUMBER: kHeaderNotFound when the header is absent.
  virtual Platform::Win32Error QueryNumberHeader(HttpNumberHeader header, uint32_t& value) = 0;
  // The Location header as sent; kHeaderNotFound when absent. Requests never
  // follow redirects themselves: the agent does (see FollowRedirects).
  virtual Platform::Win32Error QueryLocation(std::u16string& location) = 0;
  // 0 bytes available means the body has ended.
  virtual Platform::Win32Error QueryDataAvailable(uint32_t& bytes) = 0;
  virtual Platform::Win32Error ReadData(void* buffer, uint32_t size, uint32_t& read) = 0;
  // Makes a blocked operation give up as soon as the stack allows; the
  // request's later operations fail with kOperationCancelled.
  virtual void Cancel() = 0;
};

// An open connection to one host and port. Requests keep what they need of
// it alive, so it may be closed while a request on it still runs.
class HttpConnection {
 public:
  virtual ~HttpConnection() = default;
  virtual Platform::Win32Error OpenRequest(std::u16string_view objectName, uint32_t flags,
                                           std::unique_ptr<HttpRequest>& request) = 0;
};

class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // WINHTTP_OPTION_PROXY with a named proxy, and the proxy credentials.
  virtual Platform::Win32Error SetProxy(std::u16string_view proxyList, std::u16string_view bypassList) = 0;
  virtual Platform::Win32Error SetProxyCredentials(std::u16string_view userName, std::u16string_view password) = 0;
  virtual Platform::Win32Error Connect(std::u16string_view host, uint16_t port,
                                       std::shared_ptr<HttpConnection>& connection) = 0;
};

// A synchronous session with the user agent: through the named proxy when
// `proxyList` is not empty, else with the system's default proxy access.
Platform::Win32Error OpenHttpSession(std::u16string_view userAgent, std::u16string_view proxyList,
                                     std::u16string_view bypassList, std::unique_ptr<HttpSession>& session);

}  // namespace Zentrovak::Network
