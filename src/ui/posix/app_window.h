// The page's window on Linux: Chromium in app mode, started by the program
// with a DevTools connection on a socket handed to it (never a port), so the
// program can work the window the page lives in, which a page cannot. The
// connection also ties the window to the program: when the program ends,
// however it ends, the browser sees the connection close and quits.
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace Zentrovak::UI::Posix {

class AppWindow {
 public:
  // Starts `chromium` with `args` and the connection; null when it could
  // not be started.
  static std::unique_ptr<AppWindow> Open(const std::string& chromium, const std::vector<std::string>& args);
  ~AppWindow();
  AppWindow(const AppWindow&) = delete;
  AppWindow& operator=(const AppWindow&) = delete;

  // Minimises the browser window showing a page of `origin`; false when the
  // browser does not answer in time or shows no such page.
  bool Minimize(const std::string& origin);

 private:
  explicit AppWindow(int socket) : socket_(socket) {}
  bool MinimizeLocked(const std::string& origin);
  // One command and its answer's "result"; null on an error or silence.
  nlohmann::json Request(const std::string& method, nlohmann::json params);

  std::mutex mutex_;
  int socket_ = -1;
  int nextId_ = 1;
  std::string received_;
};

}  // namespace Zentrovak::UI::Posix
