// The page's do_check, do_fix and do_install: a configuration group or a
// built-in check by name, or a component item by its page number.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "checkfix/item_configuration.h"
#include "ui/variant.h"

namespace Zentrovak::Assistant {

enum class CheckMode : int32_t { Fix = 0, Check = 1 };

// A name answers a boolean (passed, or repaired); an item number answers
// the page state 0 installed, 1 disabled, 2 update available, 3 not
// installed; any other argument answers nothing.
UI::Variant CheckOrFix(const UI::Variant& argument, CheckMode mode);

// Whether the program has what CheckOrFix needs to check this argument: the
// check-fix class of a configured group or of every detect entry of an
// item, or the facility behind a built-in check. A check without it answers
// as an unavailable facility does ("not passed"), which says nothing about
// the machine.
bool CheckIsAvailable(const UI::Variant& argument);

// DetectItem without stopping, leaving out 64-bit-only detect entries on
// 32-bit Windows.
int32_t CheckItemForThisSystem(ConfigItem& item);

// Registry by root name ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", ...).
// True when the value exists with that type and at least four bytes whose
// first 32 bits are `expected`.
bool RegValueEquals(std::string_view root, std::string_view subkey, std::string_view name, uint32_t type,
                    uint32_t expected);
// Overwrites an existing value of that type with `data`; a missing value
// (or one of another type) is never created.
bool RegOverwriteValue(std::string_view root, std::string_view subkey, std::string_view name, uint32_t type,
                       const std::vector<uint8_t>& data);
// The browser's home page is locked by policy (a REG_DWORD 1).
bool IsHomePageLocked();

}  // namespace Zentrovak::Assistant
