// Programs of the posix machine. Command lines carry Windows paths: they are
// split by the Windows rule, the program is found through the machine's
// drive mapping, and every argument that is a whole path on one of the
// machine's drives is handed over as the host path it names, so that a
// program of the host can open it.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include "app/startup.h"
#include "platform/files.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/machine.h"
#include "platform/text.h"
#include "system/posix/desktop_browser.h"
#include "system/process_launch.h"

extern char** environ;

namespace Zentrovak::System {

namespace Posix {

namespace {

std::vector<char*> PointerList(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

long Spawn(const std::string& program, const std::vector<std::string>& args, bool searchPath,
           const std::vector<HandedDescriptor>& handed = {}) {
  std::vector<std::string> argvStrings{program};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv = PointerList(argvStrings);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  // A descriptor handed over as itself would keep its close-on-exec flag
  // through dup2: callers keep theirs apart from the child's numbers.
  for (const auto& fd : handed) ::posix_spawn_file_actions_adddup2(&actions, fd.ours, fd.childFd);
  pid_t pid = 0;
  const int error = searchPath ? ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                               : ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
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

// Its exit is collected in the background, so it leaves no zombie behind.
void ReapLater(long pid) {
  if (pid > 0) std::thread([pid] { WaitExit(pid); }).detach();
}

}  // namespace

long SpawnDetached(const std::string& program, const std::vector<std::string>& args, bool searchPath,
                   const std::vector<HandedDescriptor>& handed) {
  const long pid = Spawn(program, args, searchPath, handed);
  ReapLater(pid);
  return pid;
}

}  // namespace Posix

namespace {

struct DesktopUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;
  std::vector<gid_t> groups;
};

std::optional<uid_t> OwnerOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_uid;
}

std::optional<uid_t> UidFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  char* end = nullptr;
  const unsigned long uid = std::strtoul(value, &end, 10);
  if (*end != '\0') return std::nullopt;
  return static_cast<uid_t>(uid);
}

// The X display's socket, /tmp/.X11-unix/X<n> for ":n" or ":n.m".
std::string DisplaySocket() {
  const char* display = std::getenv("DISPLAY");
  if (!display || display[0] != ':') return {};
  std::string number;
  for (const char* p = display + 1; *p >= '0' && *p <= '9'; ++p) number.push_back(*p);
  return number.empty() ? std::string() : "/tmp/.X11-unix/X" + number;
}

// Who the desktop session belongs to: the user who elevated this program
// (pkexec, sudo), else the owner of the session's runtime folder or of its
// X display. None when the program runs outside any session.
std::optional<DesktopUser> SessionOwner() {
  std::optional<uid_t> uid = UidFromEnvironment("PKEXEC_UID");
  if (!uid) uid = UidFromEnvironment("SUDO_UID");
  if (!uid) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    uid = OwnerOf(runtime ? runtime : "");
  }
  if (!uid) uid = OwnerOf(DisplaySocket());
  if (!uid) return std::nullopt;
  passwd entry {};
  passwd* pw = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(*uid, &entry, buffer.data(), buffer.size(), &pw) != 0 || !pw) return std::nullopt;
  DesktopUser user;
  user.uid = pw->pw_uid;
  user.gid = pw->pw_gid;
  user.name = pw->pw_name;
  user.home = pw->pw_dir ? pw->pw_dir : "/";
  int count = 32;
  user.groups.resize(static_cast<size_t>(count));
  if (::getgrouplist(user.name.c_str(), user.gid, user.groups.data(), &count) < 0) {
    user.groups.resize(static_cast<size_t>(count));
    ::getgrouplist(user.name.c_str(), user.gid, user.groups.data(), &count);
  }
  user.groups.resize(static_cast<size_t>(count));
  return user;
}

// The environment as the user's own: our variables, with the user's name
// and home in place of ours.
std::vector<std::string> EnvironmentOf(const DesktopUser& user) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name != "HOME" && name != "USER" && name != "LOGNAME") env.push_back(entry);
  }
  env.push_back("HOME=" + user.home);
  env.push_back("USER=" + user.name);
  env.push_back("LOGNAME=" + user.name);
  return env;
}

// A bare name as posix_spawnp would find it on PATH.
std::string FindOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string candidate = (end > start ? list.substr(start, end - start) : ".") + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// Starts the program with the user's identity. The child only makes system
// calls between fork and exec: everything it needs is prepared before.
long SpawnAs(const DesktopUser& user, std::string program, const std::vector<std::string>& args, bool searchPath) {
  if (searchPath) program = FindOnPath(program);
  if (program.empty()) return -1;
  std::vector<std::string> argvStrings{program};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv = Posix::PointerList(argvStrings);
  std::vector<std::string> envStrings = EnvironmentOf(user);
  std::vector<char*> envp = Posix::PointerList(envStrings);
  // The child tells a failed exec through this pipe; it closes on success.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return -1;
  }
  if (pid == 0) {
    int error = 0;
    if (::setgroups(user.groups.size(), user.groups.data()) != 0 || ::setgid(user.gid) != 0 ||
        ::setuid(user.uid) != 0) {
      error = errno;
    } else {
      ::execve(program.c_str(), argv.data(), envp.data());
      error = errno;
    }
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int error = 0;
  ssize_t got;
  while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (got > 0) {
    Posix::WaitExit(pid);
    return -1;
  }
  return pid;
}

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
  Platform::Posix::MakeRunnable(program);
  return true;
}

// "C:\x", "z:/y": a whole argument that is a path on a drive of the machine.
std::string HostArgument(const std::u16string& argument) {
  const bool drivePath = argument.size() >= 3 && argument[1] == u':' && (argument[2] == u'\\' || argument[2] == u'/') &&
                         ((argument[0] >= u'a' && argument[0] <= u'z') || (argument[0] >= u'A' && argument[0] <= u'Z'));
  if (drivePath) {
    const auto host = Platform::Posix::ToHostPath(argument);
    if (!host.error) return host.path;
  }
  return Platform::Utf16ToUtf8(argument);
}

int32_t Start(const std::u16string& file, const std::vector<std::u16string>& arguments, bool wait,
              const DesktopUser* asUser) {
  std::string program;
  bool searchPath = false;
  if (!HostProgram(file, program, searchPath)) return -1;
  std::vector<std::string> args;
  for (const auto& a : arguments) args.push_back(HostArgument(a));
  const long pid = asUser ? SpawnAs(*asUser, program, args, searchPath) : Posix::Spawn(program, args, searchPath);
  if (pid <= 0) return -1;
  if (wait) return Posix::WaitExit(pid);
  Posix::ReapLater(pid);
  return 0;  // still running
}

int32_t StartSplit(std::u16string_view commandLine, bool wait, const DesktopUser* asUser) {
  std::vector<std::u16string> args = App::SplitCommandLine(commandLine);
  if (args.empty() || args.front().empty()) return -1;
  const std::u16string program = args.front();
  args.erase(args.begin());
  return Start(program, args, wait, asUser);
}

// Whose desktop a program for the user is started on: nobody's when the
// program runs as root outside any session.
enum class DesktopOwner { Ourselves, OtherUser, Nobody };
DesktopOwner OwnerOfDesktop(std::optional<DesktopUser>& user) {
  if (::geteuid() != 0) return DesktopOwner::Ourselves;
  user = SessionOwner();
  if (!user) return DesktopOwner::Nobody;
  return user->uid == 0 ? DesktopOwner::Ourselves : DesktopOwner::OtherUser;
}

}  // namespace

namespace Posix {

// The desktop's browser is the user's own: run by root, it is started as
// the session's user (a root browser on the user's display could be made
// to do anything by the pages it opens), and outside a session not at all.
bool OpenInDesktopBrowser(const std::string& url) {
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) return false;
  const char* chosen = std::getenv("ZENTROVAK_BROWSER");
  const std::string browser = chosen && *chosen ? chosen : "xdg-open";
  std::optional<DesktopUser> user;
  long pid = -1;
  switch (OwnerOfDesktop(user)) {
    case DesktopOwner::Ourselves: pid = Spawn(browser, {url}, true); break;
    case DesktopOwner::OtherUser: pid = SpawnAs(*user, browser, {url}, true); break;
    case DesktopOwner::Nobody: return false;
  }
  ReapLater(pid);
  return pid > 0;
}

}  // namespace Posix

int32_t StartCommandLine(std::u16string_view commandLine, bool, bool wait) {
  return StartSplit(commandLine, wait, nullptr);
}

// Run by an administrator (root), the program starts it with the identity
// of the session's user, as Windows borrows the desktop shell's token;
// outside any session there is no user to borrow from. Run by the user,
// the program already has the user's rights.
int32_t StartCommandLineAsDesktopUser(std::u16string_view commandLine, bool, bool wait) {
  std::optional<DesktopUser> user;
  switch (OwnerOfDesktop(user)) {
    case DesktopOwner::Ourselves: return StartSplit(commandLine, wait, nullptr);
    case DesktopOwner::OtherUser: return StartSplit(commandLine, wait, &*user);
    case DesktopOwner::Nobody: break;
  }
  return -1;
}

int32_t ShellExecuteFile(std::u16string_view file, std::u16string_view parameters, bool, bool wait) {
  // Internet Explorer is not on this machine: the desktop's browser opens
  // the address instead.
  if (Platform::AsciiEqualsIgnoreCase(Platform::FileNamePart(file), u"iexplore.exe") && !Platform::FileExists(file)) {
    Posix::OpenInDesktopBrowser(Platform::Utf16ToUtf8(parameters));
    return -1;
  }
  // The shell takes a file name in quotes as the name.
  std::u16string name(file);
  if (name.size() >= 2 && name.front() == u'"' && name.back() == u'"') name = name.substr(1, name.size() - 2);
  std::vector<std::u16string> args = App::SplitCommandLine(u"x " + std::u16string(parameters));
  args.erase(args.begin());
  const int32_t code = Start(name, args, wait, nullptr);
  return wait ? code : -1;
}

namespace {

// A desktop session is there when the desktop names itself or a display
// is set.
bool OnDesktop() {
  for (const char* name : {"XDG_CURRENT_DESKTOP", "WAYLAND_DISPLAY", "DISPLAY"})
    if (const char* value = std::getenv(name); value && *value) return true;
  return false;
}

// Our own autostart folder, as the desktop names it.
std::string OwnAutostartFolder() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) return std::string(config) + "/autostart";
  const char* home = std::getenv("HOME");
  return home && *home ? std::string(home) + "/.config/autostart" : std::string();
}

// An argument of a desktop entry's Exec key, quoted when it needs to be.
std::string DesktopEntryArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`=%") == std::string::npos) return argument;
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

// The desktop entry that starts the Run value's command line, or "" when
// its program is not on this machine.
std::string AutostartEntry(std::u16string_view valueName, std::u16string_view commandLine) {
  std::vector<std::u16string> args = App::SplitCommandLine(commandLine);
  std::string program;
  bool searchPath = false;
  if (args.empty() || !HostProgram(args.front(), program, searchPath)) return {};
  std::string exec = "env " + DesktopEntryArgument("ZENTROVAK_MACHINE=" + Platform::Posix::MachineDirectory()) + " " +
                     DesktopEntryArgument(program);
  for (size_t i = 1; i < args.size(); ++i) exec += " " + DesktopEntryArgument(HostArgument(args[i]));
  return "[Desktop Entry]\nType=Application\nName=" + Platform::Utf16ToUtf8(valueName) + "\nExec=" + exec +
         "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
}

// Writes (or, with no entry, removes) the entry file and makes its folders.
// Only calls that are safe between fork and exec: it also runs in a child
// that has taken the user's identity.
bool PlaceEntry(const std::vector<std::string>& folders, const std::string& file, const std::string& entry) {
  if (entry.empty()) return ::unlink(file.c_str()) == 0 || errno == ENOENT;
  for (const std::string& folder : folders)
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = true;
  for (size_t at = 0; at < entry.size() && written;) {
    const ssize_t n = ::write(fd, entry.data() + at, entry.size() - at);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) at += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && written;
}

// The same in a child that has become the user, so that every file and
// folder is theirs and no link in their home can lead root's writes
// elsewhere.
bool PlaceEntryAs(const DesktopUser& user, const std::vector<std::string>& folders, const std::string& file,
                  const std::string& entry) {
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (::setgroups(user.groups.size(), user.groups.data()) != 0 || ::setgid(user.gid) != 0 ||
        ::setuid(user.uid) != 0)
      ::_exit(1);
    ::_exit(PlaceEntry(folders, file, entry) ? 0 : 1);
  }
  return Posix::WaitExit(pid) == 0;
}

// The folders from the top of an absolute path down to it.
std::vector<std::string> FoldersDownTo(const std::string& folder) {
  std::vector<std::string> folders;
  for (size_t at = folder.find('/', 1); at != std::string::npos; at = folder.find('/', at + 1))
    folders.push_back(folder.substr(0, at));
  folders.push_back(folder);
  return folders;
}

}  // namespace

// The Run value's command line as the desktop's autostart entry of the
// desktop's user: the same program with the same arguments, on this
// machine. Run by root, the entry goes to the session's user, who is the
// one who logs on; with no session there is no one to start it for.
bool UpdateDesktopAutostart(std::u16string_view valueName, std::u16string_view commandLine, bool enable) {
  if (valueName.empty()) return false;
  std::optional<DesktopUser> user;
  const DesktopOwner owner = OwnerOfDesktop(user);
  if (owner == DesktopOwner::Nobody) return !enable;
  const std::string folder = owner == DesktopOwner::OtherUser ? user->home + "/.config/autostart" : OwnAutostartFolder();
  if (folder.empty() || folder.front() != '/') return !enable;
  const std::string file = folder + "/" + Platform::Utf16ToUtf8(valueName) + ".desktop";
  // Without a desktop there is nothing that would read an entry of ours.
  if (enable && owner == DesktopOwner::Ourselves && !OnDesktop()) return true;
  std::string entry;
  if (enable) {
    entry = AutostartEntry(valueName, commandLine);
    if (entry.empty()) return false;
  }
  const std::vector<std::string> folders = FoldersDownTo(folder);
  const bool placed =
      owner == DesktopOwner::OtherUser ? PlaceEntryAs(*user, folders, file, entry) : PlaceEntry(folders, file, entry);
  return placed || !enable;
}

std::u16string InternetExplorerPath() {
  // Stands for the desktop's browser, which is always there to ask.
  return Platform::SpecialFolderPath(0x26) + u"\\Internet Explorer\\iexplore.exe";
}

Platform::HResult OpenInBrowser(std::u16string_view, std::u16string_view url) {
  return Posix::OpenInDesktopBrowser(Platform::Utf16ToUtf8(url)) ? Platform::kSOk : Platform::kEFail;
}

}  // namespace Zentrovak::System
