// Component installs: the installer and uninstaller classes (check types
// "install" and "uninstall"), the install routine that runs an item's
// installers and then repairs its failing detect entries, the repair of an
// add-on the user disabled, and the item downloads' progress reports.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "checkfix/check_fix.h"
#include "net/http.h"

namespace Zentrovak::Assistant {

// An installer entry: the package at the entry's address is downloaded
// into the download folder unless a verified copy is there, then run
// ("command" with "%1" for the package, else the package itself with
// "parameter") and waited for. The check always passes.
class ItemInstall : public ICheckFix {
 public:
  int32_t CheckEntry(ConfigEntry& entry) override { return Passed; }
  // Passed once the installer ran (its exit code is not looked at: the
  // detect entries decide); Failed when there is no safe file name, the
  // download fails or the package does not match its digests. A package
  // that does not match is deleted and never run.
  int32_t FixEntry(ConfigEntry& entry) override;
};

// An uninstaller entry: a command line ("cmd") or the UninstallString of
// an uninstall key ("regid", under HKLM, else HKCU) run and waited for.
class ItemUninstall : public ICheckFix {
 public:
  int32_t CheckEntry(ConfigEntry& entry) override { return Passed; }
  // Passed when a command was run, Failed when none was found.
  int32_t FixEntry(ConfigEntry& entry) override;
};

// Runs every installer entry of the item in order with the progress
// callback, then checks each detect entry of a known type and repairs the
// failing ones. Passed, or the first repair code that is not Passed.
int32_t InstallItem(ConfigItem& item, Network::DownloadCallback callback, int32_t parameter);
// InstallItem with the item progress reporter. On 32-bit Windows only the
// installers without "bit" "64" run, and no detect entry is repaired
// afterwards.
int32_t InstallItemForThisSystem(ConfigItem& item);
// Re-enables the item's disabled add-ons ("clsid" detect entries); when
// the item still reports Disabled, installs it.
void RepairDisabledItem(ConfigItem& item);
// Installs the assistant's own record as it is; true when that passed.
bool RunApplicationUpdate(Network::DownloadCallback callback, int32_t parameter);

// The progress callback of item installs: reported to the page for the
// current progress item (see ProgressThrottle).
bool ItemDownloadProgress(const Network::DownloadProgress* progress);

// The file name a package address is stored under: the part after its last
// "/" or "\", with the characters Windows does not allow in a name (and
// controls) replaced by "_" and trailing dots and blanks dropped. Empty
// when nothing usable is left (".", "..", a device name such as NUL).
std::u16string SafeDownloadName(std::u16string_view address);
// The folder "Download" in the program's data folder (on Windows beside
// the program; on posix in the machine directory), created when missing.
std::u16string DownloadFolder();
// Where the package of an address is kept: a folder of its own per
// address in DownloadFolder() (16 hex digits of the SHA-256 of the
// address, so that "…/a/setup.exe" and "…/b/setup.exe" never share a
// file), holding the package under its safe name; empty when the address
// has no usable name. The folders are created when missing.
std::u16string DownloadPathFor(std::u16string_view address);
// Whether the entry gives a digest ("md5", "sha1" or "sha256") by which a
// kept package can be told to be still the right one.
bool HasDigest(const ConfigEntry& entry);

// The package test: Passed when the file exists and matches every digest
// the entry gives ("md5", "sha1", "sha256"; lower-case hex after
// lower-casing), else Failed. A version is not looked at.
int32_t PackageMatches(const ConfigEntry& entry, std::u16string_view path);
// False when a digest the entry gives cannot be one: a wrong length or
// anything but hex digits.
bool DigestsWellFormed(const ConfigEntry& entry);

// The installer's command with the quoted package path in place of the
// first "%1" (or of the first "\"%1\"", so the path is not quoted twice);
// unchanged without "%1".
std::u16string InstallerCommandLine(std::u16string_view command, std::u16string_view packagePath);

}  // namespace Zentrovak::Assistant
