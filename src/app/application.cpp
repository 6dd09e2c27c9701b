#include "app/application.h"

#include "app/debug_out.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "platform/files.h"
#include "platform/message_loop.h"

namespace Zentrovak::App {

int RunApplication() {
  Platform::ApplyPendingFileOperations();
  SetSettingsRegistryKey(u"Zentrovak");
  if (Platform::Failed(acquire_single_instance(kSingleInstanceName))) return 0;
  ApplicationRunning() = true;
  DebugOut(u"Before NwBsDialog %d", static_cast<int>(Platform::CurrentThreadId()));
  DebugOut(u"End NwBsDialog");
  run_message_loop();
  release_single_instance();
  return 0;
}

}  // namespace Zentrovak::App
