#include "checkfix/app_update.h"

#include <cstdlib>

#include "checkfix/check_fix.h"
#include "checkfix/page_calls.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

bool CheckApplicationUpdate(bool* mandatory) {
  const std::shared_ptr<ItemConfiguration> model = CurrentConfiguration();
  ConfigItem& record = model->ApplicationRecord();
  const bool needed = DetectItem(record, true) != Passed;
  if (mandatory) {
    const std::string imperative = Platform::AsciiLower(GetAttr(record.attributes, "imperative"));
    *mandatory = imperative == "true" || imperative == "1";
  }
  return needed;
}

void ProgressThrottle::Report(const Network::DownloadProgress* progress, int32_t itemNumber) {
  if (!progress) return;
  const int32_t percent = progress->percent;
  if (std::abs(percent - lastPercent_.load()) > 1 || percent == 0) {
    setProgress(progress->inProgress, percent, itemNumber);
    lastPercent_ = percent;
  }
}

bool UpdateDownloadProgress(const Network::DownloadProgress* progress) {
  static ProgressThrottle throttle;
  throttle.Report(progress, -1);
  return true;
}

}  // namespace Zentrovak::Assistant
