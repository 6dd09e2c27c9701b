#include "commands/command_registry.h"

#include <array>
#include <mutex>

namespace Zentrovak::Commands {

namespace {
constexpr int32_t kLastCommandId = 32;
std::mutex registryMutex;
std::array<CommandFunction, kLastCommandId + 1>& Handlers() {
  static std::array<CommandFunction, kLastCommandId + 1> handlers;
  return handlers;
}
}  // namespace

void SetCommandHandler(int32_t id, CommandFunction handler) {
  if (id < 1 || id > kLastCommandId) return;
  std::lock_guard<std::mutex> lock(registryMutex);
  Handlers()[id] = std::move(handler);
}

bool RunCommandHandler(int32_t id, UI::Variant& result, UI::IBSDialog* dialog, const UI::Variant& a1,
                       const UI::Variant& a2, const UI::Variant& a3, const UI::Variant& a4) {
  if (id < 1 || id > kLastCommandId) return false;
  CommandFunction handler;
  {
    std::lock_guard<std::mutex> lock(registryMutex);
    handler = Handlers()[id];
  }
  if (!handler) return false;
  handler(result, dialog, a1, a2, a3, a4);
  return true;
}

}  // namespace Zentrovak::Commands
