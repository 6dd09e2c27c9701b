// The check pass without a page (Linux: --check, --fix, --json). It issues
// the page's commands in the page's order and reads the answers as the page
// does, following the same description of the pass (res/check_pass.json),
// and prints one line, or one JSON object, per step.
#pragma once

namespace Zentrovak::App {

enum class ReportMode { Check, Fix };

// Runs the pass with the commands registered and the engine connected.
// Answers the exit code: 0 when every step passed, 1 when one did not, 2
// when the pass could not run (its reason goes to standard error).
int RunHeadlessReport(ReportMode mode, bool json);

}  // namespace Zentrovak::App
