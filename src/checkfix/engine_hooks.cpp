#include "checkfix/engine_hooks.h"

#include "app/single_instance.h"
#include "checkfix/check_fix.h"

namespace Zentrovak::Assistant {

namespace {

EngineHooks Defaults() {
  EngineHooks h;
  h.installItemForThisSystem = [](ConfigItem&) { return static_cast<int32_t>(NotSupported); };
  h.repairDisabledItem = [](ConfigItem&) {};
  h.runApplicationUpdate = [](Network::DownloadCallback, int32_t) { return false; };
  h.restartApplication = [] { App::restart_application(); };
  // Absent until browser maintenance is built: the "level" check then
  // answers "not passed" and its repair fails.
  h.zonesAtRecommendedLevels = nullptr;
  h.resetZoneLevels = nullptr;
  h.clearSslStateAll = [] {};
  h.clearBrowserCache = [](uint32_t) {};
  h.isProxyConfigured = [] { return 0; };
  h.cleanSslCacheWithMessage = [] {};
  h.cleanBrowserCacheWithMessage = [] {};
  h.queryWindowsFirewall = [] { return std::optional<bool>(); };
  h.listFirewallProducts = [] { return std::optional<std::vector<SecurityProduct>>(); };
  h.listAntivirusProducts = [] { return std::optional<std::vector<SecurityProduct>>(); };
  h.isAutomaticUpdateEnabled = [] { return false; };
  h.computeInternetState = nullptr;
  h.addKeyId = [](Ukey::UKey*, uint32_t) {};
  h.reportKeyChanges = [] {};
  h.showTaskMessage = [](int32_t, uint32_t, uint32_t, uint32_t, Platform::WindowHandle) { return 0; };
  h.askYesNo = [](Platform::WindowHandle, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return 7; };
  return h;
}

}  // namespace

EngineHooks& Hooks() {
  static EngineHooks hooks = Defaults();
  return hooks;
}

void ResetHooks() { Hooks() = Defaults(); }

std::atomic<int32_t>& CurrentProgressItem() {
  static std::atomic<int32_t> item{0};
  return item;
}

}  // namespace Zentrovak::Assistant
