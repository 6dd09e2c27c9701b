// The page server on its own: connections kept between requests, answers
// given later from other threads, the event stream, and the connections
// that give way at the caps, with raw requests on loopback sockets.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/posix/page_server.h"

namespace Zentrovak::UI::Posix {
namespace {

using namespace std::chrono_literals;

// A client socket with a deadline on every wait.
class Client {
 public:
  explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Client() { ::close(fd_); }
  bool Connected() const { return connected_; }
  void Send(const std::string& text) { ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size())); }
  // Reads until `until` is in what came, the connection ends or the time
  // is up; answers all that came.
  std::string ReadUntil(const std::string& until, std::chrono::milliseconds wait = 5s) {
    const auto end = std::chrono::steady_clock::now() + wait;
    while (received_.find(until) == std::string::npos && !closed_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd waiting{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
      char chunk[4096];
      const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
      if (got <= 0) closed_ = true;
      else received_.append(chunk, static_cast<size_t>(got));
    }
    return received_;
  }
  // Whether the server closed the connection within `wait`.
  bool ClosedWithin(std::chrono::milliseconds wait) {
    ReadUntil(std::string(1, '\0'), wait);
    return closed_;
  }
  void Forget() { received_.clear(); }

 private:
  int fd_;
  bool connected_ = false;
  bool closed_ = false;
  std::string received_;
};

std::string Get(const std::string& path, const std::string& extra = "") {
  return "GET " + path + " HTTP/1.1\r\nHost: test\r\n" + extra + "\r\n";
}

// A server whose admission lets in requests carrying "X-Key: yes" and
// whose route answers "/now" at once and "/later" from another thread.
class PageServerTest : public ::testing::Test {
 protected:
  void Start(ServerLimits limits = {}) {
    ASSERT_TRUE(server.Listen(limits));
    server.Serve(
        [](const PageRequest& head) -> std::optional<PageAnswer> {
          if (head.Header("X-Key") == "yes") return std::nullopt;
          return PageAnswer::Text(403, "refused");
        },
        [this](PageRequest request, std::shared_ptr<PageExchange> exchange) {
          if (request.path == "/later") {
            std::lock_guard<std::mutex> hold(mutex);
            helpers.emplace_back([exchange, query = request.QueryValue("n")] {
              std::this_thread::sleep_for(50ms);
              exchange->Answer(PageAnswer::Text(200, "later " + query));
            });
          } else if (request.path == "/stream") {
            exchange->Stream(PageAnswer::Content("", "text/event-stream"),
                             StreamSource{[this](std::string& out) {
                                            std::lock_guard<std::mutex> hold(mutex);
                                            out += pending;
                                            pending.clear();
                                            return !ended;
                                          },
                                          [this] { streamClosed = true; }});
            std::lock_guard<std::mutex> hold(mutex);
            stream = exchange;
          } else {
            exchange->Answer(PageAnswer::Text(200, "now " + request.path + " " + request.body));
          }
        });
  }
  void TearDown() override {
    server.Stop();
    for (auto& helper : helpers) helper.join();
  }

  PageServer server;
  std::mutex mutex;
  std::vector<std::thread> helpers;
  std::string pending;
  bool ended = false;
  std::shared_ptr<PageExchange> stream;
  std::atomic<bool> streamClosed{false};
};

TEST_F(PageServerTest, AnAdmittedConnectionIsKeptForItsNextRequestsAnsweredNowOrLater) {
  ServerLimits limits;
  limits.requestsPerConnection = 3;
  Start(limits);
  Client client(server.Port());
  ASSERT_TRUE(client.Connected());
  client.Send("POST /now HTTP/1.1\r\nHost: test\r\nX-Key: yes\r\nContent-Length: 4\r\n\r\nbody");
  EXPECT_NE(client.ReadUntil("now /now body").find("HTTP/1.1 200 OK"), std::string::npos);
  client.Forget();
  client.Send(Get("/later?n=2", "X-Key: yes\r\n"));
  EXPECT_NE(client.ReadUntil("later 2").find("later 2"), std::string::npos);
  client.Forget();
  // The last request the connection may carry is answered, and says so.
  client.Send(Get("/now", "X-Key: yes\r\n"));
  const std::string last = client.ReadUntil("now /now");
  EXPECT_NE(last.find("Connection: close"), std::string::npos) << last;
  EXPECT_TRUE(client.ClosedWithin(2s));
}

TEST_F(PageServerTest, AnIdleConnectionIsClosedAndARefusedOneEndsAfterItsAnswer) {
  ServerLimits limits;
  limits.idleMs = 200;
  Start(limits);
  Client idle(server.Port());
  EXPECT_TRUE(idle.ClosedWithin(2s));
  Client refused(server.Port());
  refused.Send(Get("/now"));
  EXPECT_NE(refused.ReadUntil("refused").find("HTTP/1.1 403 Forbidden"), std::string::npos);
  EXPECT_TRUE(refused.ClosedWithin(2s));
}

TEST_F(PageServerTest, AnAdmittedConnectionIsNeverPushedOutByConnectionsThatWereNot) {
  ServerLimits limits;
  limits.connections = 6;
  limits.unadmitted = 3;
  Start(limits);
  Client page(server.Port());
  page.Send(Get("/now", "X-Key: yes\r\n"));
  ASSERT_NE(page.ReadUntil("now /now").find("200 OK"), std::string::npos);
  page.Forget();
  // Twenty connections that say nothing, then one more with a head half
  // sent: each new one takes the place of the oldest that was not admitted.
  std::vector<std::unique_ptr<Client>> flood;
  for (int i = 0; i < 20; ++i) flood.push_back(std::make_unique<Client>(server.Port()));
  Client newest(server.Port());
  newest.Send("GET /now HTTP/1.1\r\n");
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(flood.front()->ClosedWithin(2s));
  EXPECT_FALSE(flood.back()->ClosedWithin(100ms));
  page.Send(Get("/later?n=7", "X-Key: yes\r\n"));
  EXPECT_NE(page.ReadUntil("later 7").find("later 7"), std::string::npos);
  newest.Send("Host: test\r\nX-Key: yes\r\n\r\n");
  EXPECT_NE(newest.ReadUntil("now /now").find("200 OK"), std::string::npos);
}

TEST_F(PageServerTest, AStreamWritesWhatItsSourceHasWhenWokenAndTellsWhenTheClientGoes) {
  Start();
  {
    Client client(server.Port());
    client.Send(Get("/stream", "X-Key: yes\r\n"));
    EXPECT_NE(client.ReadUntil("\r\n\r\n").find("text/event-stream"), std::string::npos);
    for (const char* event : {"data: one\n\n", "data: two\n\n"}) {
      std::shared_ptr<PageExchange> exchange;
      {
        std::lock_guard<std::mutex> hold(mutex);
        pending += event;
        exchange = stream;
      }
      ASSERT_TRUE(exchange);
      exchange->Wake();
      EXPECT_NE(client.ReadUntil(event).find(event), std::string::npos);
    }
    EXPECT_FALSE(streamClosed);
  }
  for (int i = 0; i < 100 && !streamClosed; ++i) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(streamClosed);
}

TEST_F(PageServerTest, StoppingWhileAnswersAreAwaitedEndsEveryConnection) {
  Start();
  Client waiting(server.Port());
  waiting.Send(Get("/later?n=1", "X-Key: yes\r\n"));
  Client streaming(server.Port());
  streaming.Send(Get("/stream", "X-Key: yes\r\n"));
  streaming.ReadUntil("\r\n\r\n");
  server.Stop();
  EXPECT_TRUE(streaming.ClosedWithin(2s));
  EXPECT_TRUE(waiting.ClosedWithin(2s));
  // An answer given after the stop goes nowhere.
}

}  // namespace
}  // namespace Zentrovak::UI::Posix
