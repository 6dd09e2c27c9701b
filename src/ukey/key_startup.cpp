#include "ukey/key_startup.h"

namespace Zentrovak::Ukey {

int32_t LoadAssistLibraries() { return 0; }
void PrepareKeyBindings() {}
void RegisterDeviceChangeHandler() {}
void UnregisterDeviceChangeHandler() {}

}  // namespace Zentrovak::Ukey
