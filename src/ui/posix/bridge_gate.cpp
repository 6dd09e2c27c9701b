#include "ui/posix/bridge_gate.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/text.h"

namespace Zentrovak::UI::Posix {

namespace {

using Clock = std::chrono::steady_clock;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The header lines of a head (after the request line), without line ends.
std::vector<std::string_view> HeaderLines(std::string_view raw) {
  std::vector<std::string_view> lines;
  size_t start = raw.find('\n');
  while (start != std::string_view::npos && start + 1 < raw.size()) {
    const size_t end = raw.find('\n', start + 1);
    std::string_view line = raw.substr(start + 1, (end == std::string_view::npos ? raw.size() : end) - start - 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    lines.push_back(line);
    start = end;
  }
  return lines;
}

const char* Reason(int status) {
  switch (status) {
    case 400: return "Bad Request";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) {
      if (sent < 0 && errno == EINTR) continue;
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Answers and closes gently: a client still sending would otherwise get a
// reset that takes the answer with it, so what it sends is read and dropped
// for a moment (a bounded one) after the answer.
void Refuse(int fd, int status) {
  const std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  if (!SendAll(fd, answer.data(), answer.size())) return;
  ::shutdown(fd, SHUT_WR);
  const auto until = Clock::now() + std::chrono::milliseconds(500);
  char sink[16384];
  size_t drained = 0;
  while (drained < (1u << 20)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd waiting{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&waiting, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t got = ::recv(fd, sink, sizeof sink, 0);
    if (got <= 0) break;
    drained += static_cast<size_t>(got);
  }
}

// Reads the head within the limits: 0 with the head and any bytes after
// it, or the status to refuse it with (0 and an empty head: the client
// went away).
int ReadHead(int fd, const GateLimits& limits, std::string& head, std::string& rest) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(limits.headDeadlineMs);
  std::string buffer;
  size_t lineStart = 0;
  size_t lines = 0;
  char chunk[4096];
  for (;;) {
    // Check every complete line received so far.
    for (size_t feed; (feed = buffer.find('\n', lineStart)) != std::string::npos; lineStart = feed + 1) {
      size_t length = feed - lineStart;
      if (length > 0 && buffer[feed - 1] == '\r') --length;
      if (length == 0) {
        if (lines == 0) continue;  // blank lines before a request are allowed
        head = buffer.substr(0, feed + 1);
        rest = buffer.substr(feed + 1);
        return 0;
      }
      if (lines == 0 && length > limits.requestLine) return 414;
      if (lines > 0 && length > limits.headerLine) return 431;
      if (++lines > limits.headerCount + 1) return 431;
    }
    // The line still arriving may not grow past its limit either.
    const size_t pending = buffer.size() - lineStart;
    if (pending > (lines == 0 ? limits.requestLine : limits.headerLine) + 1) return lines == 0 ? 414 : 431;
    if (buffer.size() > limits.headBytes) return 431;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 408;
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return 408;
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;  // gone
    buffer.append(chunk, static_cast<size_t>(got));
  }
}

GateHead ParseHead(const std::string& raw) {
  GateHead head;
  head.raw = raw;
  const size_t firstEnd = raw.find('\n');
  std::string_view first = std::string_view(raw).substr(0, firstEnd);
  if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
  const size_t space = first.find(' ');
  head.method = std::string(first.substr(0, space));
  if (space != std::string_view::npos) {
    const size_t second = first.find(' ', space + 1);
    head.target = std::string(first.substr(space + 1, second == std::string_view::npos ? std::string_view::npos
                                                                                        : second - space - 1));
  }
  return head;
}

}  // namespace

std::string GateHead::Header(std::string_view name) const {
  for (std::string_view line : HeaderLines(raw)) {
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos && Platform::AsciiEqualsIgnoreCase(Trim(line.substr(0, colon)), name))
      return std::string(Trim(line.substr(colon + 1)));
  }
  return {};
}

size_t GateHead::Count(std::string_view name) const {
  size_t count = 0;
  for (std::string_view line : HeaderLines(raw)) {
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos && Platform::AsciiEqualsIgnoreCase(Trim(line.substr(0, colon)), name)) ++count;
  }
  return count;
}

int GateVerdict(const GateHead& head) {
  if (head.method.empty() || head.target.empty()) return 400;
  for (std::string_view line : HeaderLines(head.raw))
    if (line.find(':') == std::string_view::npos || line.front() == ' ' || line.front() == '\t') return 400;
  // Which of two Host or Origin headers counts differs between a proxy, the
  // browser and the server; the page's browser sends one, and never an
  // empty Origin.
  if (head.Count("Host") != 1 || head.Count("Origin") > 1) return 400;
  if (head.Count("Origin") == 1 && head.Header("Origin").empty()) return 400;
  // A compressed body would be expanded past every limit.
  if (head.Count("Content-Encoding") > 0) return 415;
  const size_t lengths = head.Count("Content-Length");
  const size_t encodings = head.Count("Transfer-Encoding");
  if (lengths > 1 || encodings > 1 || (lengths == 1 && encodings == 1)) return 400;
  if (encodings == 1 && !Platform::AsciiEqualsIgnoreCase(head.Header("Transfer-Encoding"), "chunked")) return 501;
  if (lengths == 1) {
    const std::string length = head.Header("Content-Length");
    if (length.empty() || length.size() > 19 || length.find_first_not_of("0123456789") != std::string::npos) return 400;
  }
  return 0;
}

struct BridgeGate::State {
  GateLimits limits;
  GateServe serve;
  int listener = -1;
  int port = 0;
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::condition_variable idle;  // connections fell to 0
  std::set<int> sockets;  // open client sockets, cut at Stop
  // Connections that give way to newer ones, oldest first: those still
  // sending their head, and those being refused (their answer is sent;
  // what is left is closing them gently).
  std::deque<int> reading;
  std::deque<int> refusing;
  int connections = 0;
  std::thread acceptor;

  void Forget(int fd) {
    {
      std::lock_guard<std::mutex> hold(mutex);
      sockets.erase(fd);
    }
    ::close(fd);
  }
  // Under mutex. Cuts the oldest connection of `from`; with `idleFirst`,
  // the oldest with nothing waiting to be read, if there is one: the
  // browser sends a head at once, so it is a slow or idle one that goes.
  static bool PushOut(std::deque<int>& from, bool idleFirst) {
    if (from.empty()) return false;
    auto victim = from.begin();
    for (auto it = from.begin(); idleFirst && it != from.end(); ++it) {
      int waiting = 0;
      if (::ioctl(*it, FIONREAD, &waiting) == 0 && waiting == 0) {
        victim = it;
        break;
      }
    }
    // Its thread sees the connection end and lets it go.
    ::shutdown(*victim, SHUT_RDWR);
    from.erase(victim);
    return true;
  }
  static void Drop(std::deque<int>& from, int fd) { from.erase(std::remove(from.begin(), from.end(), fd), from.end()); }
  void Leave() {
    std::lock_guard<std::mutex> hold(mutex);
    if (--connections == 0) idle.notify_all();
  }
};

namespace {

using State = BridgeGate::State;

void ServeConnection(std::shared_ptr<BridgeGate::State> state, int client) {
  std::string raw, rest;
  int status = ReadHead(client, state->limits, raw, rest);
  {
    std::lock_guard<std::mutex> hold(state->mutex);
    State::Drop(state->reading, client);
  }
  if (status == 0 && !raw.empty()) {
    const GateHead head = ParseHead(raw);
    status = GateVerdict(head);
    if (status == 0 && head.Count("Content-Length") == 1 &&
        std::stoull(head.Header("Content-Length")) > state->limits.bodyBytes)
      status = 413;
    if (status == 0) {
      AdmittedConnection admitted;
      admitted.socket = client;
      admitted.head = std::move(raw);
      admitted.rest = std::move(rest);
      // Chunk framing comes on top of the body itself.
      admitted.bodyBytes = state->limits.bodyBytes + (1u << 20);
      if (!state->stopping) state->serve(admitted);
    }
  }
  if (status != 0) {
    {
      std::lock_guard<std::mutex> hold(state->mutex);
      state->refusing.push_back(client);
    }
    Refuse(client, status);
    std::lock_guard<std::mutex> hold(state->mutex);
    State::Drop(state->refusing, client);
  }
  state->Forget(client);
  state->Leave();
}

void AcceptLoop(std::shared_ptr<BridgeGate::State> state) {
  while (!state->stopping) {
    pollfd waiting{state->listener, POLLIN, 0};
    if (::poll(&waiting, 1, 200) <= 0) continue;
    const int client = ::accept4(state->listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    {
      std::lock_guard<std::mutex> hold(state->mutex);
      // At the cap, a connection being refused or one still sending its
      // head makes room; those being served are the browser's. The ones
      // cut are still counted until their threads are done, a moment.
      const bool full = state->connections >= state->limits.connections;
      if (state->stopping || state->connections >= state->limits.connections + state->limits.readingHeads ||
          (full && !State::PushOut(state->refusing, false) && !State::PushOut(state->reading, true))) {
        ::close(client);
        continue;
      }
      ++state->connections;
      state->sockets.insert(client);
      if (static_cast<int>(state->reading.size()) >= state->limits.readingHeads) State::PushOut(state->reading, true);
      state->reading.push_back(client);
    }
    // The server writes an answer's headers and body separately; with
    // Nagle on, the second small write waits for the browser's delayed
    // acknowledgement, about 40 ms for every call.
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    try {
      std::thread(ServeConnection, state, client).detach();
    } catch (...) {
      state->Forget(client);
      state->Leave();
    }
  }
}

}  // namespace

BridgeGate::BridgeGate() : state_(std::make_shared<State>()) {}

BridgeGate::~BridgeGate() { Stop(); }

bool BridgeGate::Listen(const GateLimits& limits) {
  state_->limits = limits;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 128) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(fd);
    return false;
  }
  state_->listener = fd;
  state_->port = ntohs(address.sin_port);
  return true;
}

void BridgeGate::Serve(GateServe serve) {
  state_->serve = std::move(serve);
  if (state_->listener >= 0 && !state_->acceptor.joinable()) state_->acceptor = std::thread(AcceptLoop, state_);
}

int BridgeGate::Port() const { return state_->port; }

void BridgeGate::Stop() {
  if (state_->stopping.exchange(true)) return;
  if (state_->acceptor.joinable()) state_->acceptor.join();
  if (state_->listener >= 0) ::close(state_->listener);
  std::unique_lock<std::mutex> hold(state_->mutex);
  for (int fd : state_->sockets) ::shutdown(fd, SHUT_RDWR);
  // What `serve` uses may go once Stop returns.
  state_->idle.wait(hold, [&] { return state_->connections == 0; });
}

}  // namespace Zentrovak::UI::Posix
