// The freedesktop trash: the item goes to Trash/files under a free name and
// Trash/info gets a .trashinfo record with its original path and the time,
// so the desktop's trash can put it back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/host_paths.h"
#include "platform/recycle_bin.h"

namespace Zentrovak::Platform {

namespace {

std::string TrashFolder() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::string(xdg) + "/Trash";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/Trash";
}

// Path= is a URI path: every byte outside the unreserved set and '/' escaped.
std::string EscapePath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&t, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
  return buffer;
}

// A file held open through FileStream is in use, as on Windows, where the
// shell cannot move it either.
bool InUse(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  const bool used = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return used;
}

}  // namespace

Win32Error MoveToRecycleBin(std::u16string_view path) {
  namespace fs = std::filesystem;
  const auto host = Posix::ToHostPath(path);
  if (host.error) return host.error;
  if (!Posix::Exists(host.path)) return host.parentExists ? kErrorFileNotFound : kErrorPathNotFound;
  const fs::path source = fs::path(host.path).lexically_normal();
  if (source == source.root_path()) return kErrorAccessDenied;
  if (!Posix::IsDirectory(source.string()) && InUse(source.string())) return kErrorSharingViolation;

  const std::string trash = TrashFolder();
  std::error_code ec;
  fs::create_directories(trash + "/files", ec);
  fs::create_directories(trash + "/info", ec);
  if (ec) return kErrorAccessDenied;

  // Reserve a name by creating its info record exclusively.
  const std::string base = source.filename().string();
  std::string name;
  std::string info;
  for (int n = 1; n < 10000; ++n) {
    name = n == 1 ? base : base + "." + std::to_string(n);
    info = trash + "/info/" + name + ".trashinfo";
    std::FILE* f = std::fopen(info.c_str(), "wx");
    if (!f) {
      if (errno == EEXIST) continue;
      return kErrorAccessDenied;
    }
    const std::string record = "[Trash Info]\nPath=" + EscapePath(source.string()) +
                               "\nDeletionDate=" + Now() + "\n";
    const bool written = std::fwrite(record.data(), 1, record.size(), f) == record.size();
    if (std::fclose(f) != 0 || !written) {
      ::unlink(info.c_str());
      return kErrorAccessDenied;
    }
    break;
  }
  if (name.empty()) return kErrorAccessDenied;

  const std::string target = trash + "/files/" + name;
  if (::rename(source.c_str(), target.c_str()) == 0) return kErrorSuccess;
  if (errno == EXDEV) {
    // Another file system: copy, then remove the original.
    fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (!ec) {
      fs::remove_all(source, ec);
      if (!ec) return kErrorSuccess;
    }
    fs::remove_all(target, ec);
  }
  ::unlink(info.c_str());
  return kErrorAccessDenied;
}

}  // namespace Zentrovak::Platform
