// Files with Windows path semantics. Paths are Windows paths on both targets:
// posix maps C:\ to drive_c/ in the machine directory and Z:\ to the host's
// root (as Wine does), and finds names without regard to letter case.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::Platform {

// %NAME% references replaced by the process environment (names compared
// without case); unknown names and a lone % stay as written.
std::u16string ExpandEnvironmentReferences(std::u16string_view text);
std::optional<std::u16string> ReadEnvironmentVariable(std::u16string_view name);
// An empty value removes the variable. Child processes inherit it.
bool WriteEnvironmentVariable(std::u16string_view name, std::u16string_view value);

enum class PathKind { Missing, File, Directory };
PathKind QueryPath(std::u16string_view path);
// Something that is not a directory exists at the path.
bool FileExists(std::u16string_view path);
bool DirectoryExists(std::u16string_view path);
// Whether a path lies on the machine's own drives, where a file named by
// the bank's configuration may be written. Windows: every path. posix: the
// machine directory's C:, never Z:, which is the host's whole file system.
bool IsMachineOwnPath(std::u16string_view path);

// Whole-file helpers; results are HRESULTs (HRESULT_FROM_WIN32 of the error).
HResult ReadWholeFile(std::u16string_view path, std::string& bytes);
HResult WriteWholeFile(std::u16string_view path, std::string_view bytes);

// Win32 results of the file operations.
Win32Error MovePath(std::u16string_view from, std::u16string_view to, bool replaceExisting = false);
Win32Error RemoveFile(std::u16string_view path);
Win32Error MakeDirectory(std::u16string_view path);
// Schedules a move (or, with an empty target, a deletion) for the next
// restart of the machine.
Win32Error MoveFileAtRestart(std::u16string_view from, std::u16string_view to);
// Carries out the scheduled operations. Windows does this itself while it
// starts; the posix machine does it when the program starts.
void ApplyPendingFileOperations();

// The program's own executable and the process's current folder.
std::u16string ModuleFilePath();
std::u16string CurrentDirectory();
// Folder part of a path (up to, without, the last backslash).
std::u16string ParentPath(std::u16string_view path);
std::u16string FileNamePart(std::u16string_view path);

// The shell's special folders by CSIDL number (0x26 Program Files, 0x24
// Windows, 0x25 System, 0x1A AppData, 0x1C local AppData, 0x23 common
// AppData, 0x10 Desktop); empty when unknown.
std::u16string SpecialFolderPath(int csidl);

// An open file, read or written in blocks.
class FileStreamImpl;
class FileStream {
 public:
  enum class Mode {
    Read,          // existing file, others may read
    CreateAlways,  // written anew, no sharing
  };
  FileStream();
  ~FileStream();
  FileStream(FileStream&&) noexcept;
  FileStream& operator=(FileStream&&) noexcept;

  Win32Error Open(std::u16string_view path, Mode mode);
  bool IsOpen() const;
  // Read answers 0 with *got 0 at the end of the file.
  Win32Error Read(void* buffer, uint32_t size, uint32_t* got);
  Win32Error Write(const void* data, uint32_t size);
  void Close();

 private:
  std::unique_ptr<FileStreamImpl> impl_;
};

}  // namespace Zentrovak::Platform
