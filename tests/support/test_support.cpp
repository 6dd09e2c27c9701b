#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "system/version.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/host_paths.h"
#include "platform/posix/machine.h"
#endif

#ifndef _WIN32
extern char** environ;
#endif

namespace Zentrovak::Testing {

namespace {
std::string& ProgramPath() {
  static std::string path;
  return path;
}
std::string& MachineDir() {
  static std::string dir;
  return dir;
}
std::u16string RunTag() {
  static const std::u16string tag =
      Platform::ToU16(static_cast<int32_t>(std::chrono::steady_clock::now().time_since_epoch().count() & 0x7FFFFFFF));
  return tag;
}
}  // namespace

void PrepareTestMachine(int, char** argv) {
  ProgramPath() = argv && argv[0] ? argv[0] : "";
#ifndef _WIN32
  // A child started by a test inherits its parent's machine.
  if (const char* inherited = std::getenv("ZENTROVAK_TEST_MACHINE")) {
    MachineDir() = inherited;
  } else {
    std::string pattern = (std::filesystem::temp_directory_path() / "zentrovak-test-XXXXXX").string();
    MachineDir() = ::mkdtemp(pattern.data()) ? pattern : "/tmp/zentrovak-test";
    ::setenv("ZENTROVAK_TEST_MACHINE", MachineDir().c_str(), 1);
    ::setenv("ZENTROVAK_TEST_MACHINE_OWNER", std::to_string(::getpid()).c_str(), 1);
  }
  Platform::Posix::SetMachineDirectory(MachineDir());
  // The user's trash stays out of the tests' reach.
  ::setenv("XDG_DATA_HOME", (MachineDir() + "/xdg-data").c_str(), 1);
#endif
}

void CleanUpTestMachine() {
  Platform::RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, u"Software\\ZentrovakTests\\" + RunTag(),
                                    Platform::RegView::Default);
#ifndef _WIN32
  const char* owner = std::getenv("ZENTROVAK_TEST_MACHINE_OWNER");
  if (owner && std::to_string(::getpid()) == owner && !std::getenv("ZENTROVAK_KEEP_TEST_MACHINE")) {
    std::error_code ignored;
    std::filesystem::remove_all(MachineDir(), ignored);
  }
#endif
}

const std::string& TestProgramPath() { return ProgramPath(); }
std::string TestMachineDirectory() { return MachineDir(); }

std::u16string NewTempFolder() {
  static std::atomic<int> counter{0};
  const std::u16string base = Platform::ExpandEnvironmentReferences(u"%TEMP%");
  std::u16string folder = base + u"\\zt" + RunTag() + u"-" + Platform::ToU16(counter++);
  Platform::MakeDirectory(folder);
  return folder;
}

namespace {
std::map<std::string, RoleFunction>& Roles() {
  static std::map<std::string, RoleFunction> roles;
  return roles;
}
}  // namespace

bool RegisterRole(const char* name, RoleFunction role) {
  Roles()[name] = role;
  return true;
}

bool RunRoleIfAsked(int* exitCode) {
  const char* name = std::getenv("ZENTROVAK_TEST_ROLE");
  if (!name || !*name) return false;
  const auto it = Roles().find(name);
  *exitCode = it == Roles().end() ? 97 : it->second();
  return true;
}

#ifndef _WIN32
RoleChild StartRole(const char* role) {
  RoleChild child;
  int out[2];
  if (::pipe(out) != 0) return child;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string variable = std::string("ZENTROVAK_TEST_ROLE=") + role;
  std::vector<std::string> env = {variable};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("ZENTROVAK_TEST_ROLE=", 0) != 0) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = TestProgramPath();
  char* argv[] = {program.data(), nullptr};
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return child;
  }
  child.pid = pid;
  child.output = out[0];
  return child;
}

void KillRole(RoleChild& child) {
  if (child.pid > 0) {
    ::kill(child.pid, SIGKILL);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
  }
  if (child.output >= 0) ::close(child.output);
  child = RoleChild{};
}
#endif

#ifndef _WIN32
OwnDesktopSession::OwnDesktopSession() {
  if (const char* before = std::getenv("XDG_RUNTIME_DIR")) before_ = before;
  char pattern[] = "/tmp/zt-session-XXXXXX";
  if (::mkdtemp(pattern)) folder_ = pattern;
  ::setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
}

OwnDesktopSession::~OwnDesktopSession() {
  if (before_.empty()) ::unsetenv("XDG_RUNTIME_DIR");
  else ::setenv("XDG_RUNTIME_DIR", before_.c_str(), 1);
  if (!folder_.empty()) ::rmdir(folder_.c_str());
}
#endif

bool SetReadOnly(const std::u16string& path, bool readOnly) {
#ifdef _WIN32
  const std::wstring wide(path.begin(), path.end());
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD wanted = readOnly ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~FILE_ATTRIBUTE_READONLY;
  return ::SetFileAttributesW(wide.c_str(), wanted) != 0;
#else
  const std::string host = Platform::Posix::ToHostPath(path).path;
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0) return false;
  const mode_t mode = readOnly ? st.st_mode & ~0222 : st.st_mode | 0200;
  return ::chmod(host.c_str(), mode & 07777) == 0;
#endif
}

bool RunningUnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::u16string TestRegistryPath() { return u"Software\\ZentrovakTests\\" + RunTag(); }
std::u16string TestRunTag() { return RunTag(); }

namespace {
constexpr char16_t kEnvironmentKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
}  // namespace

Platform::RegView ProgramRegistryView() {
  return System::is_64bit_process() ? Platform::RegView::Force32 : Platform::RegView::Default;
}

WindowsOfBitness::WindowsOfBitness(int bits) {
#ifndef _WIN32
  Platform::RegistryKey key;
  if (Platform::RegistryKey::Create(Platform::kHkeyLocalMachine, kEnvironmentKey, Platform::RegAccess::ReadWrite,
                                    Platform::RegView::Force64, key) == 0)
    key.WriteString(u"PROCESSOR_ARCHITECTURE", bits == 64 ? u"AMD64" : u"x86");
#endif
  holds_ = System::is_64bit_windows() == (bits == 64);
}

WindowsOfBitness::~WindowsOfBitness() {
#ifndef _WIN32
  Platform::RegistryKey key;
  if (Platform::RegistryKey::Open(Platform::kHkeyLocalMachine, kEnvironmentKey, Platform::RegAccess::ReadWrite,
                                  Platform::RegView::Force64, key) == 0)
    key.DeleteValue(u"PROCESSOR_ARCHITECTURE");
#endif
}

}  // namespace Zentrovak::Testing
