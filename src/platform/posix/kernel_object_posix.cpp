// Named mutexes of the posix machine: a lock file per name in the user's
// runtime folder. flock() holds it while the descriptor is open and the
// kernel drops it when the process dies, so a crashed instance never blocks
// the next start.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/kernel_object.h"
#include "platform/text.h"

namespace Zentrovak::Platform {

namespace {

std::string RuntimeFolder() {
  std::string dir;
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) dir = run;
  else dir = "/tmp/zentrovak-" + std::to_string(::getuid());
  dir += "/zentrovak-locks";
  ::mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0700);
  ::mkdir(dir.c_str(), 0700);
  return dir;
}

// Kernel object names are case-sensitive on Windows; the file name keeps
// the name's characters, with the path separators replaced.
std::string LockFileName(std::u16string_view name) {
  std::string file = Utf16ToUtf8(name);
  for (auto& c : file)
    if (c == '/' || c == '\\') c = '_';
  return file.empty() ? std::string("_") : file;
}

}  // namespace

CreatedKernelObject CreateNamedMutex(std::u16string_view name, bool) {
  CreatedKernelObject result;
  if (name.size() > 260) {
    result.lastError = kErrorFilenameExcedRange;
    return result;
  }
  const std::string path = RuntimeFolder() + "/" + LockFileName(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    result.lastError = kErrorAccessDenied;
    return result;
  }
  result.handle = fd + 1;  // 0 stays "no handle"
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    result.lastError = errno == EWOULDBLOCK ? kErrorAlreadyExists : kErrorAccessDenied;
  if (result.lastError == kErrorAccessDenied) {
    ::close(fd);
    result.handle = kNoHandle;
  }
  return result;
}

void CloseKernelHandle(KernelHandle handle) {
  if (handle != kNoHandle) ::close(static_cast<int>(handle - 1));
}

}  // namespace Zentrovak::Platform
