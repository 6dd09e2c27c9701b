#include "platform/debug_output.h"

#include <mutex>

namespace Zentrovak::Platform {

namespace {
std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}
DebugSink& Sink() {
  static DebugSink sink;
  return sink;
}
}  // namespace

void SetDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(sink);
}

void WriteDebugString(std::u16string_view text) {
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) Sink()(text);
  }
  WriteDebugStringToSystem(text);
}

}  // namespace Zentrovak::Platform
