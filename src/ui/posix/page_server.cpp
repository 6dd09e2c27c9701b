#include "ui/posix/page_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <limits>
#include <list>
#include <sstream>
#include <thread>

#include "platform/text.h"
#include "ui/posix/request_rules.h"

namespace Zentrovak::UI::Posix {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

namespace {

constexpr size_t kReadSize = 16 * 1024;
// What a refused client may still send while its answer goes out, and how
// long: closing at once would reset the connection and take the answer with
// it.
constexpr uint64_t kDrainBytes = 1u << 20;
constexpr int kDrainMs = 500;
// A quiet event stream still writes now and then; one whose client has
// stopped taking what is written is closed.
constexpr int kStreamQuietMs = 15000;
constexpr int kWriteStallMs = 60000;

std::string Unescaped(std::string_view text, bool plusIsSpace) {
  std::string decoded(text);
  if (plusIsSpace)
    for (char& c : decoded)
      if (c == '+') c = ' ';
  if (decoded.find('%') == std::string::npos) return decoded;
  return Platform::Utf16ToUtf8(Platform::PercentDecoded(Platform::Utf8ToUtf16(decoded)));
}

// The threads kept for work that blocks. Never destroyed: a fetch may still
// run while the process ends.
asio::thread_pool& BlockingPool() {
  static auto* pool = new asio::thread_pool(4);
  return *pool;
}

}  // namespace

std::string PageRequest::Header(std::string_view name) const {
  for (const auto& [field, value] : headers)
    if (Platform::AsciiEqualsIgnoreCase(field, name)) return value;
  return {};
}

size_t PageRequest::HeaderCount(std::string_view name) const {
  size_t count = 0;
  for (const auto& header : headers) count += Platform::AsciiEqualsIgnoreCase(header.first, name) ? 1 : 0;
  return count;
}

std::string PageRequest::QueryValue(std::string_view name) const {
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string_view item = std::string_view(query).substr(start, end - start);
    const size_t equals = item.find('=');
    if (Unescaped(item.substr(0, equals), true) == name)
      return equals == std::string_view::npos ? std::string() : Unescaped(item.substr(equals + 1), true);
    start = end + 1;
  }
  return {};
}

PageAnswer PageAnswer::Text(int status, std::string text) {
  PageAnswer answer;
  answer.status = status;
  answer.contentType = "text/plain; charset=utf-8";
  answer.body = std::move(text);
  return answer;
}

PageAnswer PageAnswer::Content(std::string body, std::string contentType) {
  PageAnswer answer;
  answer.contentType = std::move(contentType);
  answer.body = std::move(body);
  return answer;
}

PageAnswer PageAnswer::Redirect(std::string location) {
  PageAnswer answer;
  answer.status = 302;
  answer.headers.emplace_back("Location", std::move(location));
  return answer;
}

class Connection;

struct PageServer::Core : std::enable_shared_from_this<PageServer::Core> {
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  ServerLimits limits;
  HeaderList answerHeaders;
  Admission admit;
  Route route;
  std::thread thread;
  std::atomic<bool> stopping{false};
  int port = 0;

  // The server's thread alone uses these. Oldest first.
  std::list<std::weak_ptr<Connection>> connections;
  bool acceptPaused = false;

  void Accept();
  void Accepted(tcp::socket socket);
  // Cuts the connection that gives way at the caps: a refused one, else
  // the oldest one not admitted. False when every connection is admitted.
  bool PushOutOne();
  size_t Unadmitted();
  void Forget(std::list<std::weak_ptr<Connection>>::iterator place);
  void CloseAll();
};

// One client connection, from its accept to its close, on the server's
// thread. Phases: waiting for a request, reading its head, reading its
// body, handled (its answer awaited), writing the answer, streaming, and
// closing after a refusal or a last answer.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(PageServer::Core& core, tcp::socket socket)
      : core_(core), socket_(std::move(socket)), deadline_(core.io),
        buffer_(core.limits.headBytes + 2 * kReadSize) {}

  std::list<std::weak_ptr<Connection>>::iterator place;
  bool admitted = false;
  bool refused = false;
  std::atomic<bool> wakeQueued{false};

  void Start() { WaitForRequest(); }
  void Close();
  void Answer(uint64_t serial, PageAnswer answer);
  void StartStream(uint64_t serial, PageAnswer head, StreamSource source);
  void Wake();
  void Abandoned(uint64_t serial) {
    if (phase_ == Phase::Handled && serial == serial_) Close();
  }

 private:
  enum class Phase { Waiting, Head, Body, Handled, Writing, Streaming, Closing, Closed };

  void WaitForRequest();
  void Read();
  void OnRead(const ErrorCode& error, size_t bytes);
  void OnHeadBytes();
  void OnHead(size_t headStart, size_t headEnd);
  void FeedBody();
  void Dispatch();
  // Answers and closes; what the client still sends is read and dropped,
  // up to `drainBytes`, while it keeps sending.
  void Refuse(PageAnswer answer, uint64_t drainBytes = kDrainBytes);
  void Refuse(int status) { Refuse(PageAnswer::Text(status, "")); }
  void Write(PageAnswer answer, bool keepAlive);
  void Linger();
  void WriteStream();
  void SetDeadline(int milliseconds);
  void OnDeadline();
  template <typename Message>
  void AddAnswerHeaders(Message& message, const PageAnswer& answer) const;

  PageServer::Core& core_;
  tcp::socket socket_;
  asio::steady_timer deadline_;
  uint64_t deadlineSerial_ = 0;
  beast::flat_buffer buffer_;
  Phase phase_ = Phase::Waiting;
  std::optional<HeadFraming> framing_;
  std::optional<http::request_parser<http::string_body>> parser_;
  PageRequest request_;
  bool keepAlive_ = false;
  int requests_ = 0;
  uint64_t serial_ = 0;  // the request being handled
  uint64_t drained_ = 0;
  uint64_t drainBytes_ = kDrainBytes;
  bool reading_ = false;
  // The event stream.
  StreamSource source_;
  std::string streamOut_;
  std::string streamWriting_;
  bool writingStream_ = false;
  bool streamEnds_ = false;
};

namespace {

class Exchange : public PageExchange {
 public:
  Exchange(std::shared_ptr<PageServer::Core> core, std::shared_ptr<Connection> connection, uint64_t serial)
      : core_(std::move(core)), connection_(std::move(connection)), serial_(serial) {}
  ~Exchange() override {
    if (!answered_.exchange(true)) asio::post(core_->io, [c = connection_, s = serial_] { c->Abandoned(s); });
  }
  void Answer(PageAnswer answer) override {
    if (answered_.exchange(true)) return;
    asio::post(core_->io, [c = connection_, s = serial_, a = std::move(answer)]() mutable { c->Answer(s, std::move(a)); });
  }
  void Stream(PageAnswer head, StreamSource source) override {
    if (answered_.exchange(true)) return;
    asio::post(core_->io, [c = connection_, s = serial_, h = std::move(head), src = std::move(source)]() mutable {
      c->StartStream(s, std::move(h), std::move(src));
    });
  }
  // Wakes pile up as one: the stream takes all there is when it writes.
  void Wake() override {
    if (connection_->wakeQueued.exchange(true)) return;
    asio::post(core_->io, [weak = std::weak_ptr<Connection>(connection_)] {
      if (auto c = weak.lock()) {
        c->wakeQueued = false;
        c->Wake();
      }
    });
  }

 private:
  std::shared_ptr<PageServer::Core> core_;
  std::shared_ptr<Connection> connection_;
  uint64_t serial_;
  std::atomic<bool> answered_{false};
};

}  // namespace

void Connection::WaitForRequest() {
  phase_ = Phase::Waiting;
  framing_.emplace(core_.limits);
  parser_.emplace();
  parser_->eager(false);
  // The framing keeps the head within its limit first; the parser's own
  // limits are the second line.
  parser_->header_limit(static_cast<uint32_t>(core_.limits.headBytes + 2));
  // A declared length is weighed once the head is admitted (below); a
  // chunked body is cut by the parser as it arrives. (No limit at all, an
  // empty one, would refuse every body.)
  parser_->body_limit(std::numeric_limits<uint64_t>::max());
  request_ = {};
  SetDeadline(admitted ? core_.limits.admittedIdleMs : core_.limits.idleMs);
  if (buffer_.size() > 0) {
    phase_ = Phase::Head;
    SetDeadline(core_.limits.headMs);
    OnHeadBytes();
  } else {
    Read();
  }
}

// One read at a time: a read still pending (a deadline struck while it
// waited) delivers to the phase the connection is in when it completes.
void Connection::Read() {
  if (reading_) return;
  const size_t room = std::min(kReadSize, buffer_.max_size() - buffer_.size());
  if (room == 0) return Refuse(431);
  reading_ = true;
  socket_.async_read_some(buffer_.prepare(room), [self = shared_from_this()](const ErrorCode& error, size_t bytes) {
    self->reading_ = false;
    self->OnRead(error, bytes);
  });
}

void Connection::OnRead(const ErrorCode& error, size_t bytes) {
  if (phase_ == Phase::Closed) return;
  if (error) return Close();
  buffer_.commit(bytes);
  switch (phase_) {
    case Phase::Waiting:
      phase_ = Phase::Head;
      SetDeadline(core_.limits.headMs);
      return OnHeadBytes();
    case Phase::Head:
      return OnHeadBytes();
    case Phase::Body:
      SetDeadline(core_.limits.bodyStallMs);
      return FeedBody();
    case Phase::Streaming:
      // An event stream's client has nothing to say; reading is how its
      // going away is noticed.
      buffer_.consume(buffer_.size());
      return Read();
    case Phase::Closing:
      // Past what is drained, the client's sending stops in the full
      // window while its answer still waits to be read, until the deadline.
      drained_ += buffer_.size();
      buffer_.consume(buffer_.size());
      if (drained_ >= drainBytes_) return;
      SetDeadline(kDrainMs);
      return Read();
    default:
      return;
  }
}

void Connection::OnHeadBytes() {
  const auto data = buffer_.data();
  const auto progress = framing_->Scan(std::string_view(static_cast<const char*>(data.data()), data.size()));
  if (progress.status != 0) return Refuse(progress.status);
  if (!progress.complete) return Read();
  OnHead(progress.headStart, progress.headEnd);
}

void Connection::OnHead(size_t headStart, size_t headEnd) {
  const char* bytes = static_cast<const char*>(buffer_.data().data());
  ErrorCode error;
  parser_->put(asio::buffer(bytes + headStart, headEnd - headStart), error);
  buffer_.consume(headEnd);
  if (error || !parser_->is_header_done()) return Refuse(400);

  const auto& head = parser_->get();
  request_.method = std::string(head.method_string());
  request_.target = std::string(head.target());
  const size_t question = request_.target.find('?');
  request_.path = Unescaped(std::string_view(request_.target).substr(0, question), false);
  if (question != std::string::npos) request_.query = request_.target.substr(question + 1);
  for (const auto& field : head) request_.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
  keepAlive_ = head.keep_alive();

  if (const int status = HeadVerdict(request_); status != 0) return Refuse(status);
  if (core_.admit)
    if (auto refusal = core_.admit(request_)) return Refuse(std::move(*refusal));
  admitted = true;
  const uint64_t declared = parser_->content_length().value_or(0);
  if (declared > core_.limits.bodyBytes) {
    // The page's browser sends the whole body before it reads an answer,
    // and sends it again when the connection is cut under it: what it
    // sends is read and dropped, so that it reads the refusal.
    return Refuse(PageAnswer::Text(413, ""), declared);
  }
  parser_->body_limit(core_.limits.bodyBytes);
  phase_ = Phase::Body;
  SetDeadline(core_.limits.bodyStallMs);
  FeedBody();
}

void Connection::FeedBody() {
  // The parser may take a step without a byte (from a chunk's head to its
  // data); two such steps in a row mean it wants more.
  for (int idle = 0; !parser_->is_done() && buffer_.size() > 0 && idle < 2;) {
    ErrorCode error;
    const size_t used = parser_->put(buffer_.data(), error);
    buffer_.consume(used);
    if (error == http::error::need_more) break;
    if (error) return Refuse(error == http::error::body_limit ? 413 : 400);
    idle = used == 0 ? idle + 1 : 0;
  }
  if (!parser_->is_done()) return Read();
  Dispatch();
}

void Connection::Dispatch() {
  phase_ = Phase::Handled;
  ++deadlineSerial_;
  deadline_.cancel();
  ++requests_;
  ++serial_;
  request_.body = std::move(parser_->get().body());
  parser_.reset();
  auto exchange = std::make_shared<Exchange>(core_.shared_from_this(), shared_from_this(), serial_);
  if (core_.route) core_.route(std::move(request_), std::move(exchange));
}

template <typename Message>
void Connection::AddAnswerHeaders(Message& message, const PageAnswer& answer) const {
  for (const auto& [name, value] : core_.answerHeaders) message.insert(name, value);
  if (!answer.contentType.empty()) message.set(http::field::content_type, answer.contentType);
  for (const auto& [name, value] : answer.headers) message.insert(name, value);
}

void Connection::Answer(uint64_t serial, PageAnswer answer) {
  if (phase_ != Phase::Handled || serial != serial_) return;
  Write(std::move(answer), keepAlive_ && requests_ < core_.limits.requestsPerConnection && !core_.stopping);
}

void Connection::Refuse(PageAnswer answer, uint64_t drainBytes) {
  refused = true;
  // A body read so far goes at once.
  parser_.reset();
  drainBytes_ = drainBytes;
  Write(std::move(answer), false);
}

void Connection::Write(PageAnswer answer, bool keepAlive) {
  auto message = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(answer.status), 11);
  AddAnswerHeaders(*message, answer);
  message->body() = std::move(answer.body);
  message->keep_alive(keepAlive);
  message->prepare_payload();
  phase_ = Phase::Writing;
  SetDeadline(kWriteStallMs);
  http::async_write(socket_, *message, [self = shared_from_this(), message, keepAlive](const ErrorCode& error, size_t) {
    if (self->phase_ == Phase::Closed) return;
    if (error) return self->Close();
    if (keepAlive) return self->WaitForRequest();
    self->Linger();
  });
}

// Closes gently: the answer is out, what the client still sends is read and
// dropped for a moment, then the connection goes.
void Connection::Linger() {
  phase_ = Phase::Closing;
  ErrorCode ignored;
  socket_.shutdown(tcp::socket::shutdown_send, ignored);
  drained_ = buffer_.size();
  buffer_.consume(buffer_.size());
  SetDeadline(kDrainMs);
  Read();
}

void Connection::StartStream(uint64_t serial, PageAnswer head, StreamSource source) {
  if (phase_ != Phase::Handled || serial != serial_) {
    if (source.closed) source.closed();
    return;
  }
  source_ = std::move(source);
  http::response<http::empty_body> message(static_cast<http::status>(head.status), 11);
  AddAnswerHeaders(message, head);
  // The stream ends with the connection.
  message.keep_alive(false);
  std::ostringstream text;
  text << message.base();
  streamOut_ = text.str();
  phase_ = Phase::Streaming;
  WriteStream();
  Read();
}

void Connection::Wake() {
  if (phase_ == Phase::Streaming) WriteStream();
}

void Connection::WriteStream() {
  if (writingStream_ || phase_ != Phase::Streaming) return;
  if (!streamEnds_ && source_.take && !source_.take(streamOut_)) streamEnds_ = true;
  if (streamOut_.empty()) {
    if (streamEnds_) return Linger();
    return SetDeadline(kStreamQuietMs);
  }
  writingStream_ = true;
  streamWriting_ = std::move(streamOut_);
  streamOut_.clear();
  SetDeadline(kWriteStallMs);
  asio::async_write(socket_, asio::buffer(streamWriting_), [self = shared_from_this()](const ErrorCode& error, size_t) {
    self->writingStream_ = false;
    if (self->phase_ == Phase::Closed) return;
    if (error) return self->Close();
    self->WriteStream();
  });
}

void Connection::SetDeadline(int milliseconds) {
  const uint64_t serial = ++deadlineSerial_;
  deadline_.expires_after(std::chrono::milliseconds(milliseconds));
  deadline_.async_wait([self = shared_from_this(), serial](const ErrorCode& error) {
    if (!error && serial == self->deadlineSerial_) self->OnDeadline();
  });
}

void Connection::OnDeadline() {
  switch (phase_) {
    case Phase::Head:
    case Phase::Body:
      return Refuse(408);
    case Phase::Streaming:
      if (writingStream_) return Close();
      streamOut_ += ": keep-alive\n\n";
      return WriteStream();
    case Phase::Closed:
    case Phase::Handled:
      return;
    default:
      return Close();
  }
}

void Connection::Close() {
  if (phase_ == Phase::Closed) return;
  phase_ = Phase::Closed;
  ++deadlineSerial_;
  deadline_.cancel();
  ErrorCode ignored;
  socket_.close(ignored);
  core_.Forget(place);
  if (auto closed = std::move(source_.closed)) {
    source_ = {};
    closed();
  }
}

void PageServer::Core::Accept() {
  if (stopping) return;
  acceptor.async_accept([this](const ErrorCode& error, tcp::socket socket) {
    if (stopping || error == asio::error::operation_aborted) return;
    if (error) {
      // Out of descriptors, say: try again in a moment rather than spin.
      auto timer = std::make_shared<asio::steady_timer>(io, std::chrono::milliseconds(100));
      timer->async_wait([this, timer](const ErrorCode& e) {
        if (!e) Accept();
      });
      return;
    }
    Accepted(std::move(socket));
    if (static_cast<int>(connections.size()) >= limits.connections && Unadmitted() == 0) {
      // Every connection is the page's: the next one waits in the backlog
      // until one of them closes.
      acceptPaused = true;
      return;
    }
    Accept();
  });
}

void PageServer::Core::Accepted(tcp::socket socket) {
  if (static_cast<int>(connections.size()) >= limits.connections && !PushOutOne()) return;
  if (static_cast<int>(Unadmitted()) >= limits.unadmitted) PushOutOne();
  ErrorCode ignored;
  // An answer's head and body, and each event, go out at once rather than
  // after the client's delayed acknowledgement.
  socket.set_option(tcp::no_delay(true), ignored);
  auto connection = std::make_shared<Connection>(*this, std::move(socket));
  connection->place = connections.insert(connections.end(), connection);
  connection->Start();
}

size_t PageServer::Core::Unadmitted() {
  size_t count = 0;
  for (const auto& weak : connections)
    if (auto c = weak.lock(); c && !c->admitted) ++count;
  return count;
}

bool PageServer::Core::PushOutOne() {
  std::shared_ptr<Connection> victim;
  for (const auto& weak : connections) {
    auto c = weak.lock();
    if (!c || c->admitted) continue;
    if (c->refused) {
      victim = c;
      break;
    }
    if (!victim) victim = c;
  }
  if (!victim) return false;
  victim->Close();
  return true;
}

void PageServer::Core::Forget(std::list<std::weak_ptr<Connection>>::iterator place) {
  connections.erase(place);
  if (acceptPaused && !stopping) {
    acceptPaused = false;
    Accept();
  }
}

void PageServer::Core::CloseAll() {
  ErrorCode ignored;
  acceptor.close(ignored);
  std::vector<std::shared_ptr<Connection>> open;
  for (const auto& weak : connections)
    if (auto c = weak.lock()) open.push_back(c);
  for (const auto& c : open) c->Close();
}

PageServer::PageServer() : core_(std::make_shared<Core>()) {}

PageServer::~PageServer() { Stop(); }

bool PageServer::Listen(const ServerLimits& limits) {
  core_->limits = limits;
  ErrorCode error;
  const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), 0);
  core_->acceptor.open(endpoint.protocol(), error);
  if (!error) core_->acceptor.bind(endpoint, error);
  // Room in the backlog for a whole cap of connections arriving at once.
  if (!error) core_->acceptor.listen(2 * limits.connections, error);
  if (error) return false;
  core_->port = core_->acceptor.local_endpoint(error).port();
  return !error;
}

int PageServer::Port() const { return core_->port; }

void PageServer::SetAnswerHeaders(HeaderList headers) { core_->answerHeaders = std::move(headers); }

void PageServer::Serve(Admission admit, Route route) {
  if (core_->thread.joinable() || !core_->acceptor.is_open()) return;
  core_->admit = std::move(admit);
  core_->route = std::move(route);
  core_->Accept();
  core_->thread = std::thread([core = core_.get()] { core->io.run(); });
}

void PageServer::Stop() {
  if (core_->stopping.exchange(true)) return;
  if (!core_->thread.joinable()) {
    core_->CloseAll();
    return;
  }
  asio::post(core_->io, [core = core_.get()] {
    core->CloseAll();
    core->io.stop();
  });
  core_->thread.join();
}

void PageServer::RunAfter(int milliseconds, std::function<void()> task) {
  if (core_->stopping) return;
  auto timer = std::make_shared<asio::steady_timer>(core_->io, std::chrono::milliseconds(milliseconds));
  timer->async_wait([timer, task = std::move(task)](const ErrorCode& error) {
    if (!error) task();
  });
}

void PageServer::RunBlocking(std::function<void()> task) { asio::post(BlockingPool(), std::move(task)); }

}  // namespace Zentrovak::UI::Posix
