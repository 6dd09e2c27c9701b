// The desktop's browser of the posix machine: it stands in for Internet
// Explorer. $ZENTROVAK_BROWSER names the program when set (tests and
// demos point it at their own), else xdg-open opens the address.
#pragma once
#include <string>
#include <vector>

namespace Zentrovak::System::Posix {

// Starts the browser on an http or https address (other schemes are not
// handed to the desktop); false when nothing could be started.
bool OpenInDesktopBrowser(const std::string& url);

// A descriptor of ours that a started program gets as descriptor `childFd`.
struct HandedDescriptor {
  int ours = -1;
  int childFd = -1;
};

// Starts a host program with arguments, not waiting; its exit is reaped in
// the background. The process id, or -1.
long SpawnDetached(const std::string& program, const std::vector<std::string>& args, bool searchPath,
                   const std::vector<HandedDescriptor>& handed = {});

}  // namespace Zentrovak::System::Posix
