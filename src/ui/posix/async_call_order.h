// The order of a page's asynchronous calls. The page numbers the calls of
// each document as it issues them; they travel on several connections and
// may arrive in another order, and are started in theirs. A call that does
// not arrive within kGapWait of a later one is given up (the page's request
// failed on its way, say), so the calls after it run; at most kMaxEarly
// calls of a document wait for an earlier one, and a call beyond them is
// refused.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/script_jobs.h"

namespace Zentrovak::UI::Posix {

class AsyncCallOrder {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kGapWait{2000};
  static constexpr size_t kMaxEarly = 1024;
  // Documents whose order is kept; the one unused longest goes first, its
  // waiting calls started in their order.
  static constexpr size_t kMaxDocuments = 16;

  AsyncCallOrder() = default;
  AsyncCallOrder(const AsyncCallOrder&) = delete;
  AsyncCallOrder& operator=(const AsyncCallOrder&) = delete;
  // Calls still waiting are destroyed unrun.
  ~AsyncCallOrder();

  enum class Outcome { Due, Waiting, Refused };
  // Call `number` of `document`; `job` is null when the page says the call
  // was refused on its way, so that only its place is taken. Due: it and
  // the calls it let through are appended to `due` in their order (one
  // that comes after its place was given up is due at once). Waiting: the
  // order keeps it. Refused: too many wait already; the caller keeps `job`.
  Outcome Add(const std::string& document, int64_t number, ExternalAsyncThread* job, Clock::time_point now,
              std::vector<ExternalAsyncThread*>& due);

  // A run of calls given up.
  struct Gap {
    int64_t first = 0;
    int64_t last = 0;
  };
  // Gives up the calls missing for kGapWait: the calls after them are
  // appended to `due`, the gaps to `gaps`.
  void Expire(Clock::time_point now, std::vector<ExternalAsyncThread*>& due, std::vector<Gap>& gaps);
  // When the next missing call is given up, if one is missing.
  std::optional<Clock::time_point> NextExpiry() const;

 private:
  struct Document {
    int64_t next = 1;
    std::map<int64_t, ExternalAsyncThread*> early;  // null: a place taken by no call
    Clock::time_point waitingSince;                  // for `next`, while calls after it wait
    Clock::time_point lastUse;
  };
  static void Release(Document& document, Clock::time_point now, std::vector<ExternalAsyncThread*>& due);
  void MakeRoomForOneMore(std::vector<ExternalAsyncThread*>& due);

  std::map<std::string, Document> documents_;
};

}  // namespace Zentrovak::UI::Posix
