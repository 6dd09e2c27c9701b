// The rules a request head of the page server must keep, beyond what the
// HTTP parser checks: the framing and limits of its lines, watched byte by
// byte as the head arrives, and the headers the page's browser never sends
// in the way a local attacker would (two Host or Origin headers, an empty
// Origin, a compressed body, a body framed two ways).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/posix/page_server.h"

namespace Zentrovak::UI::Posix {

// Follows a head as its bytes arrive. Every line must end in CRLF (a bare
// CR or LF is refused), a header line may not begin with a blank (the
// obsolete folding of a value onto the next line), and the lines, their
// number and the whole head stay within the limits.
class HeadFraming {
 public:
  explicit HeadFraming(const ServerLimits& limits) : limits_(limits) {}

  struct Progress {
    int status = 0;        // refused with this status; 0 while it passes
    bool complete = false;  // the empty line that ends the head was read
    size_t headStart = 0;  // the empty lines a client may send before a request are skipped
    size_t headEnd = 0;    // just past the empty line
  };
  // `received` holds the head's bytes so far from the first one on, and
  // maybe more after the head; only what was not seen before is read.
  Progress Scan(std::string_view received);

 private:
  const ServerLimits& limits_;
  Progress progress_;
  size_t seen_ = 0;
  size_t lineStart_ = 0;
  size_t lines_ = 0;  // request line and header lines so far
  bool carriageReturn_ = false;
};

// The status a parsed head is refused with, 0 when it passes.
int HeadVerdict(const PageRequest& head);

}  // namespace Zentrovak::UI::Posix
