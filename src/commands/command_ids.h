// The ids of the command table, shared by the dispatcher and the
// subsystems that register handlers.
#pragma once
#include <cstdint>

namespace Zentrovak::Commands {

enum CommandId : int32_t {
  kGetPublicIp = 1,
  kGetConfig = 2,
  kSaveSettings = 3,
  kLoadSettings = 4,
  kMessageBox = 5,
  kOpenIe = 6,
  kGetData = 7,
  kIsKeyConnect = 8,
  kDoCheck = 9,
  kDoFix = 10,
  kDoInstall = 11,
  kGetVersion = 12,
  kDebugPrint = 13,
  kDelayMs = 14,
  kCallJs = 15,
  kDoExtraStartup = 16,
  kCheckUpdate = 17,
  kUpdateKeyInfo = 18,
  kLog = 19,
  kShutDown = 20,
  kShutDownMini = 21,
  kIsConfigLoaded = 22,
  kCheckIeHomePage = 23,
  kSyncTime = 24,
  kChangePin = 25,
  kCheckDll = 26,
  kTray = 27,
  kGetCommand = 28,
  kGetInternetState = 29,
  kMinimizeWindow = 30,
  kIsSpecificKeyInsert = 31,
  kStartManagerTool = 32,
  kLastCommandId = 32,
};

}  // namespace Zentrovak::Commands
