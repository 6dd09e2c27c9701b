// The handlers behind the command ids. Each subsystem registers the
// commands it owns at start-up; an id without a handler leaves the result
// empty, so commands of parts not yet built simply answer undefined.
#pragma once
#include <cstdint>
#include <functional>

#include "ui/bs_dialog.h"
#include "ui/variant.h"

namespace Zentrovak::Commands {

using CommandFunction = std::function<void(UI::Variant& result, UI::IBSDialog* dialog, const UI::Variant& a1,
                                           const UI::Variant& a2, const UI::Variant& a3, const UI::Variant& a4)>;

// Ids 1..32 of the command table.
void SetCommandHandler(int32_t id, CommandFunction handler);
// Runs the handler of `id` when there is one; false when there is none.
bool RunCommandHandler(int32_t id, UI::Variant& result, UI::IBSDialog* dialog, const UI::Variant& a1,
                       const UI::Variant& a2, const UI::Variant& a3, const UI::Variant& a4);

}  // namespace Zentrovak::Commands
