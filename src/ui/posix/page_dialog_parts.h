// What the rooms of the posix dialog share: the call and stream records
// and the small helpers for texts and the page's messages. Internal to
// ui/posix: the dialog itself (page_dialog.cpp: start, admission, routes,
// the dialog interface), the site it serves (page_site.cpp), the calls
// between page and program (page_calls.cpp) and the event stream.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/text.h"
#include "ui/posix/page_dialog.h"

namespace Zentrovak::UI::Posix {

// A synchronous call of the page: its request, and each continuation,
// waits in `waiting` for the next operation for the blocked page or for
// the call's result.
struct CPageDialog::CallChannel {
  int64_t id = 0;
  uint64_t generation = 0;
  std::mutex m;
  std::deque<nlohmann::json> outbox;  // operations for the blocked page
  bool finished = false;
  nlohmann::json result;
  std::shared_ptr<PageExchange> waiting;
};

// A worker's operation, sent for it by the user-interface thread. Guarded
// by the dialog's mutex.
struct CPageDialog::WorkerSend {
  int64_t id = 0;
  bool sent = false;
  Platform::HResult failure = 0;               // not sent: no document, or a full stream
  std::optional<uint64_t> generation;          // sent on this document's stream
  std::shared_ptr<CPageDialog::EventStream> pageStream;
};

// Guarded by the dialog's mutex.
struct CPageDialog::EventStream {
  uint64_t generation = 0;
  std::deque<std::string> events;  // at most kMaxQueuedEvents
  bool ended = false;
  std::shared_ptr<PageExchange> exchange;  // the stream's request
};

inline std::string Utf8(std::u16string_view text) { return Platform::Utf16ToUtf8(text); }

// The page as served: the shim's script goes first into the head so that
// window.external exists before the page's own scripts run.
inline std::string WithShim(std::string_view html) {
  const std::string tag = "<script src=\"/bridge/shim.js\"></script>";
  std::string page(html);
  std::string lower = Platform::AsciiLower(page);
  size_t at = 0;
  for (const char* anchor : {"<head", "<html"}) {
    const size_t found = lower.find(anchor);
    if (found != std::string::npos) {
      const size_t close = lower.find('>', found);
      if (close != std::string::npos) {
        at = close + 1;
        break;
      }
    }
  }
  if (at == 0 && page.compare(0, 3, "\xEF\xBB\xBF") == 0) at = 3;
  page.insert(at, tag);
  return page;
}

// Fields of what the page sent; a missing or mistyped field reads empty.
inline std::string StringField(const nlohmann::json& body, const char* key) {
  const auto it = body.find(key);
  return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
}
inline bool BoolField(const nlohmann::json& body, const char* key) {
  const auto it = body.find(key);
  return it != body.end() && it->is_boolean() && it->get<bool>();
}

}  // namespace Zentrovak::UI::Posix
