// The assistant's own update: whether one is due, and the download
// progress it reports to the page.
#pragma once
#include <atomic>
#include <cstdint>

#include "net/http.h"

namespace Zentrovak::Assistant {

// True when the application record's detect entries do not all pass.
// mandatory (may be null) tells whether its "imperative" is true or 1.
bool CheckApplicationUpdate(bool* mandatory);

// Reports a download's progress to the page as setProgress(flag, percent,
// item) when the percentage moved by more than 1 since the last report, or
// is 0. The last reported percentage starts at 0 and is kept for the whole
// process.
class ProgressThrottle {
 public:
  void Report(const Network::DownloadProgress* progress, int32_t itemNumber);

 private:
  std::atomic<int32_t> lastPercent_{0};
};

// The progress callback of the assistant's update (item number -1).
bool UpdateDownloadProgress(const Network::DownloadProgress* progress);

}  // namespace Zentrovak::Assistant
