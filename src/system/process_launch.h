// Starting other programs from the elevated application: a command line,
// a file through the shell, an address in Internet Explorer, and the logon
// auto-start entry of the Run key.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::System {

// CreateProcessW takes command lines of up to 32767 characters with the
// terminator, so that a link as long as a browser accepts still opens.
inline constexpr size_t kCommandLineBufferChars = 32767;
inline constexpr char16_t kRunKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Starts a command line (program path first). Answers the exit code when
// waiting, 0 while the process still runs, -1 when it could not be started
// (also for a command line of kCommandLineBufferChars characters or more). The start as the
// desktop user borrows the desktop shell's token (from Vista on; before,
// it is a plain start) and answers -1 when there is no shell to borrow from.
int32_t launch_process(std::u16string_view commandLine, bool hide, bool wait, bool asDesktopUser);

// Runs a file through the shell with parameters. The exit code when
// waiting; -1 otherwise or when the shell gave no process.
int32_t shell_run(std::u16string_view file, std::u16string_view parameters, bool hide, bool wait);

// Opens an address in Internet Explorer as the desktop user (posix: the
// desktop's browser). 0 on start, 0x80070002 without a browser, E_FAIL when
// the start failed.
Platform::HResult open_url_in_ie(std::u16string_view url);

// The Run value name of a command line: the text after the last "\" and
// then after the last "/", up to its first ".".
std::u16string AutorunValueName(std::u16string_view commandLine);

// Enables (writes) or disables (deletes) the current user's Run entry for
// the command line; true when the registry change succeeded.
bool set_autorun(std::u16string_view commandLine, const std::optional<std::u16string>& parameters, bool enable);

// The backend's plain start of a command line, its start with the desktop
// shell's token, and its shell run (no checks).
int32_t StartCommandLine(std::u16string_view commandLine, bool hide, bool wait);
int32_t StartCommandLineAsDesktopUser(std::u16string_view commandLine, bool hide, bool wait);
int32_t ShellExecuteFile(std::u16string_view file, std::u16string_view parameters, bool hide, bool wait);
// What the desktop keeps besides the Run value: posix writes (or removes)
// the XDG autostart entry of that name for the desktop's user; win32 has
// nothing besides. False when the entry could not be written (posix, run
// by root outside any session: there is no user to start it for).
bool UpdateDesktopAutostart(std::u16string_view valueName, std::u16string_view commandLine, bool enable);
// Where Internet Explorer (posix: the stand-in browser) is; empty if none.
std::u16string InternetExplorerPath();
Platform::HResult OpenInBrowser(std::u16string_view browser, std::u16string_view url);

}  // namespace Zentrovak::System
