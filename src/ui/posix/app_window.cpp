// Chromium's DevTools pipe: it reads commands on descriptor 3 and writes
// answers on descriptor 4, each message JSON ended by a NUL. Both are one
// end of a socket pair here, so a write to a browser that has gone fails
// (MSG_NOSIGNAL) rather than raising SIGPIPE.
#include "ui/posix/app_window.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/message_loop.h"
#include "system/posix/desktop_browser.h"

namespace Zentrovak::UI::Posix {

using nlohmann::json;

namespace {

constexpr int kAnswerMilliseconds = 3000;
constexpr int kPipeIn = 3;
constexpr int kPipeOut = 4;

// Above the child's 3 and 4, so dup2 onto them always makes a copy (one
// without close-on-exec).
int MoveAbove(int fd, int lowest) {
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, lowest);
  ::close(fd);
  return moved;
}

}  // namespace

std::unique_ptr<AppWindow> AppWindow::Open(const std::string& chromium, const std::vector<std::string>& args) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return nullptr;
  const int ours = MoveAbove(ends[0], 10);
  const int theirs = MoveAbove(ends[1], 10);
  if (ours < 0 || theirs < 0) {
    if (ours >= 0) ::close(ours);
    if (theirs >= 0) ::close(theirs);
    return nullptr;
  }
  std::vector<std::string> all = args;
  all.push_back("--remote-debugging-pipe");
  const long pid = System::Posix::SpawnDetached(chromium, all, false, {{theirs, kPipeIn}, {theirs, kPipeOut}});
  ::close(theirs);
  if (pid <= 0) {
    ::close(ours);
    return nullptr;
  }
  return std::unique_ptr<AppWindow>(new AppWindow(ours));
}

AppWindow::~AppWindow() {
  if (socket_ >= 0) ::close(socket_);
}

json AppWindow::Request(const std::string& method, json params) {
  const int id = nextId_++;
  const std::string message = json{{"id", id}, {"method", method}, {"params", std::move(params)}}.dump() + '\0';
  for (size_t sent = 0; sent < message.size();) {
    const ssize_t n = ::send(socket_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return nullptr;
    sent += static_cast<size_t>(n);
  }
  const uint32_t start = Platform::TickCount();
  for (;;) {
    // Answers to earlier commands that came too late are passed over.
    for (size_t end = received_.find('\0'); end != std::string::npos; end = received_.find('\0')) {
      const json answer = json::parse(received_.substr(0, end), nullptr, false);
      received_.erase(0, end + 1);
      const auto answerId = answer.is_object() ? answer.find("id") : answer.end();
      if (answerId != answer.end() && answerId->is_number_integer() && answerId->get<int64_t>() == id) {
        const auto result = answer.find("result");
        return result != answer.end() && result->is_object() ? *result : json();
      }
    }
    const int left = kAnswerMilliseconds - static_cast<int>(Platform::TickCount() - start);
    if (left <= 0) return nullptr;
    pollfd readable{socket_, POLLIN, 0};
    if (::poll(&readable, 1, left) <= 0) continue;
    char buffer[16384];
    const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
    if (got <= 0) return nullptr;  // the browser has gone
    received_.append(buffer, static_cast<size_t>(got));
  }
}

bool AppWindow::Minimize(const std::string& origin) {
  std::lock_guard<std::mutex> hold(mutex_);
  // What the browser answers is read as it may come: a field of another
  // type is no answer.
  try {
    return MinimizeLocked(origin);
  } catch (const json::exception&) {
    return false;
  }
}

bool AppWindow::MinimizeLocked(const std::string& origin) {
  const json targets = Request("Target.getTargets", json::object());
  if (!targets.is_object() || !targets.contains("targetInfos") || !targets["targetInfos"].is_array()) return false;
  for (const auto& target : targets["targetInfos"]) {
    if (!target.is_object() || target.value("type", "") != "page") continue;
    const std::string url = target.value("url", "");
    if (url.rfind(origin + "/", 0) != 0) continue;
    const json window = Request("Browser.getWindowForTarget", {{"targetId", target.value("targetId", "")}});
    if (!window.is_object() || !window.contains("windowId")) continue;
    const json done = Request("Browser.setWindowBounds",
                              {{"windowId", window["windowId"]}, {"bounds", {{"windowState", "minimized"}}}});
    return done.is_object();
  }
  return false;
}

}  // namespace Zentrovak::UI::Posix
