// Windows paths on the posix machine: C:\ is drive_c/ of the machine
// directory, Z:\ is the host's root, as in a Wine prefix.
#pragma once
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::Platform::Posix {

struct HostPath {
  std::string path;         // host path; existing names found without case
  bool parentExists = false;
  Win32Error error = 0;     // a path that cannot name anything (3)
};

HostPath ToHostPath(std::u16string_view windowsPath);
// A host path as the machine names it: under drive_c/ a C:\ path, else Z:\.
std::u16string ToWindowsPath(const std::string& hostPath);

bool Exists(const std::string& hostPath);
bool IsDirectory(const std::string& hostPath);

// Windows has no permission to execute: a program file of the host (a
// script, or an ELF program such as a downloaded installer or the
// program's own update) is made executable for its owner before it is
// started.
void MakeRunnable(const std::string& hostPath);

}  // namespace Zentrovak::Platform::Posix
