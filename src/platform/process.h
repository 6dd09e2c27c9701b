// The process itself: its command line, options of the Linux build, restart.
#pragma once
#include <string>

namespace Zentrovak::Platform {

// Options only the Linux build has. They are taken out of the command line
// before the program's own argument rule sees it.
struct PlatformOptions {
  std::string machineDirectory;  // --machine DIR
  bool noBrowser = false;        // --no-browser
  bool check = false;            // --check
  bool fix = false;              // --fix
  bool json = false;             // --json
};

// First call of main. posix: takes the Linux-only options out of argv and
// sets the machine directory; win32: nothing to take out.
const PlatformOptions& InitializeProcess(int argc, char** argv);
const PlatformOptions& CurrentPlatformOptions();

// The process command line as Windows gives it (program path first). posix
// builds it from the remaining arguments, quoted by the Windows rules.
std::u16string ProcessCommandLine();

// Starts a new instance of the program, shown normally, without page
// arguments (posix keeps the Linux-only options). False when it could not
// be started.
bool StartNewInstance();

// Ends the process at once with `code`, without running the destructors of
// static objects (used when worker threads still run at the end).
[[noreturn]] void EndProcessNow(int code);

}  // namespace Zentrovak::Platform
