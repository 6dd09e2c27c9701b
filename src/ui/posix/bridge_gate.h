// The page server's front door. The HTTP server library reads a request's
// whole head (request line, every header, any number of them) before the
// program can look at it, so a local process could make it take any amount
// of memory, or hold its threads with requests that never end. The gate
// accepts the browser's connections itself, reads each request head within
// limits and a deadline, refuses what the page's own browser never sends,
// and hands what passes to the server on the same thread, one request per
// connection. The server has no port of its own: a local process cannot
// reach it past the gate.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace Zentrovak::UI::Posix {

struct GateLimits {
  size_t requestLine = 8192;      // bytes, without the line end
  size_t headerLine = 8192;
  size_t headerCount = 100;
  size_t headBytes = 64 * 1024;   // the whole head
  int headDeadlineMs = 5000;      // for the complete head
  uint64_t bodyBytes = 64u << 20; // as sent, chunk framing included
  // Connections open at once. At the cap a new one takes the place of one
  // being refused or one still sending its head; when every connection is
  // being served, it is closed at once.
  int connections = 96;
  // Connections still sending their head. When all are taken, a new
  // connection takes the place of an idle one (nothing waiting to be read),
  // the one that has been at it longest first: the browser sends a head at
  // once, so a slow or idle connection is what gives way, never the page's
  // next request.
  int readingHeads = 32;
};

// The request head as the gate read it, for the admission decision.
struct GateHead {
  std::string method;
  std::string target;
  std::string Header(std::string_view name) const;  // first value, or ""
  size_t Count(std::string_view name) const;
  std::string raw;  // as received, up to and including the empty line
};

// A connection whose head passed, for the server to answer. The server
// reads the head and `rest` first, then the socket, and may read at most
// `bodyBytes` from the socket (as sent, chunk framing included).
struct AdmittedConnection {
  int socket = -1;
  std::string head;  // as the client sent it
  std::string rest;  // what the client sent after its head, so far
  uint64_t bodyBytes = 0;
};

// Answers an admitted connection's one request; the gate closes it
// afterwards.
using GateServe = std::function<void(const AdmittedConnection&)>;

class BridgeGate {
 public:
  BridgeGate();
  ~BridgeGate();
  BridgeGate(const BridgeGate&) = delete;
  BridgeGate& operator=(const BridgeGate&) = delete;

  // Listens on 127.0.0.1 at a port of the system's choosing; connections
  // wait until Serve. False when it cannot listen.
  bool Listen(const GateLimits& limits = {});
  // Accepts connections and calls `serve` for each admitted one on that
  // connection's thread.
  void Serve(GateServe serve);
  int Port() const;
  // Stops accepting, cuts every connection and returns when no thread of
  // the gate is still in `serve`.
  void Stop();

  // What the gate's threads share; they keep it while they run.
  struct State;

 private:
  std::shared_ptr<State> state_;
};

// The status a head gets before it reaches the server (0: it passes).
// Public for the tests of the rules.
int GateVerdict(const GateHead& head);

}  // namespace Zentrovak::UI::Posix
