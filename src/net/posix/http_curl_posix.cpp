// The agent's HTTP stack on Linux: libcurl, shaped like WinHTTP.
//
// A connection is a small pool of transfer channels to one host and port.
// A channel is a curl multi handle with one easy handle: the multi handle
// keeps the kept-alive TCP connection, so a request that takes the channel
// after another reuses it. Requests that overlap take channels of their
// own, as WinHTTP opens another socket. The body is pulled as WinHTTP's
// readers pull it: the transfer runs only while the reader waits for data,
// and pauses when a megabyte is waiting to be read, so a download never
// holds more than that in memory.
#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/http_backend.h"
#include "net/posix/proxy_posix.h"
#include "platform/cert_store.h"
#include "platform/text.h"

namespace Zentrovak::Network {

using Platform::Win32Error;

namespace {

constexpr size_t kPauseAt = 1 << 20;
constexpr size_t kIdleChannelsKept = 4;
// WinHTTP's default time limits, which the agent keeps: 60 s to connect,
// 30 s for any single receive.
constexpr long kConnectTimeoutMs = 60000;
constexpr long kReceiveStallSeconds = 30;

void InitializeCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Win32Error MapCurlError(CURLcode code) {
  switch (code) {
    case CURLE_OK: return 0;
    case CURLE_UNSUPPORTED_PROTOCOL: return HttpError::kUnrecognizedScheme;
    case CURLE_URL_MALFORMAT: return HttpError::kInvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return HttpError::kNameNotResolved;
    case CURLE_COULDNT_CONNECT: return HttpError::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT: return HttpError::kTimeout;
    case CURLE_ABORTED_BY_CALLBACK: return HttpError::kOperationCancelled;
    case CURLE_TOO_MANY_REDIRECTS: return HttpError::kRedirectFailed;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY: return HttpError::kInvalidServerResponse;
    case CURLE_SSL_CONNECT_ERROR: return HttpError::kSecureChannelError;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return HttpError::kSecureFailure;
    case CURLE_OUT_OF_MEMORY: return Platform::kErrorNotEnoughMemory;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_WRITE_ERROR: return HttpError::kConnectionError;
    default: return HttpError::kInternalError;
  }
}

// The machine's own trusted roots: the current user's ROOT store, which
// shows the local machine's too.
std::vector<Platform::EncodedCertificate> MachineRootCertificates() {
  std::vector<Platform::EncodedCertificate> roots;
  Platform::CertificateStore store;
  if (Platform::CertificateStore::Open(Platform::CertStoreLocation::CurrentUser, u"ROOT",
                                       Platform::CertStoreAccess::Read, store) == 0)
    store.List(roots);
  return roots;
}

// The proxy the session was given, shared with its connections.
struct SessionConfig {
  std::string userAgent;
  std::mutex mutex;
  bool namedProxy = false;
  std::u16string proxyList;
  std::u16string bypassList;
  std::string proxyUser;
  std::string proxyPassword;
};

struct CurlChannel {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  CurlChannel() : multi(curl_multi_init()), easy(curl_easy_init()) {}
  ~CurlChannel() {
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
  }
  CurlChannel(const CurlChannel&) = delete;
  CurlChannel& operator=(const CurlChannel&) = delete;
};

// The request object name as a URL path: what WinHTTP would escape
// (blanks, controls, bytes beyond ASCII, a few unsafe marks) is escaped.
std::string EscapeObjectName(std::u16string_view objectName) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string utf8 = Platform::Utf16ToUtf8(objectName);
  std::string escaped;
  if (utf8.empty() || utf8[0] != '/') escaped += '/';
  for (unsigned char c : utf8) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c)) {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    } else {
      escaped += static_cast<char>(c);
    }
  }
  return escaped;
}

bool StartsWithNoCase(const char* text, size_t length, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (length < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

class CurlConnection;

class CurlRequest : public HttpRequest {
 public:
  CurlRequest(std::shared_ptr<CurlConnection> connection, std::string url, bool secure,
              std::unique_ptr<CurlChannel> channel);
  ~CurlRequest() override;

  Win32Error QuerySecurityFlags(uint32_t& flags) override {
    flags = securityFlags_;
    return 0;
  }
  Win32Error SetSecurityFlags(uint32_t flags) override {
    if (added_) return HttpError::kIncorrectHandleState;
    securityFlags_ = flags;
    return 0;
  }
  Win32Error ApplyAutoProxy(std::u16string_view url, std::u16string_view autoConfigUrl) override {
    Posix::ProxyChoice choice;
    const Win32Error error = Posix::AnswerFromAutoConfigScript(autoConfigUrl, cancelled_, choice);
    if (error == 0) scriptProxy_ = choice;
    return error;
  }
  Win32Error SendRequest() override;
  Win32Error ReceiveResponse() override;
  Win32Error QueryNumberHeader(HttpNumberHeader header, uint32_t& value) override;
  Win32Error QueryLocation(std::u16string& location) override {
    if (!added_ || (!headersComplete_ && !done_)) return HttpError::kIncorrectHandleState;
    if (location_.empty()) return HttpError::kHeaderNotFound;
    location = Platform::Utf8ToUtf16(location_);
    return 0;
  }
  Win32Error QueryDataAvailable(uint32_t& bytes) override;
  Win32Error ReadData(void* buffer, uint32_t size, uint32_t& read) override;
  void Cancel() override {
    cancelled_ = true;
    if (channel_) curl_multi_wakeup(channel_->multi);
  }

 private:
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  static CURLcode AddMachineRoots(CURL*, void* sslContext, void* self);
  void Configure();
  // Runs the transfer until `enough` holds, it ends, or it is cancelled.
  Win32Error Drive(const std::function<bool()>& enough);
  size_t Unread() const { return buffer_.size() - readPos_; }
  Win32Error Outcome() const {
    if (cancelled_) return HttpError::kOperationCancelled;
    return done_ ? MapCurlError(result_) : 0;
  }

  std::shared_ptr<CurlConnection> connection_;
  std::string url_;
  bool secure_;
  std::unique_ptr<CurlChannel> channel_;
  uint32_t securityFlags_ = 0;
  std::optional<Posix::ProxyChoice> scriptProxy_;
  std::vector<Platform::EncodedCertificate> machineRoots_;  // trusted besides the system's
  std::atomic<bool> cancelled_{false};

  bool added_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool paused_ = false;
  std::string buffer_;
  size_t readPos_ = 0;
  // The response being received.
  long status_ = 0;
  std::optional<uint64_t> contentLength_;
  std::string location_;
  bool headersComplete_ = false;
};

class CurlConnection : public HttpConnection, public std::enable_shared_from_this<CurlConnection> {
 public:
  CurlConnection(std::shared_ptr<SessionConfig> session, std::u16string host, uint16_t port)
      : session(std::move(session)), host(std::move(host)), port(port) {}

  Win32Error OpenRequest(std::u16string_view objectName, uint32_t flags,
                         std::unique_ptr<HttpRequest>& request) override {
    auto channel = TakeChannel();
    if (!channel->multi || !channel->easy) return HttpError::kOutOfHandles;
    const bool secure = (flags & kWinHttpFlagSecure) != 0;
    std::string url = secure ? "https://" : "http://";
    url += Platform::Utf16ToUtf8(host);
    url += ':' + std::to_string(port) + EscapeObjectName(objectName);
    request = std::make_unique<CurlRequest>(shared_from_this(), std::move(url), secure, std::move(channel));
    return 0;
  }

  std::unique_ptr<CurlChannel> TakeChannel() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (idle_.empty()) return std::make_unique<CurlChannel>();
    auto channel = std::move(idle_.back());
    idle_.pop_back();
    return channel;
  }
  void ReturnChannel(std::unique_ptr<CurlChannel> channel) {
    curl_easy_reset(channel->easy);
    std::lock_guard<std::mutex> lock(mutex_);
    if (idle_.size() < kIdleChannelsKept) idle_.push_back(std::move(channel));
  }

  const std::shared_ptr<SessionConfig> session;
  const std::u16string host;
  const uint16_t port;

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<CurlChannel>> idle_;
};

CurlRequest::CurlRequest(std::shared_ptr<CurlConnection> connection, std::string url, bool secure,
                         std::unique_ptr<CurlChannel> channel)
    : connection_(std::move(connection)), url_(std::move(url)), secure_(secure), channel_(std::move(channel)) {}

CurlRequest::~CurlRequest() {
  if (added_) curl_multi_remove_handle(channel_->multi, channel_->easy);
  // A channel whose transfer was cut off has lost its connection; it can
  // still serve the next request, which connects anew.
  connection_->ReturnChannel(std::move(channel_));
}

size_t CurlRequest::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* request = static_cast<CurlRequest*>(self);
  const size_t length = size * count;
  if (StartsWithNoCase(data, length, "http/")) {
    const char* space = static_cast<const char*>(std::memchr(data, ' ', length));
    request->status_ = 0;
    if (space)
      for (const char* p = space + 1; p < data + length && *p >= '0' && *p <= '9' && request->status_ < 1000; ++p)
        request->status_ = request->status_ * 10 + (*p - '0');
    request->contentLength_.reset();
    request->location_.clear();
  } else if (StartsWithNoCase(data, length, "content-length:")) {
    uint64_t value = 0;
    bool digits = false;
    for (size_t i = 15; i < length; ++i) {
      const char c = data[i];
      if (c >= '0' && c <= '9') {
        digits = true;
        value = value > (UINT64_MAX - 9) / 10 ? UINT64_MAX : value * 10 + (c - '0');
      } else if (digits || (c != ' ' && c != '\t')) {
        break;
      }
    }
    if (digits) request->contentLength_ = value;
  } else if (StartsWithNoCase(data, length, "location:")) {
    std::string_view value(data + 9, length - 9);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && std::strchr(" \t\r\n", value.back())) value.remove_suffix(1);
    request->location_ = std::string(value);
  } else if ((length == 2 && data[0] == '\r') || (length == 1 && data[0] == '\n')) {
    // An interim answer (1xx) is followed by the real one.
    if (request->status_ >= 200) request->headersComplete_ = true;
  }
  return length;
}

size_t CurlRequest::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* request = static_cast<CurlRequest*>(self);
  const size_t length = size * count;
  if (request->cancelled_) return 0;
  request->headersComplete_ = true;
  if (request->Unread() > 0 && request->Unread() + length > kPauseAt) {
    request->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (request->readPos_ == request->buffer_.size() || request->readPos_ >= kPauseAt) {
    request->buffer_.erase(0, request->readPos_);
    request->readPos_ = 0;
  }
  request->buffer_.append(data, length);
  return length;
}

int CurlRequest::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<CurlRequest*>(self)->cancelled_ ? 1 : 0;
}

CURLcode CurlRequest::AddMachineRoots(CURL*, void* sslContext, void* self) {
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  for (const Platform::EncodedCertificate& der : static_cast<CurlRequest*>(self)->machineRoots_) {
    const unsigned char* bytes = der.data();
    if (X509* certificate = d2i_X509(nullptr, &bytes, static_cast<long>(der.size()))) {
      X509_STORE_add_cert(store, certificate);  // a root the bundle has already is refused, harmlessly
      X509_free(certificate);
    }
  }
  ERR_clear_error();
  return CURLE_OK;
}

void CurlRequest::Configure() {
  CURL* easy = channel_->easy;
  const SessionConfig& session = *connection_->session;
  curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, session.userAgent.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  // The agent follows redirects itself, the same way on every system.
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kReceiveStallSeconds);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 128L * 1024);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

  const bool trustAnyIssuer = (securityFlags_ & (kIgnoreUnknownCa | kIgnoreCertDateInvalid | kIgnoreWrongUsage)) != 0;
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, trustAnyIssuer ? 0L : 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, (securityFlags_ & kIgnoreCertCnInvalid) ? 0L : 2L);
  if (secure_ && !trustAnyIssuer) {
    // As Windows trusts its Root store, the agent trusts the system's CA
    // bundle and the machine's own Root store, read for every request so a
    // root added or removed counts at once.
    machineRoots_ = MachineRootCertificates();
#if LIBCURL_VERSION_NUM >= 0x075700
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);  // no store shared beyond this request
#endif
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, AddMachineRoots);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
  }

  Posix::ProxyChoice proxy;
  std::string proxyUser, proxyPassword;
  if (scriptProxy_) {
    proxy = *scriptProxy_;
  } else {
    std::lock_guard<std::mutex> lock(connection_->session->mutex);
    proxy = session.namedProxy
                ? Posix::ChooseNamedProxy(session.proxyList, session.bypassList, secure_, connection_->host)
                : Posix::ChooseEnvironmentProxy(secure_);
    proxyUser = session.proxyUser;
    proxyPassword = session.proxyPassword;
  }
  const std::string proxyUrl = proxy.viaProxy ? "http://" + proxy.proxy : std::string();
  // An empty proxy also keeps curl from reading the environment itself.
  curl_easy_setopt(easy, CURLOPT_PROXY, proxyUrl.c_str());
  if (!proxy.noProxy.empty()) curl_easy_setopt(easy, CURLOPT_NOPROXY, proxy.noProxy.c_str());
  if (proxy.viaProxy && !proxyUser.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxyUser.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxyPassword.c_str());
  }
}

Win32Error CurlRequest::Drive(const std::function<bool()>& enough) {
  for (;;) {
    if (cancelled_) return HttpError::kOperationCancelled;
    if (enough() || done_) return 0;
    if (paused_ && Unread() == 0) {
      paused_ = false;
      curl_easy_pause(channel_->easy, CURLPAUSE_CONT);
      continue;
    }
    int running = 0;
    if (curl_multi_perform(channel_->multi, &running) != CURLM_OK) {
      done_ = true;
      result_ = CURLE_FAILED_INIT;
      return 0;
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(channel_->multi, &left)) {
      if (message->msg == CURLMSG_DONE) {
        done_ = true;
        result_ = message->data.result;
      }
    }
    if (enough() || done_ || paused_) continue;
    curl_multi_poll(channel_->multi, nullptr, 0, 1000, nullptr);
  }
}

Win32Error CurlRequest::SendRequest() {
  if (cancelled_) return HttpError::kOperationCancelled;
  if (added_) return HttpError::kIncorrectHandleState;
  Configure();
  if (curl_multi_add_handle(channel_->multi, channel_->easy) != CURLM_OK) return HttpError::kInternalError;
  added_ = true;
  if (const Win32Error error = Drive([this] { return headersComplete_; })) return error;
  // A transfer that ended without any response failed at the send.
  return headersComplete_ ? 0 : Outcome();
}

Win32Error CurlRequest::ReceiveResponse() {
  if (!added_) return HttpError::kIncorrectHandleState;
  if (const Win32Error error = Drive([this] { return headersComplete_; })) return error;
  if (headersComplete_) return cancelled_ ? HttpError::kOperationCancelled : 0;
  if (const Win32Error error = Outcome()) return error;
  return status_ != 0 ? 0 : HttpError::kInvalidServerResponse;
}

Win32Error CurlRequest::QueryNumberHeader(HttpNumberHeader header, uint32_t& value) {
  if (!added_ || (!headersComplete_ && !done_)) return HttpError::kIncorrectHandleState;
  if (header == HttpNumberHeader::StatusCode) {
    if (status_ == 0) return HttpError::kHeaderNotFound;
    value = static_cast<uint32_t>(status_);
    return 0;
  }
  if (!contentLength_) return HttpError::kHeaderNotFound;
  value = static_cast<uint32_t>(std::min<uint64_t>(*contentLength_, UINT32_MAX));
  return 0;
}

Win32Error CurlRequest::QueryDataAvailable(uint32_t& bytes) {
  bytes = 0;
  if (!added_) return HttpError::kIncorrectHandleState;
  if (const Win32Error error = Drive([this] { return Unread() > 0; })) return error;
  if (Unread() > 0) {
    bytes = static_cast<uint32_t>(std::min<size_t>(Unread(), UINT32_MAX));
    return 0;
  }
  return Outcome();
}

Win32Error CurlRequest::ReadData(void* buffer, uint32_t size, uint32_t& read) {
  read = 0;
  uint32_t available = 0;
  if (const Win32Error error = QueryDataAvailable(available)) return error;
  const size_t n = std::min<size_t>(size, Unread());
  std::memcpy(buffer, buffer_.data() + readPos_, n);
  readPos_ += n;
  read = static_cast<uint32_t>(n);
  return 0;
}

class CurlSession : public HttpSession {
 public:
  explicit CurlSession(std::u16string_view userAgent) { config_->userAgent = Platform::Utf16ToUtf8(userAgent); }

  Win32Error SetProxy(std::u16string_view proxyList, std::u16string_view bypassList) override {
    std::lock_guard<std::mutex> lock(config_->mutex);
    config_->namedProxy = true;
    config_->proxyList = proxyList;
    config_->bypassList = bypassList;
    return 0;
  }
  Win32Error SetProxyCredentials(std::u16string_view userName, std::u16string_view password) override {
    std::lock_guard<std::mutex> lock(config_->mutex);
    if (!userName.empty()) config_->proxyUser = Platform::Utf16ToUtf8(userName);
    if (!password.empty()) config_->proxyPassword = Platform::Utf16ToUtf8(password);
    return 0;
  }
  Win32Error Connect(std::u16string_view host, uint16_t port, std::shared_ptr<HttpConnection>& connection) override {
    if (host.empty() || port == 0) return Platform::kErrorInvalidParameter;
    connection = std::make_shared<CurlConnection>(config_, std::u16string(host), port);
    return 0;
  }

 private:
  std::shared_ptr<SessionConfig> config_ = std::make_shared<SessionConfig>();
};

}  // namespace

Win32Error OpenHttpSession(std::u16string_view userAgent, std::u16string_view proxyList,
                           std::u16string_view bypassList, std::unique_ptr<HttpSession>& session) {
  InitializeCurl();
  auto opened = std::make_unique<CurlSession>(userAgent);
  if (!proxyList.empty()) opened->SetProxy(proxyList, bypassList);
  session = std::move(opened);
  return 0;
}

}  // namespace Zentrovak::Network
