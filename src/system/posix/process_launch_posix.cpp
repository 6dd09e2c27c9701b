// Programs of the posix machine. Command lines carry Windows paths; the
// program is found through the machine's drive mapping and started with
// the arguments split by the Windows rule.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "app/startup.h"
#include "platform/files.h"
#include "platform/posix/host_paths.h"
#include "platform/text.h"
#include "system/posix/desktop_browser.h"
#include "system/process_launch.h"

extern char** environ;

namespace Zentrovak::System {

namespace Posix {

namespace {
long Spawn(const std::string& program, const std::vector<std::string>& args, bool searchPath) {
  std::vector<std::string> argvStrings;
  argvStrings.push_back(program);
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = searchPath ? ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ)
                               : ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  return error == 0 ? static_cast<long>(pid) : -1;
}

int WaitExit(long pid) {
  int status = 0;
  while (::waitpid(static_cast<pid_t>(pid), &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}
}  // namespace

long SpawnDetached(const std::string& program, const std::vector<std::string>& args, bool searchPath) {
  const long pid = Spawn(program, args, searchPath);
  if (pid > 0) std::thread([pid] { WaitExit(pid); }).detach();
  return pid;
}

bool OpenInDesktopBrowser(const std::string& url) {
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) return false;
  if (const char* browser = std::getenv("ZENTROVAK_BROWSER"); browser && *browser)
    return SpawnDetached(browser, {url}, true) > 0;
  return SpawnDetached("xdg-open", {url}, true) > 0;
}

}  // namespace Posix

namespace {

// The host program of a Windows program path; a bare name is looked up on
// the host's PATH.
bool HostProgram(const std::u16string& windowsPath, std::string& program, bool& searchPath) {
  searchPath = windowsPath.find_first_of(u"\\/:") == std::u16string::npos;
  if (searchPath) {
    program = Platform::Utf16ToUtf8(windowsPath);
    return !program.empty();
  }
  const auto host = Platform::Posix::ToHostPath(windowsPath);
  if (host.error || !Platform::Posix::Exists(host.path) || Platform::Posix::IsDirectory(host.path)) return false;
  program = host.path;
  return true;
}

int32_t Start(const std::u16string& file, const std::vector<std::u16string>& arguments, bool wait) {
  std::string program;
  bool searchPath = false;
  if (!HostProgram(file, program, searchPath)) return -1;
  std::vector<std::string> args;
  for (const auto& a : arguments) args.push_back(Platform::Utf16ToUtf8(a));
  if (!wait) return Posix::SpawnDetached(program, args, searchPath) > 0 ? 0 : -1;
  const long pid = Posix::Spawn(program, args, searchPath);
  return pid > 0 ? Posix::WaitExit(pid) : -1;
}

}  // namespace

int32_t StartCommandLine(std::u16string_view commandLine, bool, bool wait) {
  std::vector<std::u16string> args = App::SplitCommandLine(commandLine);
  if (args.empty() || args.front().empty()) return -1;
  const std::u16string program = args.front();
  args.erase(args.begin());
  return Start(program, args, wait);
}

// The program already runs with the rights of the desktop's user: there is
// no other token to take.
int32_t StartCommandLineAsDesktopUser(std::u16string_view commandLine, bool hide, bool wait) {
  return StartCommandLine(commandLine, hide, wait);
}

int32_t ShellExecuteFile(std::u16string_view file, std::u16string_view parameters, bool, bool wait) {
  // Internet Explorer is not on this machine: the desktop's browser opens
  // the address instead.
  if (Platform::AsciiEqualsIgnoreCase(Platform::FileNamePart(file), u"iexplore.exe") && !Platform::FileExists(file)) {
    Posix::OpenInDesktopBrowser(Platform::Utf16ToUtf8(parameters));
    return -1;
  }
  std::vector<std::u16string> args = App::SplitCommandLine(u"x " + std::u16string(parameters));
  args.erase(args.begin());
  const int32_t code = Start(std::u16string(file), args, wait);
  return wait ? code : -1;
}

std::u16string InternetExplorerPath() {
  // Stands for the desktop's browser, which is always there to ask.
  return Platform::SpecialFolderPath(0x26) + u"\\Internet Explorer\\iexplore.exe";
}

Platform::HResult OpenInBrowser(std::u16string_view, std::u16string_view url) {
  return Posix::OpenInDesktopBrowser(Platform::Utf16ToUtf8(url)) ? Platform::kSOk : Platform::kEFail;
}

}  // namespace Zentrovak::System
