#include "ui/posix/async_call_order.h"

#include <algorithm>

namespace Zentrovak::UI::Posix {

AsyncCallOrder::~AsyncCallOrder() {
  for (auto& [name, document] : documents_)
    for (auto& [number, job] : document.early)
      if (job) job->Destroy();
}

// Starts the calls that now follow in order without a gap.
void AsyncCallOrder::Release(Document& document, Clock::time_point now, std::vector<ExternalAsyncThread*>& due) {
  const int64_t before = document.next;
  for (auto it = document.early.find(document.next); it != document.early.end();
       it = document.early.find(document.next)) {
    if (it->second) due.push_back(it->second);
    document.early.erase(it);
    ++document.next;
  }
  // A new wait begins for the next missing call.
  if (document.next != before) document.waitingSince = now;
}

void AsyncCallOrder::MakeRoomForOneMore(std::vector<ExternalAsyncThread*>& due) {
  if (documents_.size() < kMaxDocuments) return;
  auto oldest = std::min_element(documents_.begin(), documents_.end(),
                                 [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; });
  for (auto& [number, job] : oldest->second.early)
    if (job) due.push_back(job);
  documents_.erase(oldest);
}

AsyncCallOrder::Outcome AsyncCallOrder::Add(const std::string& documentId, int64_t number, ExternalAsyncThread* job,
                                            Clock::time_point now, std::vector<ExternalAsyncThread*>& due) {
  auto found = documents_.find(documentId);
  if (found == documents_.end()) {
    MakeRoomForOneMore(due);
    found = documents_.emplace(documentId, Document{}).first;
  }
  Document& document = found->second;
  document.lastUse = now;
  if (number < document.next || document.early.count(number)) {
    // Its place was given up, or taken twice: it runs as it comes.
    if (job) due.push_back(job);
    return Outcome::Due;
  }
  if (number != document.next && document.early.size() >= kMaxEarly) return Outcome::Refused;
  if (document.early.empty()) document.waitingSince = now;
  document.early[number] = job;
  Release(document, now, due);
  return document.early.count(number) ? Outcome::Waiting : Outcome::Due;
}

void AsyncCallOrder::Expire(Clock::time_point now, std::vector<ExternalAsyncThread*>& due, std::vector<Gap>& gaps) {
  for (auto& [name, document] : documents_) {
    while (!document.early.empty() && now - document.waitingSince >= kGapWait) {
      const int64_t following = document.early.begin()->first;
      gaps.push_back({document.next, following - 1});
      document.next = following;
      Release(document, now, due);
    }
  }
}

std::optional<AsyncCallOrder::Clock::time_point> AsyncCallOrder::NextExpiry() const {
  std::optional<Clock::time_point> next;
  for (const auto& [name, document] : documents_)
    if (!document.early.empty() && (!next || document.waitingSince + kGapWait < *next))
      next = document.waitingSince + kGapWait;
  return next;
}

}  // namespace Zentrovak::UI::Posix
