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

void LoopbackServer::ServeWithLength(const std::string& path, std::string body, uint64_t declaredLength) {
  std::lock_guard<std::mutex> lock(mutex_);
  responses_[path] = Response{std::move(body), 200, 0, static_cast<int64_t>(declaredLength)};
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
  Response response{"not found", 404, 0, -1};
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
                            std::to_string(response.declaredLength < 0 ? static_cast<int64_t>(response.body.size())
                                                                          : response.declaredLength) + "\r\nConnection: close\r\n\r\n" + response.body);
  }
  CloseSocket(connection);
}


}  // namespace Zentrovak::Testing
