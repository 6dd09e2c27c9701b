// The machine directory: the Windows machine that the posix backend stands
// in for. drive_c/ holds the C: drive (laid out as a Wine prefix), and
// registry.db the registry.
#pragma once
#include <string>

namespace Zentrovak::Platform::Posix {

// Chosen by --machine DIR, else $ZENTROVAK_MACHINE, else
// $XDG_DATA_HOME/zentrovak/machine (~/.local/share/zentrovak/machine).
// Created with its folders on first use.
const std::string& MachineDirectory();
// Only before first use; tests and the command line choose it this way.
void SetMachineDirectory(const std::string& directory);

std::string MachineUserName();

}  // namespace Zentrovak::Platform::Posix
