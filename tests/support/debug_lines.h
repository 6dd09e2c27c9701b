// The diagnostic lines written while a test runs, from any thread: the
// program's debug output is sent here from construction to destruction.
#pragma once
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/debug_output.h"

namespace Zentrovak::Testing {

class DebugLines {
 public:
  DebugLines() {
    Platform::SetDebugSink([this](std::u16string_view text) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.emplace_back(text);
    });
  }
  ~DebugLines() { Platform::SetDebugSink({}); }
  DebugLines(const DebugLines&) = delete;
  DebugLines& operator=(const DebugLines&) = delete;

  std::vector<std::u16string> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::u16string> lines_;
};

}  // namespace Zentrovak::Testing
