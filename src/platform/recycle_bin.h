// The user's recycle bin. win32: the shell's delete with undo; posix: the
// freedesktop trash of the user ($XDG_DATA_HOME/Trash).
#pragma once
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::Platform {

// Moves a file or a folder (with its content) to the recycle bin, silently.
// 0 on success, else the shell's (win32) or a Win32 (posix) error code.
Win32Error MoveToRecycleBin(std::u16string_view path);

}  // namespace Zentrovak::Platform
