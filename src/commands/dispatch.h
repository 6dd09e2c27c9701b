// The one command handler of the dialog: command name to id, argument
// checks, and the commands the dispatcher handles itself.
#pragma once
#include "ui/bs_dialog.h"
#include "ui/variant.h"

namespace Zentrovak::Commands {

// The CommandHandler given to the dialog. Fills and returns `result`;
// unknown names and ids outside 2..32 leave it empty.
UI::Variant& DispatchCommand(UI::Variant& result, UI::IBSDialog* dialog, const UI::Variant& name,
                             const UI::Variant& a1, const UI::Variant& a2, const UI::Variant& a3,
                             const UI::Variant& a4);

// Registers the application's window commands: get_command, do_extra_startup,
// shut_down, shut_downmini, minimize_window, Tray, open_ie.
void RegisterApplicationCommands();

}  // namespace Zentrovak::Commands
