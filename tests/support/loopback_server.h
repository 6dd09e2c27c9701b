// A small HTTP/1.0 server on 127.0.0.1 and an ephemeral port, for tests
// that fetch from "the bank's server". It answers the paths it was given,
// optionally after a delay, and 404 for every other path. It stops (and
// waits for its connections) when destroyed.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"

namespace Zentrovak::Testing {

class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool Started() const { return port_ != 0; }
  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port><path>"
  std::u16string Url(const std::string& path) const;

  void Serve(const std::string& path, std::string body, int status = 200, uint32_t delayMs = 0);
  // A server that lies: the body is sent with another Content-Length.
  void ServeWithLength(const std::string& path, std::string body, uint64_t declaredLength);
  int Requests(const std::string& path) const;

 private:
  struct Response {
    std::string body;
    int status = 200;
    uint32_t delayMs = 0;
    int64_t declaredLength = -1;  // the body's own length
  };
  void AcceptLoop();
  void Handle(intptr_t connection);

  intptr_t listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  std::map<std::string, Response> responses_;
  std::map<std::string, int> requests_;
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

}  // namespace Zentrovak::Testing
