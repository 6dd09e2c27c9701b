// Registration files (.reg) as regedit and reg.exe read and write them:
// "Windows Registry Editor Version 5.00" (UTF-16LE with a byte-order mark,
// or UTF-8) and the older "REGEDIT4". Reading gives the whole file as data
// first, so a file with a bad line changes nothing; writing gives the bytes
// reg.exe export writes, so an import followed by an export of the same
// keys gives the file back byte for byte.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace Zentrovak::Platform {

struct RegFileValue {
  std::u16string name;  // empty: the key's default value ("@")
  bool remove = false;  // "name"=-
  uint32_t type = RegType::kNone;
  std::vector<uint8_t> data;
};

struct RegFileKey {
  std::u16string path;  // as written: the root's long name, "\", the subkey
  bool remove = false;  // [-path]
  std::vector<RegFileValue> values;
};

struct RegFile {
  std::vector<RegFileKey> keys;
};

enum class RegFileError {
  None,
  NotRegistryFile,  // no header of either version
  BadLine,          // a line that is not a key, a value or a comment
};

struct RegFileParse {
  RegFileError error = RegFileError::None;
  size_t line = 0;  // the offending line, counted from 1
  RegFile file;
};

RegFileParse ParseRegFile(std::string_view bytes);

// The bytes of reg.exe export: UTF-16LE with a byte-order mark, CRLF line
// ends, each key followed by an empty line, hex data wrapped at 80 columns.
std::string WriteRegFile(const RegFile& file);

// A key path's root: the long names (HKEY_LOCAL_MACHINE) and the short ones
// (HKLM), in any letter case.
struct RegPath {
  RegRoot root = 0;
  std::u16string rootName;  // the long name
  std::u16string subkey;
};
std::optional<RegPath> SplitRegPath(std::u16string_view path);

// Writes a parsed file into the registry: keys created, [-key] trees and
// "name"=- values deleted (already absent ones are no error). Stops at the
// first failing registry call and answers its error.
Win32Error ImportRegFile(const RegFile& file);

// The key at path and every key below it, in the order reg.exe export
// writes them (a key, then its subkeys by name); 2 when the key is absent.
Win32Error ExportRegKeys(std::u16string_view path, RegFile& out, RegView view = RegView::Default);

}  // namespace Zentrovak::Platform
