// The page server: the one HTTP/1.1 server of the posix dialog, on
// 127.0.0.1 at a port of the system's choosing. Every byte a client sends is
// read once, by a reader that enforces the limits below as it reads: a
// request's head within its line, header and size limits and a deadline,
// its framing strict (CRLF line ends, no folded lines), its body within its
// limit as it arrives. Only then does the dialog see the head, to admit it
// or refuse it; only an admitted head has its body read. Connections stay
// open between requests, as the browser keeps them.
//
// All connections are served by one thread of the server's own; answers
// that wait (a synchronous call, the event stream) are given later, from
// any thread, through the request's exchange, and slow work (fetching a
// remote page) runs on a small pool of threads. A connection that has been
// admitted is never pushed out for one that has not: at the caps, the
// connections that have not presented the secret give way, oldest first,
// refused ones before the rest.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Zentrovak::UI::Posix {

struct ServerLimits {
  size_t requestLine = 8192;  // bytes, without the line end
  size_t headerLine = 8192;
  size_t headerCount = 100;
  size_t headBytes = 64 * 1024;  // the whole head
  int headMs = 5000;             // from a head's first byte to its end
  uint64_t bodyBytes = 64u << 20;
  int bodyStallMs = 10000;  // a body that stops moving for this long is refused
  // Idle time between requests: a connection that has not been admitted
  // gets the short one.
  int idleMs = 5000;
  int admittedIdleMs = 60000;
  int requestsPerConnection = 10000;
  // Connections open at once, and of them those not admitted yet (being
  // read, idle, being refused).
  int connections = 128;
  int unadmitted = 32;
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// A request as the reader took it in. Header names keep the client's
// spelling; they are looked up without regard to case.
struct PageRequest {
  std::string method;
  std::string target;  // as sent
  std::string path;    // percent escapes decoded, no query
  std::string query;   // as sent, after the "?"
  HeaderList headers;
  std::string body;

  std::string Header(std::string_view name) const;  // the first value, or ""
  size_t HeaderCount(std::string_view name) const;
  bool HasHeader(std::string_view name) const { return HeaderCount(name) > 0; }
  std::string QueryValue(std::string_view name) const;  // decoded, or ""
};

struct PageAnswer {
  int status = 200;
  std::string contentType;
  std::string body;
  HeaderList headers;

  static PageAnswer Text(int status, std::string text);
  static PageAnswer Content(std::string body, std::string contentType);
  static PageAnswer Redirect(std::string location);
};

// What a streamed answer writes, asked for on the server's thread whenever
// the connection can write: `take` appends what is to be sent next to
// `out` (nothing: wait for Wake) and answers false once the stream is to
// end after it. `closed` is told once that the client went away or the
// server stopped.
struct StreamSource {
  std::function<bool(std::string& out)> take;
  std::function<void()> closed;
};

// One request's answer, given once, from any thread.
class PageExchange {
 public:
  virtual ~PageExchange() = default;
  virtual void Answer(PageAnswer answer) = 0;
  // Answers with `head` and then a body written from `source` until the
  // stream ends or the client goes; the connection is closed afterwards.
  virtual void Stream(PageAnswer head, StreamSource source) = 0;
  // The stream's source has something to send.
  virtual void Wake() = 0;
};

class PageServer {
 public:
  // Decides on a request's head (body not read yet): an answer refuses it
  // and ends its connection; none admits it.
  using Admission = std::function<std::optional<PageAnswer>(const PageRequest& head)>;
  // Handles an admitted request with its body, on the server's thread;
  // answers through the exchange, now or later.
  using Route = std::function<void(PageRequest request, std::shared_ptr<PageExchange> exchange)>;

  PageServer();
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  // Listens on 127.0.0.1; connections wait until Serve. False when it
  // cannot listen.
  bool Listen(const ServerLimits& limits = {});
  int Port() const;
  // Headers every answer carries, refusals included.
  void SetAnswerHeaders(HeaderList headers);
  void Serve(Admission admit, Route route);
  // Closes every connection and returns once the server's thread has
  // ended: no admission or route runs after it. Idempotent.
  void Stop();

  // Runs `task` on the server's thread after `milliseconds` (never once
  // stopped).
  void RunAfter(int milliseconds, std::function<void()> task);
  // Runs `task` on one of a few threads kept for work that blocks.
  void RunBlocking(std::function<void()> task);

  struct Core;

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace Zentrovak::UI::Posix
