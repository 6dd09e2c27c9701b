// The operations the check-and-fix engine uses from parts of the program
// that are built separately (component installs, browser maintenance,
// security products, connectivity probes, key bindings, message boxes).
// Each is a replaceable function: the owning part installs its own at
// start-up, and tests install scripted ones. Until then each answers the
// way an unavailable facility would (nothing done, "not passed").
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "checkfix/item_configuration.h"
#include "net/http.h"
#include "platform/window.h"

namespace Zentrovak::Ukey {
class UKey;
}

namespace Zentrovak::Assistant {

struct SecurityProduct {
  bool enabled = false;    // on-access scanning, or the firewall, is on
  bool upToDate = false;   // antivirus signatures
};

struct ZoneResetOutcome {
  bool anyReset = false;   // at least one zone was set back
  bool failed = false;     // a reset did not take
};

struct EngineHooks {
  // Component installs.
  std::function<int32_t(ConfigItem& item)> installItemForThisSystem;
  std::function<void(ConfigItem& item)> repairDisabledItem;
  // Installs the assistant's own update; true when it succeeded.
  std::function<bool(Network::DownloadCallback progress, int32_t parameter)> runApplicationUpdate;
  std::function<void()> restartApplication;

  // Built-in checks. An empty optional is a query that failed; an absent
  // zone hook is a facility the program does not have.
  std::function<bool()> zonesAtRecommendedLevels;
  std::function<ZoneResetOutcome()> resetZoneLevels;
  std::function<void()> clearSslStateAll;
  std::function<void(uint32_t groups)> clearBrowserCache;
  std::function<int32_t()> isProxyConfigured;
  std::function<void()> cleanSslCacheWithMessage;
  std::function<void()> cleanBrowserCacheWithMessage;
  std::function<std::optional<bool>()> queryWindowsFirewall;
  std::function<std::optional<std::vector<SecurityProduct>>()> listFirewallProducts;
  std::function<std::optional<std::vector<SecurityProduct>>()> listAntivirusProducts;
  std::function<bool()> isAutomaticUpdateEnabled;
  // 0, 1 or 2 within the two time limits; absent: the probes are not there.
  std::function<int32_t(uint32_t publicSiteMs, uint32_t bankServerMs)> computeInternetState;

  // Key bindings.
  std::function<void(Ukey::UKey* binding, uint32_t keyId)> addKeyId;
  std::function<void()> reportKeyChanges;

  // Boxes; texts are string-table ids (0: none). Answers the button.
  std::function<int32_t(int32_t kind, uint32_t text, uint32_t title, uint32_t mainInstruction,
                        Platform::WindowHandle owner)>
      showTaskMessage;
  std::function<int32_t(Platform::WindowHandle owner, uint32_t text, uint32_t title, uint32_t mainInstruction,
                        uint32_t yesText, uint32_t noText)>
      askYesNo;
};

// The process-wide hooks. Set them before the page can call commands.
EngineHooks& Hooks();
// Puts every hook back to its unavailable default.
void ResetHooks();

// The page's number of the item being installed (-1: the assistant).
std::atomic<int32_t>& CurrentProgressItem();

}  // namespace Zentrovak::Assistant
