#include "support/loopback_server.h"

#include <chrono>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "platform/text.h"

namespace Zentrovak::Testing {

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) { ::closesocket(s); }
bool StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket s) { ::close(s); }
bool StartSockets() { return true; }
#endif

bool SendAll(Socket s, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const int n = ::send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Waits until the socket is readable or the time is up.
bool Readable(Socket s, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &tv) > 0;
}

}  // namespace

LoopbackServer::LoopbackServer() {
  if (!StartSockets()) return;
  const Socket s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == kNoSocket) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 16) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseSocket(s);
    return;
  }
  listener_ = static_cast<intptr_t>(s);
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  stopping_ = true;
  stopped_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& worker : workers_) worker.join();
  if (listener_ != -1) CloseSocket(static_cast<Socket>(listener_));
}

std::u16string LoopbackServer::Url(const std::string& path) const {
  return Platform::Utf8ToUtf16("http://127.0.0.1:" + std::to_string(port_) + path);
}

void LoopbackServer::Serve(const std::string& path, std::string body, int status, uint32_t delayMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  responses_[path] = Response{std::move(body), status, delayMs};
}

int LoopbackServer::Requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = requests_.find(path);
  return it == requests_.end() ? 0 : it->second;
}

void LoopbackServer::AcceptLoop() {
  const Socket listener = static_cast<Socket>(listener_);
  while (!stopping_) {
    if (!Readable(listener, 100)) continue;
    const Socket connection = ::accept(listener, nullptr, nullptr);
    if (connection == kNoSocket) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.emplace_back([this, connection] { Handle(static_cast<intptr_t>(connection)); });
  }
}

void LoopbackServer::Handle(intptr_t handle) {
  const Socket connection = static_cast<Socket>(handle);
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 && !stopping_) {
    if (!Readable(connection, 100)) continue;
    const int n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<size_t>(n));
  }
  const size_t pathStart = request.find(' ');
  const size_t pathEnd = pathStart == std::string::npos ? std::string::npos : request.find(' ', pathStart + 1);
  const std::string path =
      pathEnd == std::string::npos ? std::string() : request.substr(pathStart + 1, pathEnd - pathStart - 1);
  Response response{"not found", 404, 0};
  {
    std::unique_lock<std::mutex> lock(mutex_);
    ++requests_[path];
    const auto it = responses_.find(path);
    if (it != responses_.end()) response = it->second;
    if (response.delayMs)
      stopped_.wait_for(lock, std::chrono::milliseconds(response.delayMs), [this] { return stopping_.load(); });
  }
  if (!stopping_) {
    SendAll(connection, "HTTP/1.0 " + std::to_string(response.status) + " Answer\r\nContent-Length: " +
                            std::to_string(response.body.size()) + "\r\nConnection: close\r\n\r\n" + response.body);
  }
  CloseSocket(connection);
}

Platform::HResult LoopbackGet(const std::u16string& url, std::string& body) {
  constexpr Platform::HResult kCannotConnect = Platform::HResultFromWin32(12029);
  if (!StartSockets()) return Platform::kEFail;
  const std::string text = Platform::Utf16ToUtf8(url);
  const size_t hostStart = text.find("://");
  if (hostStart == std::string::npos) return Platform::kEInvalidArg;
  const size_t pathStart = text.find('/', hostStart + 3);
  const std::string hostPort = text.substr(hostStart + 3, pathStart - hostStart - 3);
  const std::string path = pathStart == std::string::npos ? "/" : text.substr(pathStart);
  const size_t colon = hostPort.find(':');
  const std::string host = hostPort.substr(0, colon);
  const int port = colon == std::string::npos ? 80 : std::atoi(hostPort.c_str() + colon + 1);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return kCannotConnect;
  const Socket s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == kNoSocket) return kCannotConnect;
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    CloseSocket(s);
    return kCannotConnect;
  }
  SendAll(s, "GET " + path + " HTTP/1.0\r\nHost: " + hostPort + "\r\n\r\n");
  std::string answer;
  char buffer[65536];
  for (;;) {
    const int n = ::recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<size_t>(n));
  }
  CloseSocket(s);
  const size_t headerEnd = answer.find("\r\n\r\n");
  if (answer.compare(0, 5, "HTTP/") != 0 || headerEnd == std::string::npos)
    return Platform::HResultFromWin32(12152);  // invalid server response
  const size_t space = answer.find(' ');
  const int status = std::atoi(answer.c_str() + space + 1);
  if (status < 400) body = answer.substr(headerEnd + 4);
  return Platform::kSOk;
}

}  // namespace Zentrovak::Testing
