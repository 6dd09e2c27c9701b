#include "ui/posix/request_rules.h"

#include "platform/text.h"

namespace Zentrovak::UI::Posix {

HeadFraming::Progress HeadFraming::Scan(std::string_view received) {
  const auto refuse = [this](int status) {
    progress_.status = status;
    return progress_;
  };
  if (progress_.status != 0 || progress_.complete) return progress_;
  for (; seen_ < received.size(); ++seen_) {
    // Blank lines before a request count too: no byte is free.
    if (seen_ + 1 > limits_.headBytes) return refuse(431);
    const char c = received[seen_];
    if (carriageReturn_) {
      carriageReturn_ = false;
      if (c != '\n') return refuse(400);
      const size_t length = seen_ - 1 - lineStart_;
      lineStart_ = seen_ + 1;
      if (length == 0 && lines_ == 0) {
        progress_.headStart = lineStart_;
      } else if (length == 0) {
        progress_.complete = true;
        progress_.headEnd = lineStart_;
        ++seen_;
        return progress_;
      } else if (++lines_ > limits_.headerCount + 1) {
        return refuse(431);
      }
      continue;
    }
    if (c == '\r') {
      carriageReturn_ = true;
      continue;
    }
    // Which line a lone LF ends differs between readers; the browser
    // never sends one.
    if (c == '\n') return refuse(400);
    // A value folded onto the next line.
    if ((c == ' ' || c == '\t') && seen_ == lineStart_ && lines_ > 0) return refuse(400);
    const bool requestLine = lines_ == 0;
    if (seen_ + 1 - lineStart_ > (requestLine ? limits_.requestLine : limits_.headerLine))
      return refuse(requestLine ? 414 : 431);
  }
  return progress_;
}

int HeadVerdict(const PageRequest& head) {
  if (head.target.empty() || head.target.front() != '/') return 400;
  // Which of two Host or Origin headers counts differs between a proxy, the
  // browser and the server; the page's browser sends one, and never an
  // empty Origin.
  if (head.HeaderCount("Host") != 1 || head.HeaderCount("Origin") > 1) return 400;
  if (head.HasHeader("Origin") && head.Header("Origin").empty()) return 400;
  // A compressed body would be expanded past every limit.
  if (head.HasHeader("Content-Encoding")) return 415;
  const size_t lengths = head.HeaderCount("Content-Length");
  const size_t encodings = head.HeaderCount("Transfer-Encoding");
  // A body framed two ways is read one way here and another way elsewhere.
  if (lengths > 1 || encodings > 1 || (lengths == 1 && encodings == 1)) return 400;
  if (encodings == 1 && !Platform::AsciiEqualsIgnoreCase(head.Header("Transfer-Encoding"), "chunked")) return 501;
  if (lengths == 1) {
    const std::string length = head.Header("Content-Length");
    if (length.empty() || length.size() > 19 || length.find_first_not_of("0123456789") != std::string::npos)
      return 400;
  }
  return 0;
}

}  // namespace Zentrovak::UI::Posix
