// Helpers shared by the tests of both targets.
#pragma once
#include <string>

#include "platform/registry.h"

namespace Zentrovak::Testing {

// posix: a fresh machine directory under the system's temporary folder,
// removed afterwards (kept when ZENTROVAK_KEEP_TEST_MACHINE is set).
void PrepareTestMachine(int argc, char** argv);
void CleanUpTestMachine();
// The test program's own argv[0] (for tests that start a copy of it).
const std::string& TestProgramPath();
// posix: the host path of the test machine directory; win32: empty.
std::string TestMachineDirectory();

// A new empty folder, as a Windows path, under %TEMP% of the machine.
std::u16string NewTempFolder();

// Makes a file read-only as its system does (Windows: the read-only
// attribute; posix: no write permission for anyone), or writable again.
bool SetReadOnly(const std::u16string& path, bool readOnly);

// True when the Windows program runs under Wine, whose services differ from
// Windows' in the ways tests name when they skip.
bool RunningUnderWine();

// A registry path under HKEY_CURRENT_USER unique to this run; removed at
// the end of the program. Its last part is the run's tag.
std::u16string TestRegistryPath();
std::u16string TestRunTag();

// The Windows a test runs against, 32-bit or 64-bit. posix: the test
// machine is made that Windows (its registry's PROCESSOR_ARCHITECTURE) and
// made 32-bit again when the object goes. win32: the running Windows is
// what the run gives; Holds() says whether it is the one asked for, and a
// test that needs the other says so and skips (the posix run covers it).
class WindowsOfBitness {
 public:
  explicit WindowsOfBitness(int bits);
  ~WindowsOfBitness();
  WindowsOfBitness(const WindowsOfBitness&) = delete;
  WindowsOfBitness& operator=(const WindowsOfBitness&) = delete;
  bool Holds() const { return holds_; }

 private:
  bool holds_ = false;
};

// The registry view the program reads ordinary entries through: the 32-bit
// one, which a 64-bit build of the tests names explicitly.
Platform::RegView ProgramRegistryView();

// Child roles: a test starts a copy of its own program with
// ZENTROVAK_TEST_ROLE=<name> and the copy runs the role instead of the tests.
using RoleFunction = int (*)();
bool RegisterRole(const char* name, RoleFunction role);
// Runs the role named in the environment, if any; answers its exit code.
bool RunRoleIfAsked(int* exitCode);

#ifndef _WIN32
// posix: a desktop session of the program's own user (run by root, root's
// own session), as the session's runtime folder names it, for as long as
// the object lives.
class OwnDesktopSession {
 public:
  OwnDesktopSession();
  ~OwnDesktopSession();
  OwnDesktopSession(const OwnDesktopSession&) = delete;
  OwnDesktopSession& operator=(const OwnDesktopSession&) = delete;

 private:
  std::string before_;
  std::string folder_;
};

// posix: starts a copy of this test program in `role`, its standard output
// on a pipe. Answers the child's process id and the pipe's reading end.
struct RoleChild {
  int pid = -1;
  int output = -1;
};
RoleChild StartRole(const char* role);
// Kills the child and collects it; closes the pipe.
void KillRole(RoleChild& child);
#endif

}  // namespace Zentrovak::Testing
