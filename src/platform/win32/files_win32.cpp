#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Platform {

using Win32::U16;
using Win32::Wide;

std::u16string ExpandEnvironmentReferences(std::u16string_view text) {
  const std::wstring source = Wide(text);
  DWORD needed = ::ExpandEnvironmentStringsW(source.c_str(), nullptr, 0);
  if (needed == 0) return std::u16string(text);
  std::wstring out(needed, L'\0');
  needed = ::ExpandEnvironmentStringsW(source.c_str(), out.data(), needed);
  if (needed == 0) return std::u16string(text);
  out.resize(needed - 1);
  return U16(out);
}

std::optional<std::u16string> ReadEnvironmentVariable(std::u16string_view name) {
  const std::wstring wide = Wide(name);
  const DWORD needed = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(wide.c_str(), value.data(), needed);
  value.resize(got);
  return U16(value);
}

bool WriteEnvironmentVariable(std::u16string_view name, std::u16string_view value) {
  const std::wstring n = Wide(name);
  const std::wstring v = Wide(value);
  return ::SetEnvironmentVariableW(n.c_str(), value.empty() ? nullptr : v.c_str()) != 0;
}

PathKind QueryPath(std::u16string_view path) {
  const std::wstring wide = Wide(path);
  // No "insert a disk" boxes while asking.
  const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  ::SetErrorMode(previous);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

bool FileExists(std::u16string_view path) { return QueryPath(path) == PathKind::File; }
bool DirectoryExists(std::u16string_view path) { return QueryPath(path) == PathKind::Directory; }
bool IsMachineOwnPath(std::u16string_view) { return true; }

class FileStreamImpl {
 public:
  Win32::UniqueFileHandle file;
};

FileStream::FileStream() = default;
FileStream::~FileStream() = default;
FileStream::FileStream(FileStream&&) noexcept = default;
FileStream& FileStream::operator=(FileStream&&) noexcept = default;

Win32Error FileStream::Open(std::u16string_view path, Mode mode) {
  Close();
  const std::wstring wide = Wide(path);
  auto impl = std::make_unique<FileStreamImpl>();
  if (mode == Mode::Read) {
    *impl->file.put() = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    *impl->file.put() = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (!impl->file) return ::GetLastError();
  impl_ = std::move(impl);
  return kErrorSuccess;
}

// The Read mode shares reading only: no writer, rename or delete gets in
// while the stream is open.
Win32Error FileStream::OpenUnchangeable(std::u16string_view path) { return Open(path, Mode::Read); }

bool FileStream::IsOpen() const { return impl_ && impl_->file; }
void FileStream::Close() { impl_.reset(); }

Win32Error FileStream::Read(void* buffer, uint32_t size, uint32_t* got) {
  *got = 0;
  if (!IsOpen()) return kErrorInvalidHandle;
  DWORD n = 0;
  if (!::ReadFile(impl_->file.get(), buffer, size, &n, nullptr)) return ::GetLastError();
  *got = n;
  return kErrorSuccess;
}

Win32Error FileStream::Write(const void* data, uint32_t size) {
  if (!IsOpen()) return kErrorInvalidHandle;
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD n = 0;
    if (!::WriteFile(impl_->file.get(), p, size, &n, nullptr)) return ::GetLastError();
    if (n == 0) return ERROR_WRITE_FAULT;
    p += n;
    size -= n;
  }
  return kErrorSuccess;
}

Win32Error ReplaceFileContents(std::u16string_view path, std::string_view bytes) {
  const std::wstring target = Wide(path);
  const std::wstring replacement = target + L".new";
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ::GetLastError();
  // Someone made the file read-only to protect it; that is not ours to undo.
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return kErrorAccessDenied;
  Win32Error written = kErrorSuccess;
  {
    Win32::UniqueFileHandle file(::CreateFileW(replacement.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError();
    for (size_t at = 0; at < bytes.size();) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1u << 20));
      DWORD n = 0;
      if (!::WriteFile(file.get(), bytes.data() + at, chunk, &n, nullptr)) {
        written = ::GetLastError();
        break;
      }
      if (n == 0) {
        written = ERROR_WRITE_FAULT;
        break;
      }
      at += n;
    }
    if (written == kErrorSuccess && !::FlushFileBuffers(file.get())) written = ::GetLastError();
  }
  // ReplaceFileW gives the new file the old one's security descriptor and
  // attributes, which a rename would not.
  if (written == kErrorSuccess &&
      !::ReplaceFileW(target.c_str(), replacement.c_str(), nullptr, REPLACEFILE_WRITE_THROUGH, nullptr, nullptr))
    written = ::GetLastError();
  if (written != kErrorSuccess) ::DeleteFileW(replacement.c_str());
  return written;
}

Win32Error MovePath(std::u16string_view from, std::u16string_view to, bool replaceExisting) {
  const std::wstring f = Wide(from);
  const std::wstring t = Wide(to);
  const DWORD flags = MOVEFILE_COPY_ALLOWED | (replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
  return ::MoveFileExW(f.c_str(), t.c_str(), flags) ? kErrorSuccess : ::GetLastError();
}

Win32Error RemoveFile(std::u16string_view path) {
  const std::wstring wide = Wide(path);
  return ::DeleteFileW(wide.c_str()) ? kErrorSuccess : ::GetLastError();
}

Win32Error MakeDirectory(std::u16string_view path) {
  const std::wstring wide = Wide(path);
  return ::CreateDirectoryW(wide.c_str(), nullptr) ? kErrorSuccess : ::GetLastError();
}

Win32Error MoveFileAtRestart(std::u16string_view from, std::u16string_view to) {
  const std::wstring f = Wide(from);
  const std::wstring t = Wide(to);
  return ::MoveFileExW(f.c_str(), to.empty() ? nullptr : t.c_str(),
                       MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)
             ? kErrorSuccess
             : ::GetLastError();
}

void ApplyPendingFileOperations() {}  // Windows does it while it starts

std::u16string ModuleFilePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return U16(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string ProgramDataFolder() { return ParentPath(ModuleFilePath()); }

std::u16string CurrentDirectory() {
  const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring buffer(needed, L'\0');
  const DWORD n = ::GetCurrentDirectoryW(needed, buffer.data());
  return U16(buffer.data(), n);
}

std::u16string SpecialFolderPath(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
  return U16(buffer, wcslen(buffer));
}

}  // namespace Zentrovak::Platform
