#include "platform/posix/machine.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

namespace Zentrovak::Platform::Posix {

namespace {

std::mutex& MachineMutex() {
  static std::mutex m;
  return m;
}
std::string& ChosenDirectory() {
  static std::string dir;
  return dir;
}
bool& Prepared() {
  static bool prepared = false;
  return prepared;
}

void MakeDirectories(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || (path[i] == '/' && i > 0)) {
      partial = path.substr(0, i);
      ::mkdir(partial.c_str(), 0755);
    }
  }
}

std::string DefaultDirectory() {
  if (const char* env = std::getenv("ZENTROVAK_MACHINE"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
    return std::string(xdg) + "/zentrovak/machine";
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* pw = ::getpwuid(::getuid());
    home = pw ? pw->pw_dir : "/tmp";
  }
  return std::string(home) + "/.local/share/zentrovak/machine";
}

// The folders a fresh Windows machine has, and a hosts file as Windows ships
// it (comments only).
void LayOut(const std::string& root) {
  const std::string c = root + "/drive_c";
  const std::string user = "users/" + MachineUserName();
  for (const std::string& dir :
       {std::string("windows/system32/drivers/etc"), std::string("windows/temp"),
        std::string("Program Files/Common Files"), std::string("Program Files/Internet Explorer"),
        std::string("ProgramData"), user + "/Temp", user + "/AppData/Roaming",
        user + "/AppData/Local", user + "/Desktop", std::string("users/Public")})
    MakeDirectories(c + "/" + dir);
  const std::string hosts = c + "/windows/system32/drivers/etc/hosts";
  struct stat st {};
  if (::stat(hosts.c_str(), &st) != 0) {
    std::ofstream out(hosts, std::ios::binary);
    out << "# Copyright (c) 1993-2009 Microsoft Corp.\r\n"
           "#\r\n"
           "# This is a sample HOSTS file used by Microsoft TCP/IP for Windows.\r\n"
           "#\r\n"
           "# localhost name resolution is handled within DNS itself.\r\n"
           "#\t127.0.0.1       localhost\r\n"
           "#\t::1             localhost\r\n";
  }
}

}  // namespace

std::string MachineUserName() {
  if (const char* user = std::getenv("USER"); user && *user) return user;
  // getpwuid's answer is shared by every thread: the reentrant form.
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
    return found->pw_name;
  return "user";
}

void SetMachineDirectory(const std::string& directory) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  ChosenDirectory() = directory;
  Prepared() = false;
}

const std::string& MachineDirectory() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  std::string& dir = ChosenDirectory();
  if (dir.empty()) dir = DefaultDirectory();
  if (!Prepared()) {
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    MakeDirectories(dir);
    LayOut(dir);
    Prepared() = true;
  }
  return dir;
}

}  // namespace Zentrovak::Platform::Posix
