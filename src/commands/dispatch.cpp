#include "commands/dispatch.h"

#include "app/assistant_app.h"
#include "app/debug_out.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "commands/command_ids.h"
#include "commands/command_registry.h"
#include "commands/task_message.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/process.h"
#include "system/process_launch.h"
#include "ui/bs_dialog_host.h"

namespace Zentrovak::Commands {

using UI::Variant;

namespace {


void ArgumentError(const char16_t* message) { ShowTaskMessage(5, message, kTitleString, u"错误", nullptr); }

bool IsSettingValue(const Variant& v) { return v.IsInt() || v.IsString() || v.IsBool(); }

// Answers nothing when the value is stored; a value the store refused
// answers false (and says so in the diagnostic output) rather than pass for
// saved.
void SaveSettings(Variant& result, const Variant& key, const Variant& value) {
  if (!key.IsString()) return ArgumentError(u"save_settings第2个参数应该为String类型！");
  if (!IsSettingValue(value)) return ArgumentError(u"save_settings第3个参数使用了不支持的类型！");
  const bool stored =
      value.IsString()
          ? App::WriteSettingString(App::kSettingsSection, key.AsString(), value.AsString())
          : App::WriteSettingInt(App::kSettingsSection, key.AsString(), value.IsBool() ? value.AsBoolBits() : value.AsInt());
  if (stored) return;
  App::DebugOut(u"save_settings: %s could not be stored\n", key.AsString().c_str());
  result = Variant::Bool(false);
}

void LoadSettings(Variant& result, const Variant& key, const Variant& fallback) {
  if (!key.IsString()) return ArgumentError(u"load_settings第2个参数应该为String类型！");
  if (!IsSettingValue(fallback)) return ArgumentError(u"load_settings第3个参数使用了不支持的类型！");
  const std::u16string& name = key.AsString();
  if (fallback.IsString()) {
    result = Variant::String(App::ReadSettingString(App::kSettingsSection, name, fallback.AsString()));
  } else if (fallback.IsInt()) {
    result = Variant::Int(App::ReadSettingInt(App::kSettingsSection, name, fallback.AsInt()));
  } else {
    // A boolean is the value's lower 16 bits, as VT_BOOL holds it.
    const int32_t value = App::ReadSettingInt(App::kSettingsSection, name, fallback.AsBoolBits());
    result = Variant::Bool(static_cast<int16_t>(value) != 0);
  }
}

void DelayMs(const Variant& milliseconds) {
  // Keeps the page served while waiting. A negative count would be a wait
  // of weeks in unsigned ticks: it is no wait at all.
  if (!milliseconds.IsInt() || milliseconds.AsInt() <= 0) return;
  Platform::PumpMessagesFor(static_cast<uint32_t>(milliseconds.AsInt()));
}

void CallJs(UI::IBSDialog* dialog, const Variant& function, const Variant& a2, const Variant& a3,
            const Variant& a4) {
  if (!function.IsString()) return;
  if (!dialog) dialog = UI::MainDialog();
  if (!dialog) return;
  const Variant reversed[] = {a4, a3, a2};
  dialog->CallPageFunction(function.AsString(), reversed, 3, nullptr);
}

void GetVersion(Variant& result, UI::IBSDialog* dialog, const Variant& subject) {
  const std::u16string text = subject.IsString() ? subject.AsString() : std::u16string();
  if (text != u"ieversion" && text != u"sysversion") return;
  RunCommandHandler(kGetVersion, result, dialog, Variant::String(text), Variant(), Variant(), Variant());
}

// Commands of the application itself.

void DoExtraStartup(Variant& result) {
  const auto args = App::SplitCommandLine(Platform::ProcessCommandLine());
  result = Variant::String(args.size() == 2 ? args[1] : u"Normal");
}

void ShutDownMini(const Variant& choice) {
  if (!choice.IsInt()) return;
  const std::u16string helper = App::TrayHelperCommandLine(0);
  App::quit_application();
  System::launch_process(helper, false, false, false);
}

void Tray(Variant& result, const Variant& choice) {
  if (!choice.IsInt()) return;
  const std::u16string helper = App::TrayHelperCommandLine(0);
  const bool enable = choice.AsInt() == 0;
  System::set_autorun(helper, std::nullopt, enable);
  result = Variant::Bool(enable);
}

void OpenIe(const Variant& address) {
  if (!address.IsString()) return;
  const std::u16string programFiles = Platform::SpecialFolderPath(0x26);
  if (programFiles.empty()) return;
  System::shell_run(programFiles + u"\\Internet Explorer\\iexplore.exe", address.AsString(), false, false);
}

}  // namespace

Variant& DispatchCommand(Variant& result, UI::IBSDialog* dialog, const Variant& name, const Variant& a1,
                         const Variant& a2, const Variant& a3, const Variant& a4) {
  result = Variant();
  int32_t id = -1;
  if (name.IsInt()) {
    id = name.AsInt();
  } else if (name.IsString()) {
    const auto& table = App::TheApp().commandIds;
    const auto it = table.find(name.AsString());
    if (it != table.end()) id = it->second;
  }
  if (id < 2 || id > kLastCommandId) return result;

  switch (id) {
    case kSaveSettings: SaveSettings(result, a1, a2); break;
    case kLoadSettings: LoadSettings(result, a1, a2); break;
    case kMessageBox:
      if (a1.IsString()) ShowTaskMessage(a2.IsInt() ? a2.AsInt() : 0, a1.AsString(), kTitleString, u"", nullptr);
      break;
    case kDebugPrint:
      App::Trace(u"%s%s", a1.AsString().c_str(), a2.AsBool() ? u"\n" : u"");
      break;
    case kDelayMs: DelayMs(a1); break;
    case kCallJs: CallJs(dialog, a1, a2, a3, a4); break;
    case kLog:
      if (a1.IsString()) App::DebugWrite(a1.AsString());
      break;
    case kGetVersion: GetVersion(result, dialog, a1); break;
    default: RunCommandHandler(id, result, dialog, a1, a2, a3, a4); break;
  }
  return result;
}

void RegisterApplicationCommands() {
  SetCommandHandler(kGetCommand, [](Variant& result, UI::IBSDialog*, const Variant&, const Variant&, const Variant&,
                                    const Variant&) { result = Variant::Int(App::PageMode()); });
  SetCommandHandler(kDoExtraStartup, [](Variant& result, UI::IBSDialog*, const Variant&, const Variant&,
                                        const Variant&, const Variant&) { DoExtraStartup(result); });
  SetCommandHandler(kShutDown, [](Variant&, UI::IBSDialog*, const Variant&, const Variant&, const Variant&,
                                  const Variant&) { App::quit_application(); });
  SetCommandHandler(kShutDownMini, [](Variant&, UI::IBSDialog*, const Variant& a1, const Variant&, const Variant&,
                                      const Variant&) { ShutDownMini(a1); });
  SetCommandHandler(kMinimizeWindow, [](Variant&, UI::IBSDialog* dialog, const Variant&, const Variant&,
                                        const Variant&, const Variant&) { UI::MinimizeDialog(dialog); });
  SetCommandHandler(kTray, [](Variant& result, UI::IBSDialog*, const Variant& a1, const Variant&, const Variant&,
                              const Variant&) { Tray(result, a1); });
  SetCommandHandler(kOpenIe, [](Variant&, UI::IBSDialog*, const Variant& a1, const Variant&, const Variant&,
                                const Variant&) { OpenIe(a1); });
}

}  // namespace Zentrovak::Commands
