#include "commands/engine_commands.h"

#include <memory>
#include <mutex>

#include "app/assistant_app.h"
#include "app/settings.h"
#include "checkfix/app_update.h"
#include "checkfix/check_or_fix.h"
#include "checkfix/engine_hooks.h"
#include "checkfix/item_configuration.h"
#include "checkfix/page_calls.h"
#include "commands/command_ids.h"
#include "commands/command_registry.h"
#include "net/bounded_worker.h"
#include "net/time_sync.h"
#include "platform/text.h"
#include "system/version.h"

namespace Zentrovak::Assistant {

using UI::Variant;

namespace {


// Shared by get_config and its loader thread. The loader puts its model in
// place only while get_config still waits; once get_config has given up,
// the late loader's model is dropped.
struct LoadTicket {
  std::mutex mutex;
  bool waiting = true;
  std::shared_ptr<ItemConfiguration> installed;  // the model put in place
  Platform::HResult result = Platform::kEFail;
};

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// An unsigned hexadecimal key id, with an optional 0x; reading stops at the
// first other character.
uint32_t ParseKeyId(std::string_view token) {
  if (token.size() >= 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X') &&
      (token.size() == 2 || IsHexDigit(token[2])))
    token.remove_prefix(2);
  uint64_t value = 0;
  for (char c : token) {
    if (!IsHexDigit(c)) break;
    const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(value);
}

void AddKeyIds(const ConfigItem& item, const std::string& keyIds) {
  if (GetAttr(item.attributes, "cls") != "key") return;
  const auto& bindings = App::TheApp().keyBindings;
  const auto binding = bindings.find(GetAttr(item.attributes, "type"));
  if (binding == bindings.end()) return;
  size_t start = 0;
  while (start <= keyIds.size()) {
    size_t end = keyIds.find_first_of("|,", start);
    if (end == std::string::npos) end = keyIds.size();
    if (end > start) Hooks().addKeyId(binding->second, ParseKeyId(std::string_view(keyIds).substr(start, end - start)));
    start = end + 1;
  }
}

void AnnounceItems(ItemConfiguration& model) {
  const bool windows64 = System::is_64bit_windows();
  int32_t number = 0;
  for (size_t position = 0; position < model.ItemCount(); ++position) {
    const ConfigItem& item = *model.ItemAt(static_cast<int64_t>(position));
    if (GetAttr(item.attributes, "bit") == "64" && !windows64) continue;
    for (const auto& [name, value] : item.attributes) {
      setItemInfo(number, name, value);
      if (name == "keyid") AddKeyIds(item, value);
    }
    App::TheApp().SetPageItemPosition(number, static_cast<int32_t>(position));
    ++number;
  }
}

}  // namespace

bool GetConfig() {
  const std::u16string location =
      App::ReadSettingString(App::kSettingsSection, u"ConfigUrl", App::DefaultConfigurationUrl());
  auto ticket = std::make_shared<LoadTicket>();
  Network::RunBounded(
      [ticket, location](const std::atomic<bool>& abandoned) {
        auto fresh = std::make_shared<ItemConfiguration>();
        const Platform::HResult result = fresh->Load(location);
        std::lock_guard<std::mutex> lock(ticket->mutex);
        if (ticket->waiting && !abandoned) {
          InstallConfiguration(fresh);
          ticket->installed = std::move(fresh);
          ticket->result = result;
        }
        return result;
      },
      kConfigurationWaitMs);
  std::shared_ptr<ItemConfiguration> model;
  {
    std::lock_guard<std::mutex> lock(ticket->mutex);
    ticket->waiting = false;
    // A load that outlives the wait is dropped; the model it would have
    // replaced must not stay either, or later checks would run against a
    // document the page was told failed to load.
    if (!ticket->installed) InstallConfiguration(std::make_shared<ItemConfiguration>());
    if (!ticket->installed || Platform::Failed(ticket->result)) return false;
    model = ticket->installed;
  }
  AnnounceItems(*model);
  Hooks().reportKeyChanges();
  return true;
}

void CheckUpdate(int32_t silent, UI::IBSDialog* dialog) {
  constexpr uint32_t kTitle = 102, kAskText = 104, kMandatoryText = 105, kInstruction = 106, kYes = 107,
                     kLater = 108, kUpToDate = 109;
  if (!dialog) dialog = UI::MainDialog();
  const Platform::WindowHandle owner = dialog ? dialog->GetHwnd() : nullptr;
  EngineHooks& h = Hooks();
  bool mandatory = false;
  if (!CheckApplicationUpdate(&mandatory)) {
    if (silent != 0) return;
    // Shown on every call of this kind but the second; what the count was
    // meant for is not known, and the behaviour is kept as it is.
    static std::atomic<int32_t> countdown{1};
    if (countdown.load() != 0) h.showTaskMessage(1, kUpToDate, kTitle, 0, owner);
    --countdown;
    return;
  }
  if (mandatory) {
    h.showTaskMessage(1, kMandatoryText, kTitle, kInstruction, owner);
  } else if (h.askYesNo(owner, kAskText, kTitle, kInstruction, kYes, kLater) != 6) {
    return;
  }
  UI::CallPage(u"onUpdateConfirmed", {});
  CurrentProgressItem() = -1;
  if (h.runApplicationUpdate(UpdateDownloadProgress, 0)) h.restartApplication();
}

UI::Variant GetVersion(const UI::Variant& subject) {
  const std::string text = Platform::Utf16ToUtf8(subject.AsString());
  if (text == "ieversion") return Variant::String(System::get_ie_version());
  if (text == "sysversion")
    return Variant::String(System::is_windows_10() ? std::u16string(u"Windows 10") : System::get_os_display_name());
  return {};
}

// The page's server argument is not used: the servers are the
// configuration's "time_svr1" to "time_svr4", read anew for every call.
int32_t SyncTimeFromConfiguration() {
  const auto configuration = CurrentConfiguration();
  std::vector<std::u16string> servers;
  for (const char* name : {"time_svr1", "time_svr2", "time_svr3", "time_svr4"})
    servers.push_back(Platform::Utf8ToUtf16(configuration->DataText(name)));
  return Network::SyncTime(servers);
}

void RegisterEngineCommands() {
  using namespace Commands;
  SetCommandHandler(kGetConfig, [](Variant& result, UI::IBSDialog*, const Variant&, const Variant&, const Variant&,
                                   const Variant&) { result = Variant::Bool(GetConfig()); });
  SetCommandHandler(kGetData, [](Variant& result, UI::IBSDialog*, const Variant& a1, const Variant&, const Variant&,
                                 const Variant&) {
    if (!a1.IsString()) return;
    const std::string text = CurrentConfiguration()->DataText(Platform::Utf16ToUtf8(a1.AsString()));
    result = Variant::String(Platform::Utf8ToUtf16(text));
  });
  const auto checkOrFix = [](CheckMode mode) {
    return [mode](Variant& result, UI::IBSDialog*, const Variant& a1, const Variant&, const Variant&,
                  const Variant&) { result = CheckOrFix(a1, mode); };
  };
  SetCommandHandler(kDoCheck, checkOrFix(CheckMode::Check));
  SetCommandHandler(kDoFix, checkOrFix(CheckMode::Fix));
  SetCommandHandler(kDoInstall, checkOrFix(CheckMode::Fix));
  SetCommandHandler(kGetVersion, [](Variant& result, UI::IBSDialog*, const Variant& a1, const Variant&,
                                    const Variant&, const Variant&) { result = GetVersion(a1); });
  SetCommandHandler(kCheckUpdate, [](Variant&, UI::IBSDialog* dialog, const Variant& a1, const Variant&,
                                     const Variant&, const Variant&) { CheckUpdate(a1.RawInt32(), dialog); });
  SetCommandHandler(kIsConfigLoaded, [](Variant& result, UI::IBSDialog*, const Variant&, const Variant&,
                                        const Variant&, const Variant&) {
    result = Variant::Bool(CurrentConfiguration()->IsLoaded());
  });
  SetCommandHandler(kSyncTime, [](Variant& result, UI::IBSDialog*, const Variant&, const Variant&, const Variant&,
                                  const Variant&) { result = Variant::Int(SyncTimeFromConfiguration()); });
  SetCommandHandler(kCheckIeHomePage, [](Variant& result, UI::IBSDialog*, const Variant&, const Variant&,
                                         const Variant&, const Variant&) {
    result = Variant::Bool(IsHomePageLocked());
  });
}

}  // namespace Zentrovak::Assistant
