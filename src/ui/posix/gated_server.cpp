#include "ui/posix/gated_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Zentrovak::UI::Posix {

namespace {

// The connection as the library reads it: first the head the gate has
// read, then the socket, whose bytes are counted against the body's limit.
class AdmittedStream : public httplib::Stream {
 public:
  AdmittedStream(const AdmittedConnection& connection, int readTimeoutMs, int writeTimeoutMs)
      : socket_(connection.socket),
        buffered_(connection.head + connection.rest),
        budget_(connection.bodyBytes > connection.rest.size() ? connection.bodyBytes - connection.rest.size() : 0),
        readTimeoutMs_(readTimeoutMs),
        writeTimeoutMs_(writeTimeoutMs) {}

  bool is_readable() const override { return offset_ < buffered_.size() || Wait(POLLIN, readTimeoutMs_); }
  bool is_writable() const override { return Wait(POLLOUT, writeTimeoutMs_); }

  ssize_t read(char* ptr, size_t size) override {
    if (offset_ == buffered_.size() && !Fill()) return -1;
    const size_t count = std::min(size, buffered_.size() - offset_);
    std::memcpy(ptr, buffered_.data() + offset_, count);
    offset_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    for (;;) {
      const ssize_t sent = ::send(socket_, ptr, size, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      return sent;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(::getpeername, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(::getsockname, ip, port); }
  socket_t socket() const override { return socket_; }

 private:
  bool Wait(short events, int timeoutMs) const {
    pollfd waiting{socket_, events, 0};
    for (;;) {
      const int ready = ::poll(&waiting, 1, timeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      return ready > 0 && (waiting.revents & (events | POLLHUP | POLLERR));
    }
  }

  // Reads what the socket has, within what is left of the body's budget:
  // past it the request ends unread, however it was framed.
  bool Fill() {
    if (budget_ == 0 || !Wait(POLLIN, readTimeoutMs_)) return false;
    char chunk[16384];
    const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, budget_));
    ssize_t got;
    do got = ::recv(socket_, chunk, want, 0);
    while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    budget_ -= static_cast<uint64_t>(got);
    buffered_.assign(chunk, static_cast<size_t>(got));
    offset_ = 0;
    return true;
  }

  template <typename Name>
  void Address(Name name, std::string& ip, int& port) const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ip.clear();
    port = 0;
    if (name(socket_, reinterpret_cast<sockaddr*>(&address), &size) != 0 || address.sin_family != AF_INET) return;
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) ip = text;
    port = ntohs(address.sin_port);
  }

  int socket_;
  std::string buffered_;
  size_t offset_ = 0;
  uint64_t budget_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
};

// Compared with the library's "no socket" only: this server never closes
// or uses it.
constexpr socket_t kServingThroughGate = 0;

}  // namespace

GatedServer::GatedServer() { svr_sock_ = kServingThroughGate; }

void GatedServer::Shut() { svr_sock_ = INVALID_SOCKET; }

void GatedServer::Serve(const AdmittedConnection& connection) {
  AdmittedStream stream(connection, static_cast<int>(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
                        static_cast<int>(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000));
  bool closed = false;
  process_request(stream, true, closed, nullptr);
}

}  // namespace Zentrovak::UI::Posix
