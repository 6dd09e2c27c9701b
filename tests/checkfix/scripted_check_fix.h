// A check-fix class whose answers a test sets: per entry text for the
// entry operations, one code for each begin/end operation. It records the
// calls in order.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "checkfix/check_fix.h"

namespace Zentrovak::Testing {

class ScriptedCheckFix : public Assistant::ICheckFix {
 public:
  std::map<std::string, int32_t> checks;  // entry text -> answer (Passed when absent)
  std::map<std::string, int32_t> fixes;
  int32_t beginCheck = Assistant::Passed, endCheck = Assistant::Passed;
  int32_t beginFix = Assistant::Passed, endFix = Assistant::Passed;
  std::vector<std::string> calls;
  size_t checkCount = 0, fixCount = 0;

  int32_t BeginCheck() override { return Record("BeginCheck", beginCheck); }
  int32_t CheckEntry(Assistant::ConfigEntry& entry) override {
    ++checkCount;
    return Record("check " + entry.text, Answer(checks, entry.text));
  }
  int32_t EndCheck() override { return Record("EndCheck", endCheck); }
  int32_t BeginFix() override { return Record("BeginFix", beginFix); }
  int32_t FixEntry(Assistant::ConfigEntry& entry) override {
    ++fixCount;
    const int32_t answer = Answer(fixes, entry.text);
    // A repaired entry checks as passed afterwards.
    if (answer == Assistant::Passed) checks[entry.text] = Assistant::Passed;
    return Record("fix " + entry.text, answer);
  }
  int32_t EndFix() override { return Record("EndFix", endFix); }

 private:
  static int32_t Answer(const std::map<std::string, int32_t>& answers, const std::string& text) {
    const auto it = answers.find(text);
    return it == answers.end() ? Assistant::Passed : it->second;
  }
  int32_t Record(std::string call, int32_t answer) {
    calls.push_back(std::move(call));
    return answer;
  }
};

}  // namespace Zentrovak::Testing
