// What start-up asks of the key support. The key bindings and the device
// watcher fill these in; until then there is nothing to load or watch.
#pragma once
#include <cstdint>

namespace Zentrovak::Ukey {

// Loads the key makers' assist libraries: 0 when all are there, 1, 2 or 3
// naming the library that is missing or broken.
int32_t LoadAssistLibraries();

// Loads and frees each binding's companion library once, so that the
// makers' tools are ready when the page first asks.
void PrepareKeyBindings();

// Starts watching for key arrival and removal on the user-interface thread.
void RegisterDeviceChangeHandler();
void UnregisterDeviceChangeHandler();

}  // namespace Zentrovak::Ukey
