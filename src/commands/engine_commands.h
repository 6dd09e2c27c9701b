// The commands of the check-and-fix engine: the item configuration
// (get_config, is_config_loaded, get_data), the checks (do_check, do_fix,
// do_install, check_ie_home_page), get_version and check_update.
#pragma once
#include <cstdint>
#include <string>

#include "ui/bs_dialog.h"

namespace Zentrovak::Assistant {

// Registers the handlers with the command table.
void RegisterEngineCommands();

// How long get_config waits for the configuration.
inline constexpr uint32_t kConfigurationWaitMs = 10000;

// get_config: loads the configuration from the "ConfigUrl" setting (else
// the download server's default) within the wait, puts it in place and
// announces its items to the page. False, with the model untouched, when
// the load did not end in time; false when it ended with an error.
bool GetConfig();
// check_update; silent is a1's 32-bit value.
void CheckUpdate(int32_t silent, UI::IBSDialog* dialog);
// get_version's answer for a subject ("ieversion", "sysversion").
UI::Variant GetVersion(const UI::Variant& subject);

}  // namespace Zentrovak::Assistant
