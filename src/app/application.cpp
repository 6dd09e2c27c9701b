#include "app/application.h"

#include <cstdio>

#include "app/assistant_app.h"
#include "app/crypto_tables.h"
#include "app/debug_out.h"
#include "app/headless_report.h"
#include "app/root_confirmation.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "commands/dispatch.h"
#include "checkfix/engine_hooks.h"
#include "checkfix/install_item.h"
#include "commands/engine_commands.h"
#include "commands/task_message.h"
#include "platform/com_apartment.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "net/connectivity.h"
#include "platform/process.h"
#include "system/process_launch.h"
#include "ui/bs_dialog_host.h"
#include "ui/resources.h"
#include "ui/script_jobs.h"
#include "ukey/key_startup.h"

namespace Zentrovak::App {

namespace {

constexpr uint32_t kTitleString = 102;
constexpr uint32_t kIconResource = 128;
// Jobs still running when the window is gone get this long to finish.
constexpr uint32_t kJobGraceMilliseconds = 2000;

const char16_t* MissingLibraryText(int32_t result) {
  switch (result) {
    case 1: return u"找不到 Assist_FT_InterPass3000_QVTR.dll 或该文件已损坏";
    case 2: return u"找不到 Assist_JS_ETOKEY_QVTR.dll 或该文件已损坏";
    case 3: return u"找不到 Assist_FT_2000qvtr.dll 或该文件已损坏";
    default: return nullptr;
  }
}

// The folder of the program, as the shell appends ".." to the module path.
std::u16string ProgramFolder() {
  std::u16string folder = Platform::ParentPath(Platform::ModuleFilePath());
  if (folder.size() == 2 && folder[1] == u':') folder += u'\\';
  return folder;
}

Platform::HResult PrepareProcess(std::u16string_view instanceName, bool& comEntered) {
  Platform::WriteEnvironmentVariable(u"AppPath", ProgramFolder());
  const Platform::HResult instance = acquire_single_instance(instanceName);
  if (Platform::Failed(instance)) return instance;
  RegisterCryptoAlgorithms();
  const Platform::HResult com = Platform::EnterComApartment(Platform::ApartmentKind::UserInterface);
  comEntered = Platform::Succeeded(com);
  return com;
}

void CleanupProcess(bool comEntered) {
  ReleaseCryptoAlgorithms();
  release_single_instance();
  if (comEntered) Platform::LeaveComApartment(Platform::ApartmentKind::UserInterface);
}

// What the engine asks of the application: its boxes, its restart, the
// connectivity state, and of the installs.
void ConnectEngine() {
  Assistant::EngineHooks& hooks = Assistant::Hooks();
  hooks.installItemForThisSystem = Assistant::InstallItemForThisSystem;
  hooks.repairDisabledItem = Assistant::RepairDisabledItem;
  hooks.runApplicationUpdate = Assistant::RunApplicationUpdate;
  hooks.showTaskMessage = [](int32_t kind, uint32_t text, uint32_t title, uint32_t instruction,
                             Platform::WindowHandle owner) {
    return Commands::ShowTaskMessage(kind, text, title, instruction, owner);
  };
  hooks.askYesNo = [](Platform::WindowHandle owner, uint32_t text, uint32_t title, uint32_t instruction, uint32_t yes,
                      uint32_t no) { return Commands::AskYesNo(owner, text, title, instruction, yes, no); };
  hooks.restartApplication = [] { restart_application(); };
  Platform::SetRootAdditionConfirmation(AskToTrustRoot);
  hooks.computeInternetState = [](uint32_t publicSiteMs, uint32_t bankServerMs) {
    return Network::ComputeInternetState(publicSiteMs, bankServerMs);
  };
}

UI::BSDialogParams DialogParams(int32_t pageMode) {
  UI::BSDialogParams params;
  params.size = UI::kBSDialogParamsSize;
  params.title = UI::LoadStringResource(kTitleString);
  params.hasCaption = false;
  params.autoSize = 1;
  params.icon = UI::LoadDialogIcon(kIconResource);
  params.url = ReadSettingString(kSettingsSection, u"ResUrl", u"");
  if (params.url.empty()) params.htmlResourceId = HtmlResourceForPageMode(pageMode);
  else params.fallbackResourceId = HtmlResourceForPageMode(pageMode);
  params.commandHandler = Commands::DispatchCommand;
  return params;
}

}  // namespace

int RunApplication() {
  Platform::ApplyPendingFileOperations();
  RemoveLegacyFolder();
  ExtractEmbeddedLibrary(kCarriedAssistLibraryResource);
  UI::PrepareUserInterface();

  const int32_t libraries = Ukey::LoadAssistLibraries();
  if (const char16_t* text = MissingLibraryText(libraries)) {
    Commands::TaskMessage box;
    box.text = text;
    box.title = u"网银助手";
    Commands::PresentTaskMessage(box);
    return 0;
  }
  SetSettingsRegistryKey(u"Zentrovak");

  int32_t pageMode = 0;
  if (!PageModeFromArguments(SplitCommandLine(Platform::ProcessCommandLine()), pageMode)) return 0;
  SetPageMode(pageMode);

  const Platform::PlatformOptions& options = Platform::CurrentPlatformOptions();
  const bool headless = options.check || options.fix;
  bool comEntered = false;
  if (Platform::Failed(PrepareProcess(kSingleInstanceName, comEntered))) {
    // Another instance runs (or the process could not be prepared): end
    // silently. The mutex may have been taken before a later step failed.
    release_single_instance();
    if (headless) {
      std::fprintf(stderr, "The assistant is already running; the report needs the machine to itself.\n");
      return 2;
    }
    return 0;
  }
  Ukey::PrepareKeyBindings();
  SetRuntimeOption(1004, 1);
  SetRuntimeOption(1000, 0);
  Ukey::RegisterDeviceChangeHandler();
  Commands::RegisterApplicationCommands();
  Assistant::RegisterEngineCommands();
  Network::RegisterNetworkCommands();
  ConnectEngine();

  if (headless) {
    const int code = RunHeadlessReport(options.fix ? ReportMode::Fix : ReportMode::Check, options.json);
    Ukey::UnregisterDeviceChangeHandler();
    CleanupProcess(comEntered);
    return code;
  }

  ApplicationRunning() = true;
  const UI::BSDialogParams params = DialogParams(pageMode);
  DebugOut(u"Before NwBsDialog %d", static_cast<int>(Platform::CurrentThreadId()));
  UI::IBSDialog* dialog = UI::CreateBSDialog(params);
  UI::SetMainDialog(dialog);
  DebugOut(u"End NwBsDialog");
  if (dialog) {
    run_message_loop();
    UI::DestroyBSDialog();
  }
  Ukey::UnregisterDeviceChangeHandler();

  if (ReadSettingInt(kSettingsSection, u"closechose", 0) == 1)
    System::launch_process(TrayHelperCommandLine(1), false, false, false);

  const bool jobsEnded = UI::WaitForJobs(kJobGraceMilliseconds);
  CleanupProcess(comEntered);
  // A command still running on a worker would meet the program's objects
  // half destroyed: end without destroying them.
  if (!jobsEnded) Platform::EndProcessNow(0);
  return 0;
}

}  // namespace Zentrovak::App
