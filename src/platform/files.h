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

// Puts new bytes in the place of an existing file in one step, as a system
// file is replaced: they are written beside it ("<path>.new") and flushed
// to disk, take over the old file's permissions (Windows: its security
// descriptor and attributes, through ReplaceFileW; posix: its mode and
// owner), and only then replace it. A read-only file (posix: writable by
// nobody) is left alone with kErrorAccessDenied; on any failure the old
// file stays as it was.
Win32Error ReplaceFileContents(std::u16string_view path, std::string_view bytes);

// The program's own executable and the process's current folder.
std::u16string ModuleFilePath();
// Where the program keeps what belongs to the machine it serves, such as
// its downloaded packages: on Windows its own folder, as the program's
// folder belongs to the PC; on posix, where one build serves many machine
// directories, the machine directory.
std::u16string ProgramDataFolder();
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
  // Opens a file for reading so that what is read now is what a program
  // started from it later runs: Windows keeps every writer, rename and
  // delete out while the stream is open (the Read mode's sharing); posix
  // cannot keep another user out, so the file and its folder must belong
  // to the process's user (or root) and be writable by nobody else, and
  // anything else is refused with kErrorAccessDenied.
  Win32Error OpenUnchangeable(std::u16string_view path);
  bool IsOpen() const;
  // Read answers 0 with *got 0 at the end of the file.
  Win32Error Read(void* buffer, uint32_t size, uint32_t* got);
  Win32Error Write(const void* data, uint32_t size);
  void Close();

 private:
  std::unique_ptr<FileStreamImpl> impl_;
};

}  // namespace Zentrovak::Platform
