// What the 32-bit program sees of a 64-bit Windows machine. The posix
// program stands for the 32-bit assistant, so on a machine whose registry
// says it is 64-bit Windows its registry and its System32 folder are
// redirected the way WOW64 redirects them, unless it asks for the 64-bit
// view (KEY_WOW64_64KEY) or turns file-system redirection off for the
// thread (Wow64DisableWow64FsRedirection).
#pragma once
#include <string>
#include <vector>

namespace Zentrovak::Platform::Posix {

// The machine's registry says PROCESSOR_ARCHITECTURE is AMD64 or IA64.
bool MachineIs64BitWindows();

// Key names below HKEY_LOCAL_MACHINE as the 32-bit view stores them:
// Software\X becomes Software\Wow6432Node\X, and the class registrations
// Windows keeps apart (CLSID, Interface, …) move below Classes\Wow6432Node.
// Keys Windows shares between the views stay where they are.
void RedirectTo32BitView(std::vector<std::u16string>& names);

// Names below C:\ as the 32-bit view of the file system finds them:
// windows\system32 becomes windows\SysWOW64, except the folders Windows
// leaves shared (drivers\etc, spool, catroot, …).
void RedirectTo32BitFolder(std::vector<std::u16string>& names);

// Wow64DisableWow64FsRedirection's per-thread switch.
void SetThreadFileRedirection(bool enabled);
bool ThreadFileRedirectionEnabled();

}  // namespace Zentrovak::Platform::Posix
