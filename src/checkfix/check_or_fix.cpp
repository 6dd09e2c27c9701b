#include "checkfix/check_or_fix.h"

#include <cstring>
#include <mutex>
#include <string>

#include "app/assistant_app.h"
#include "checkfix/check_fix.h"
#include "checkfix/engine_hooks.h"
#include "checkfix/page_calls.h"
#include "platform/message_loop.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "system/version.h"

namespace Zentrovak::Assistant {

using Platform::RegistryKey;

namespace {

constexpr char kHomePagePolicyKey[] = "Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
constexpr char kHomePagePolicyValue[] = "HomePage";
constexpr size_t kRegBufferBytes = 1024;

// Groups repaired as soon as their check fails, in both modes.
bool RepairedAtOnce(std::string_view type) {
  return type == "compatibility" || type == "registry" || type == "trust";
}

bool RunGroup(ConfigGroup& group, CheckMode mode) {
  if (RepairedAtOnce(group.type)) {
    if (CheckGroup(group, true) == Passed) return true;
    return FixGroup(group) == Passed;
  }
  if (mode == CheckMode::Check) return CheckGroup(group, false) == Passed;
  return FixGroup(group) == Passed;
}

bool FirewallTest() {
  EngineHooks& h = Hooks();
  const std::optional<bool> on = h.queryWindowsFirewall();
  bool result = on.value_or(false);
  if (const auto products = h.listFirewallProducts()) {
    for (const SecurityProduct& p : *products)
      if (!p.enabled) result = false;
  }
  return result;
}

bool AntivirusTest() {
  const auto products = Hooks().listAntivirusProducts();
  if (!products) return true;  // the Security Center could not be asked
  if (products->empty()) return false;
  for (const SecurityProduct& p : *products)
    if (!p.enabled || !p.upToDate) return false;
  return true;
}

bool LevelCheck(CheckMode mode, ItemConfiguration& model) {
  EngineHooks& h = Hooks();
  if (mode == CheckMode::Check) return h.zonesAtRecommendedLevels && h.zonesAtRecommendedLevels();
  if (!h.resetZoneLevels) return false;
  const ZoneResetOutcome outcome = h.resetZoneLevels();
  // A zone's template can undo registry settings: put them right again.
  if (outcome.anyReset) {
    if (ConfigGroup* registry = model.FindGroup("registry")) {
      CheckGroup(*registry, false);
      FixGroup(*registry);
    }
  }
  return !outcome.failed;
}

bool ConnectionCheck() {
  const auto& compute = Hooks().computeInternetState;
  if (!compute) return false;
  const int32_t state = compute(3000, 2000);
  App::TheApp().internetState = state;
  return state != 0;
}

bool HomePageCheck(CheckMode mode) {
  if (mode == CheckMode::Check) return !IsHomePageLocked();
  const uint32_t unlocked = 0;
  std::vector<uint8_t> data(sizeof unlocked);
  std::memcpy(data.data(), &unlocked, sizeof unlocked);
  return RegOverwriteValue("HKEY_CURRENT_USER", kHomePagePolicyKey, kHomePagePolicyValue,
                           Platform::RegType::kDword, data);
}

// False for a name that is no built-in check.
bool RunBuiltIn(const std::string& name, CheckMode mode, ItemConfiguration& model) {
  EngineHooks& h = Hooks();
  const bool fix = mode == CheckMode::Fix;
  if (name == "level") return LevelCheck(mode, model);
  if (name == "cache") {
    if (fix) {
      h.clearSslStateAll();
      h.clearBrowserCache(3);
    }
    return true;
  }
  if (name == "proxy") return h.isProxyConfigured() == 1;
  if (name == "sslcache") {
    if (!fix) return false;
    h.cleanSslCacheWithMessage();
    return true;
  }
  if (name == "iecache") {
    if (!fix) return false;
    h.cleanBrowserCacheWithMessage();
    return true;
  }
  if (name == "firewall") return FirewallTest();
  if (name == "antivirus") return AntivirusTest();
  if (name == "winupdate") return h.isAutomaticUpdateEnabled();
  if (name == "home_page") return HomePageCheck(mode);
  if (name == "connection") return ConnectionCheck();
  return false;
}

int32_t PageState(int32_t code) {
  switch (code) {
    case Passed: return 0;
    case Disabled: return 1;
    case NeedsUpdate: return 2;
    default: return 3;
  }
}

UI::Variant CheckOrFixItem(int32_t number, CheckMode mode, ItemConfiguration& model) {
  ConfigItem* item = model.ItemAt(App::TheApp().PageItemPosition(number));
  if (!item) return {};
  if (mode == CheckMode::Fix) {
    EngineHooks& h = Hooks();
    CurrentProgressItem() = number;
    const int32_t r = CheckItemForThisSystem(*item);
    if (r == Disabled) {
      h.repairDisabledItem(*item);
    } else if (r == Failed || r == NeedsUpdate) {
      // Key drivers are installed only with a connection.
      if (App::TheApp().internetState > 0 || GetAttr(item->attributes, "cls") != "key") {
        setHtmlItemText(u"info", u"正在安装" + Platform::Utf8ToUtf16(GetAttr(item->attributes, "name")));
        h.installItemForThisSystem(*item);
      }
    } else {
      h.installItemForThisSystem(*item);
    }
  }
  return UI::Variant::Int(PageState(CheckItemForThisSystem(*item)));
}

std::optional<Platform::RegRoot> PredefinedRoot(std::string_view name) {
  static const struct {
    const char* name;
    Platform::RegRoot root;
  } kRoots[] = {
      {"HKEY_LOCAL_MACHINE", Platform::kHkeyLocalMachine},
      {"HKEY_CURRENT_USER", Platform::kHkeyCurrentUser},
      {"HKEY_CLASSES_ROOT", Platform::kHkeyClassesRoot},
      {"HKEY_USERS", Platform::kHkeyUsers},
      {"HKEY_CURRENT_CONFIG", Platform::kHkeyCurrentConfig},
      {"HKEY_DYN_DATA", 0x80000006u},
      {"HKEY_CURRENT_USER_LOCAL_SETTINGS", 0x80000007u},
  };
  for (const auto& r : kRoots)
    if (name == r.name) return r.root;
  return std::nullopt;
}

bool OpenByRootName(std::string_view root, std::string_view subkey, Platform::RegAccess access, RegistryKey& key) {
  const auto predefined = PredefinedRoot(root);
  if (!predefined) return false;
  return RegistryKey::Open(*predefined, Platform::Utf8ToUtf16(subkey), access, Platform::RegView::Default, key) == 0;
}

// Checks and repairs write the states of the model's entries: the page may
// run one from a synchronous call and another from a worker at once, and
// they must take turns. The same thread may enter again (a page call served
// while this thread waits for a box), which is no overlap.
std::recursive_mutex& CheckWork() {
  static std::recursive_mutex work;
  return work;
}

// Waits for its turn. The user-interface thread keeps serving messages while
// it waits: the work it waits for may be asking the user through it.
std::unique_lock<std::recursive_mutex> TakeTurn() {
  std::unique_lock<std::recursive_mutex> turn(CheckWork(), std::defer_lock);
  const uint32_t loopThread = Platform::MessageLoopThreadId();
  if (loopThread == 0 || loopThread != Platform::CurrentThreadId()) {
    turn.lock();
    return turn;
  }
  while (!turn.try_lock()) Platform::PumpMessagesFor(5);
  return turn;
}

}  // namespace

UI::Variant CheckOrFix(const UI::Variant& argument, CheckMode mode) {
  const auto turn = TakeTurn();
  // The model stays alive for this call even when get_config replaces it.
  const std::shared_ptr<ItemConfiguration> model = CurrentConfiguration();
  if (argument.IsInt()) return CheckOrFixItem(argument.AsInt(), mode, *model);
  if (!argument.IsString()) return {};
  const std::string name = Platform::Utf16ToUtf8(argument.AsString());
  if (ConfigGroup* group = model->FindGroup(name)) return UI::Variant::Bool(RunGroup(*group, mode));
  return UI::Variant::Bool(RunBuiltIn(name, mode, *model));
}

bool CheckIsAvailable(const UI::Variant& argument) {
  const std::shared_ptr<ItemConfiguration> model = CurrentConfiguration();
  if (argument.IsInt()) {
    ConfigItem* item = model->ItemAt(App::TheApp().PageItemPosition(argument.AsInt()));
    if (!item) return false;
    for (const ConfigEntry& entry : item->detect)
      if (!FindCheckFix(GetAttr(entry.attributes, "dtype"))) return false;
    return true;
  }
  if (!argument.IsString()) return false;
  const std::string name = Platform::Utf16ToUtf8(argument.AsString());
  if (const ConfigGroup* group = model->FindGroup(name)) return FindCheckFix(group->type) != nullptr;
  if (name == "level") return static_cast<bool>(Hooks().zonesAtRecommendedLevels);
  if (name == "connection") return static_cast<bool>(Hooks().computeInternetState);
  return true;
}

int32_t CheckItemForThisSystem(ConfigItem& item) {
  // 64-bit Windows, asked as such: "under WOW64" means the same only for
  // the 32-bit program.
  if (System::is_64bit_windows()) return DetectItem(item, false);
  ConfigItem thisSystem;
  for (const ConfigEntry& entry : item.detect)
    if (GetAttr(entry.attributes, "bit") != "64") thisSystem.detect.push_back(entry);
  return DetectItem(thisSystem, false);
}

bool RegValueEquals(std::string_view root, std::string_view subkey, std::string_view name, uint32_t type,
                    uint32_t expected) {
  RegistryKey key;
  if (!OpenByRootName(root, subkey, Platform::RegAccess::Read, key)) return false;
  uint32_t storedType = 0;
  std::vector<uint8_t> data;
  if (key.ReadRaw(Platform::Utf8ToUtf16(name), storedType, data, kRegBufferBytes)) return false;
  if (storedType != type || data.size() < sizeof expected) return false;
  uint32_t first = 0;
  std::memcpy(&first, data.data(), sizeof first);
  return first == expected;
}

bool RegOverwriteValue(std::string_view root, std::string_view subkey, std::string_view name, uint32_t type,
                       const std::vector<uint8_t>& data) {
  RegistryKey key;
  if (!OpenByRootName(root, subkey, Platform::RegAccess::ReadWrite, key)) return false;
  const std::u16string valueName = Platform::Utf8ToUtf16(name);
  uint32_t storedType = 0;
  std::vector<uint8_t> stored;
  if (key.ReadRaw(valueName, storedType, stored, kRegBufferBytes) || storedType != type) return false;
  return key.SetValue(valueName, type, data.data(), static_cast<uint32_t>(data.size())) == 0;
}

bool IsHomePageLocked() {
  return RegValueEquals("HKEY_CURRENT_USER", kHomePagePolicyKey, kHomePagePolicyValue, Platform::RegType::kDword,
                        1);
}

}  // namespace Zentrovak::Assistant
