// Files of the posix machine. A file opened through FileStream is "in use"
// as on Windows, where the program opens files without sharing deletion:
// the stream holds an open-file-description lock, and a deletion, rename or
// overwrite that finds such a lock fails with a sharing violation.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/wow64_views.h"
#include "platform/posix/machine.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::Platform {

namespace Posix {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// The entry of `dir` whose name equals `name` without regard to case.
std::string FindEntry(const std::string& dir, const std::u16string& name) {
  const std::string exact = Utf16ToUtf8(name);
  if (Exists(dir + "/" + exact)) return exact;
  DIR* d = ::opendir(dir.empty() ? "/" : dir.c_str());
  if (!d) return {};
  std::string found;
  while (const dirent* e = ::readdir(d)) {
    if (EqualsIgnoreCase(Utf8ToUtf16(e->d_name), name)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace

HostPath ToHostPath(std::u16string_view windowsPath) {
  HostPath result;
  std::u16string path(windowsPath);
  for (auto& c : path)
    if (c == u'/') c = u'\\';
  if (path.rfind(u"\\\\?\\", 0) == 0 || path.rfind(u"\\??\\", 0) == 0) path.erase(0, 4);
  if (path.empty()) {
    result.error = kErrorPathNotFound;
    return result;
  }
  const bool hasDrive = path.size() >= 2 && path[1] == u':';
  if (!hasDrive) {
    const std::u16string cwd = CurrentDirectory();
    path = path[0] == u'\\' ? cwd.substr(0, 2) + path : cwd + u"\\" + path;
  } else if (path.size() == 2 || path[2] != u'\\') {
    path.insert(2, u"\\");  // "C:name" taken from the drive's root
  }
  const char16_t drive = FoldCaseUnit(path[0]);
  std::string base;
  if (drive == u'C') base = MachineDirectory() + "/drive_c";
  else if (drive == u'Z') base = "";
  else {
    result.error = kErrorPathNotFound;
    return result;
  }
  std::vector<std::u16string> parts;
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    std::u16string part = path.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  if (drive == u'C' && Posix::ThreadFileRedirectionEnabled()) {
    std::vector<std::u16string> redirected = parts;
    RedirectTo32BitFolder(redirected);
    if (redirected != parts && MachineIs64BitWindows()) parts = std::move(redirected);
  }
  std::string host = base;
  bool parentExists = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string entry = parentExists ? FindEntry(host, parts[i]) : std::string();
    if (entry.empty()) {
      entry = Utf16ToUtf8(parts[i]);
      if (i + 1 < parts.size()) parentExists = false;
    }
    host += "/" + entry;
  }
  result.path = host.empty() ? "/" : host;
  result.parentExists = parentExists;
  return result;
}

std::u16string ToWindowsPath(const std::string& hostPath) {
  const std::string driveC = MachineDirectory() + "/drive_c";
  std::string rest;
  std::u16string prefix;
  if (hostPath == driveC || hostPath.rfind(driveC + "/", 0) == 0) {
    prefix = u"C:";
    rest = hostPath.substr(driveC.size());
  } else {
    prefix = u"Z:";
    rest = hostPath;
  }
  std::u16string out = prefix + Utf8ToUtf16(rest);
  for (auto& c : out)
    if (c == u'/') c = u'\\';
  if (out.size() == 2) out += u'\\';
  return out;
}

}  // namespace Posix

using Posix::ToHostPath;

namespace {

using Posix::Exists;
using Posix::IsDirectory;

Win32Error FromErrno(int e) {
  switch (e) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES: case EPERM: case EISDIR: case EROFS: return kErrorAccessDenied;
    case EEXIST: return kErrorAlreadyExists;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    default: return kErrorInvalidParameter;
  }
}

// Missing file or missing folder on the way, as Windows tells them apart.
Win32Error MissingError(const Posix::HostPath& p) {
  return p.parentExists ? kErrorFileNotFound : kErrorPathNotFound;
}

bool LockedByOthers(int fd, short type) {
  struct flock probe {};
  probe.l_type = type;
  probe.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

bool InUse(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool used = LockedByOthers(fd, F_WRLCK);
  ::close(fd);
  return used;
}

// The machine's environment: what a Windows machine of this layout sets.
std::map<std::u16string, std::u16string> MachineEnvironment() {
  const std::u16string user = Utf8ToUtf16(Posix::MachineUserName());
  const std::u16string profile = u"C:\\users\\" + user;
  return {
      {u"ALLUSERSPROFILE", u"C:\\ProgramData"},
      {u"APPDATA", profile + u"\\AppData\\Roaming"},
      {u"CommonProgramFiles", u"C:\\Program Files\\Common Files"},
      {u"COMPUTERNAME", u"ZENTROVAK-PC"},
      {u"ComSpec", u"C:\\windows\\system32\\cmd.exe"},
      {u"HOMEDRIVE", u"C:"},
      {u"HOMEPATH", u"\\users\\" + user},
      {u"LOCALAPPDATA", profile + u"\\AppData\\Local"},
      {u"OS", u"Windows_NT"},
      {u"PATHEXT", u".COM;.EXE;.BAT;.CMD"},
      {u"ProgramData", u"C:\\ProgramData"},
      {u"ProgramFiles", u"C:\\Program Files"},
      {u"PUBLIC", u"C:\\users\\Public"},
      {u"SystemDrive", u"C:"},
      {u"SystemRoot", u"C:\\windows"},
      {u"TEMP", profile + u"\\Temp"},
      {u"TMP", profile + u"\\Temp"},
      {u"USERNAME", user},
      {u"USERPROFILE", profile},
      {u"windir", u"C:\\windows"},
  };
}

std::mutex& EnvironmentMutex() {
  static std::mutex m;
  return m;
}
std::map<std::u16string, std::pair<std::u16string, std::u16string>>& ProcessEnvironment() {
  // folded name -> (name as set, value)
  static std::map<std::u16string, std::pair<std::u16string, std::u16string>> env;
  return env;
}

std::mutex& CurrentDirectoryMutex() {
  static std::mutex m;
  return m;
}

std::u16string& CurrentDirectoryValue() {
  static std::u16string dir;
  return dir;
}

constexpr char16_t kPendingKey[] = u"System\\CurrentControlSet\\Control\\Session Manager";
constexpr char16_t kPendingValue[] = u"PendingFileRenameOperations";

}  // namespace

std::optional<std::u16string> ReadEnvironmentVariable(std::u16string_view name) {
  std::lock_guard<std::mutex> lock(EnvironmentMutex());
  const auto& env = ProcessEnvironment();
  if (const auto it = env.find(FoldCase(name)); it != env.end()) return it->second.second;
  for (const auto& [key, value] : MachineEnvironment())
    if (EqualsIgnoreCase(key, name)) return value;
  return std::nullopt;
}

bool WriteEnvironmentVariable(std::u16string_view name, std::u16string_view value) {
  if (name.empty() || name.find(u'=') != std::u16string_view::npos) return false;
  std::lock_guard<std::mutex> lock(EnvironmentMutex());
  const std::string hostName = Utf16ToUtf8(name);
  if (value.empty()) {
    ProcessEnvironment().erase(FoldCase(name));
    ::unsetenv(hostName.c_str());
  } else {
    ProcessEnvironment()[FoldCase(name)] = {std::u16string(name), std::u16string(value)};
    ::setenv(hostName.c_str(), Utf16ToUtf8(value).c_str(), 1);
  }
  return true;
}

std::u16string ExpandEnvironmentReferences(std::u16string_view text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != u'%') {
      out.push_back(text[i++]);
      continue;
    }
    const size_t close = text.find(u'%', i + 1);
    if (close == std::u16string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    const std::u16string_view name = text.substr(i + 1, close - i - 1);
    if (const auto value = name.empty() ? std::nullopt : ReadEnvironmentVariable(name)) {
      out += *value;
      i = close + 1;
    } else {
      // Unknown: the first % stays and the search goes on from the second.
      out.append(text.substr(i, close - i));
      i = close;
    }
  }
  return out;
}

PathKind QueryPath(std::u16string_view path) {
  const auto host = ToHostPath(path);
  if (host.error) return PathKind::Missing;
  struct stat st {};
  if (::stat(host.path.c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

bool FileExists(std::u16string_view path) { return QueryPath(path) == PathKind::File; }
bool DirectoryExists(std::u16string_view path) { return QueryPath(path) == PathKind::Directory; }

bool IsMachineOwnPath(std::u16string_view path) {
  const Posix::HostPath host = Posix::ToHostPath(path);
  if (host.error) return false;
  // A link inside the machine may lead out of it: the nearest existing
  // folder is judged by where it really is.
  std::error_code error;
  const std::filesystem::path own = std::filesystem::weakly_canonical(Posix::MachineDirectory() + "/drive_c", error);
  if (error) return false;
  const std::filesystem::path target = std::filesystem::weakly_canonical(host.path, error);
  if (error) return false;
  const auto mismatch = std::mismatch(own.begin(), own.end(), target.begin(), target.end());
  return mismatch.first == own.end();
}

class FileStreamImpl {
 public:
  int fd = -1;
  ~FileStreamImpl() {
    if (fd >= 0) ::close(fd);
  }
};

FileStream::FileStream() = default;
FileStream::~FileStream() = default;
FileStream::FileStream(FileStream&&) noexcept = default;
FileStream& FileStream::operator=(FileStream&&) noexcept = default;

Win32Error FileStream::Open(std::u16string_view path, Mode mode) {
  Close();
  const auto host = ToHostPath(path);
  if (host.error) return host.error;
  if (mode == Mode::Read) {
    const int fd = ::open(host.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? MissingError(host) : FromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      return kErrorAccessDenied;
    }
    // Others may read: only a writer's exclusive hold keeps us out.
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      ::close(fd);
      return kErrorSharingViolation;
    }
    impl_ = std::make_unique<FileStreamImpl>();
    impl_->fd = fd;
    return kErrorSuccess;
  }
  if (!host.parentExists) return kErrorPathNotFound;
  if (IsDirectory(host.path)) return kErrorAccessDenied;
  const int fd = ::open(host.path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return FromErrno(errno);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    ::close(fd);
    return kErrorSharingViolation;
  }
  if (::ftruncate(fd, 0) != 0) {
    const int e = errno;
    ::close(fd);
    return FromErrno(e);
  }
  impl_ = std::make_unique<FileStreamImpl>();
  impl_->fd = fd;
  return kErrorSuccess;
}

namespace {

// Nobody but us (or root) can change what this names: the file and every
// folder above it belong to us or to root and no one else may write them,
// except in a sticky folder such as /tmp, where others cannot rename or
// delete what is ours.
bool OnlyWeCanChange(const std::string& hostPath, const struct stat& file) {
  const auto trusted = [](const struct stat& st) { return st.st_uid == ::geteuid() || st.st_uid == 0; };
  if (!S_ISREG(file.st_mode) || !trusted(file) || (file.st_mode & 022)) return false;
  char* resolved = ::realpath(hostPath.c_str(), nullptr);
  if (!resolved) return false;
  std::string folder = resolved;
  std::free(resolved);
  while (folder.size() > 1) {
    const size_t slash = folder.find_last_of('/');
    folder.resize(slash == 0 ? 1 : slash);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !trusted(st)) return false;
    if ((st.st_mode & 022) && !(st.st_mode & S_ISVTX)) return false;
  }
  return true;
}

}  // namespace

Win32Error FileStream::OpenUnchangeable(std::u16string_view path) {
  Close();
  const auto host = ToHostPath(path);
  if (host.error) return host.error;
  struct stat st {};
  if (::lstat(host.path.c_str(), &st) != 0) return MissingError(host);
  if (!OnlyWeCanChange(host.path, st)) return kErrorAccessDenied;
  const Win32Error opened = Open(path, Mode::Read);
  if (opened != kErrorSuccess) return opened;
  // The file opened must be the one looked at.
  struct stat held {};
  if (::fstat(impl_->fd, &held) != 0 || held.st_ino != st.st_ino || held.st_dev != st.st_dev) {
    Close();
    return kErrorAccessDenied;
  }
  return kErrorSuccess;
}

bool FileStream::IsOpen() const { return impl_ && impl_->fd >= 0; }
void FileStream::Close() { impl_.reset(); }

Win32Error FileStream::Read(void* buffer, uint32_t size, uint32_t* got) {
  *got = 0;
  if (!IsOpen()) return kErrorInvalidHandle;
  ssize_t n;
  do n = ::read(impl_->fd, buffer, size);
  while (n < 0 && errno == EINTR);
  if (n < 0) return FromErrno(errno);
  *got = static_cast<uint32_t>(n);
  return kErrorSuccess;
}

Win32Error FileStream::Write(const void* data, uint32_t size) {
  if (!IsOpen()) return kErrorInvalidHandle;
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(impl_->fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FromErrno(errno);
    }
    p += n;
    size -= static_cast<uint32_t>(n);
  }
  return kErrorSuccess;
}

Win32Error MovePath(std::u16string_view from, std::u16string_view to, bool replaceExisting) {
  const auto source = ToHostPath(from);
  const auto target = ToHostPath(to);
  if (source.error) return source.error;
  if (target.error) return target.error;
  if (!Exists(source.path)) return MissingError(source);
  if (!target.parentExists) return kErrorPathNotFound;
  if (!IsDirectory(source.path) && InUse(source.path)) return kErrorSharingViolation;
  if (Exists(target.path) && source.path != target.path) {
    if (!replaceExisting || IsDirectory(target.path)) return kErrorAlreadyExists;
    if (InUse(target.path)) return kErrorAccessDenied;
  }
  if (::rename(source.path.c_str(), target.path.c_str()) == 0) return kErrorSuccess;
  if (errno != EXDEV) return FromErrno(errno);
  // Another file system (Z: to C:): copy, then remove the source.
  std::string bytes;
  if (Failed(ReadWholeFile(from, bytes))) return kErrorAccessDenied;
  if (Failed(WriteWholeFile(to, bytes))) return kErrorAccessDenied;
  ::unlink(source.path.c_str());
  return kErrorSuccess;
}

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

// The new file takes the old one's owner and mode, or the replacement does
// not happen: a system file must not change hands or loosen by being
// repaired.
bool TakeOverPermissions(int fd, const struct stat& old) {
  if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
    return false;
  return ::fchmod(fd, old.st_mode & 07777) == 0;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

Win32Error ReplaceFileContents(std::u16string_view path, std::string_view bytes) {
  const auto host = ToHostPath(path);
  if (host.error) return host.error;
  struct stat old {};
  if (::stat(host.path.c_str(), &old) != 0) return MissingError(host);
  // Writable by nobody is what the read-only attribute is on Windows.
  if (!S_ISREG(old.st_mode) || (old.st_mode & 0222) == 0) return kErrorAccessDenied;
  if (InUse(host.path)) return kErrorSharingViolation;
  const std::string replacement = host.path + ".new";
  ::unlink(replacement.c_str());
  const int fd = ::open(replacement.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return FromErrno(errno);
  Win32Error result = kErrorSuccess;
  if (!WriteAll(fd, bytes) || ::fsync(fd) != 0) result = FromErrno(errno);
  else if (!TakeOverPermissions(fd, old)) result = kErrorAccessDenied;
  if (::close(fd) != 0 && result == kErrorSuccess) result = FromErrno(errno);
  if (result == kErrorSuccess && ::rename(replacement.c_str(), host.path.c_str()) != 0) result = FromErrno(errno);
  if (result != kErrorSuccess) {
    ::unlink(replacement.c_str());
    return result;
  }
  SyncFolder(host.path.substr(0, host.path.find_last_of('/') + 1));
  return kErrorSuccess;
}

Win32Error RemoveFile(std::u16string_view path) {
  const auto host = ToHostPath(path);
  if (host.error) return host.error;
  struct stat st {};
  if (::lstat(host.path.c_str(), &st) != 0) return MissingError(host);
  if (S_ISDIR(st.st_mode)) return kErrorAccessDenied;
  if (InUse(host.path)) return kErrorSharingViolation;
  return ::unlink(host.path.c_str()) == 0 ? kErrorSuccess : FromErrno(errno);
}

Win32Error MakeDirectory(std::u16string_view path) {
  const auto host = ToHostPath(path);
  if (host.error) return host.error;
  if (!host.parentExists) return kErrorPathNotFound;
  if (Exists(host.path)) return kErrorAlreadyExists;
  return ::mkdir(host.path.c_str(), 0755) == 0 ? kErrorSuccess : FromErrno(errno);
}

// Kept where Windows keeps it: pairs of NT paths in a REG_MULTI_SZ, the
// target prefixed by "!" to replace, or empty to delete.
Win32Error MoveFileAtRestart(std::u16string_view from, std::u16string_view to) {
  RegistryKey key;
  if (Win32Error e = RegistryKey::Create(kHkeyLocalMachine, kPendingKey, RegAccess::ReadWrite,
                                         RegView::Default, key))
    return e;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  std::u16string list;
  if (key.ReadRaw(kPendingValue, type, data) == kErrorSuccess && type == RegType::kMultiSz) {
    list.assign(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
    while (!list.empty() && list.back() == u'\0') list.pop_back();
    if (!list.empty()) list.push_back(u'\0');
  }
  const auto full = [](std::u16string_view p) { return Posix::ToWindowsPath(ToHostPath(p).path); };
  list += u"\\??\\" + full(from) + u'\0';
  list += to.empty() ? std::u16string() : u"!\\??\\" + full(to);
  list += u'\0';
  list += u'\0';
  return key.SetValue(kPendingValue, RegType::kMultiSz, list.data(),
                      static_cast<uint32_t>(list.size() * 2));
}

void ApplyPendingFileOperations() {
  RegistryKey key;
  if (RegistryKey::Open(kHkeyLocalMachine, kPendingKey, RegAccess::ReadWrite, RegView::Default, key))
    return;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (key.ReadRaw(kPendingValue, type, data) != kErrorSuccess) return;
  std::vector<std::u16string> strings;
  std::u16string current;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == u'\0') {
      strings.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  const auto strip = [](std::u16string s) {
    if (!s.empty() && s[0] == u'!') s.erase(0, 1);
    if (s.rfind(u"\\??\\", 0) == 0) s.erase(0, 4);
    return s;
  };
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    if (strings[i].empty()) continue;
    const std::u16string source = strip(strings[i]);
    const std::u16string target = strip(strings[i + 1]);
    if (target.empty()) RemoveFile(source);
    else MovePath(source, target, true);
  }
  key.DeleteValue(kPendingValue);
}

void Posix::MakeRunnable(const std::string& program) {
  if (::access(program.c_str(), X_OK) == 0) return;
  char magic[4] = {};
  const int fd = ::open(program.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t got = ::read(fd, magic, sizeof magic);
  ::close(fd);
  const bool script = got >= 2 && magic[0] == '#' && magic[1] == '!';
  const bool elf = got == 4 && std::memcmp(magic, "\x7f" "ELF", 4) == 0;
  struct stat st {};
  if ((script || elf) && ::stat(program.c_str(), &st) == 0) ::chmod(program.c_str(), st.st_mode | S_IXUSR);
}

std::u16string ModuleFilePath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  // A program replaced while it runs (its own update) is still named by the
  // path it was started from, as Windows names it.
  constexpr std::string_view kReplaced = " (deleted)";
  if (path.size() > kReplaced.size() && path.compare(path.size() - kReplaced.size(), kReplaced.size(), kReplaced) == 0)
    path.resize(path.size() - kReplaced.size());
  return Posix::ToWindowsPath(path);
}

std::u16string ProgramDataFolder() { return Posix::ToWindowsPath(Posix::MachineDirectory()); }

std::u16string CurrentDirectory() {
  std::lock_guard<std::mutex> lock(CurrentDirectoryMutex());
  std::u16string& dir = CurrentDirectoryValue();
  if (dir.empty()) {
    char buffer[4096];
    dir = ::getcwd(buffer, sizeof buffer) ? Posix::ToWindowsPath(buffer) : u"C:\\";
  }
  return dir;
}

std::u16string SpecialFolderPath(int csidl) {
  const std::u16string profile = u"C:\\users\\" + Utf8ToUtf16(Posix::MachineUserName());
  switch (csidl) {
    case 0x10: return profile + u"\\Desktop";
    case 0x1A: return profile + u"\\AppData\\Roaming";
    case 0x1C: return profile + u"\\AppData\\Local";
    case 0x23: return u"C:\\ProgramData";
    case 0x24: return u"C:\\windows";
    case 0x25: return u"C:\\windows\\system32";
    case 0x26: case 0x2A: return u"C:\\Program Files";
    case 0x2B: return u"C:\\Program Files\\Common Files";
    default: return {};
  }
}

}  // namespace Zentrovak::Platform
