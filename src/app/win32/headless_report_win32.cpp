// Windows has no headless report: the assistant always shows its page.
#include "app/headless_report.h"

namespace Zentrovak::App {

int RunHeadlessReport(ReportMode, bool) { return 2; }

}  // namespace Zentrovak::App
