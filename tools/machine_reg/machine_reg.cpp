// machine-reg: the part of Windows' reg.exe that people know, on the
// registry of a Linux machine directory. Same operations, switches, output,
// error words and exit codes (0 success, 1 failure) as reg.exe:
//   machine-reg [--machine DIR] query  KEY [/v NAME | /ve] [/s]
//   machine-reg [--machine DIR] add    KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
//   machine-reg [--machine DIR] delete KEY [/v NAME | /ve | /va] [/f]
//   machine-reg [--machine DIR] import FILE
//   machine-reg [--machine DIR] export KEY FILE [/y]
// The machine directory is chosen as the program chooses it (--machine,
// then $ZENTROVAK_MACHINE, then the user's default machine).
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/text.h"

using namespace Zentrovak::Platform;

namespace {

constexpr char kSuccess[] = "The operation completed successfully.";
constexpr char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.";
constexpr char kCancelled[] = "The operation was canceled by the user.";
constexpr char kFileError[] = "ERROR: Error opening the file. There may be a disk or file system error.";
constexpr char kNotRegistryScript[] =
    "ERROR: The specified file is not a registry script.\n"
    "You can only import binary registry files from within the registry editor.";
constexpr char kAccessError[] = "ERROR: Error accessing the registry.";

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

int Usage(const std::string& operation, const char* what = "Invalid syntax.") {
  const std::string op = operation.empty() ? "" : Upper(operation) + " ";
  return Fail(std::string("ERROR: ") + what + "\nType \"REG " + op + "/?\" for usage.");
}

int Succeed() {
  std::printf("%s\n", kSuccess);
  return 0;
}

bool AskYes(const std::string& question) {
  std::printf("%s", question.c_str());
  std::fflush(stdout);
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::printf("\n");
    return false;
  }
  answer = Upper(answer);
  return answer == "Y" || answer == "YES";
}

// The switches of one operation: "/x" or "-x", in any case.
struct Switches {
  std::vector<std::string> positional;
  std::optional<std::string> value;  // /v NAME
  bool defaultValue = false;         // /ve
  bool allValues = false;            // /va
  bool recurse = false;              // /s (query)
  std::optional<std::string> separator;  // /s SEP (add)
  std::optional<std::string> type;   // /t
  std::optional<std::string> data;   // /d
  bool force = false;                // /f, /y
  bool bad = false;
};

Switches ReadSwitches(const std::vector<std::string>& args, const std::string& operation) {
  Switches s;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const std::string name = a.size() >= 2 && (a[0] == '/' || a[0] == '-') ? Upper(a.substr(1)) : std::string();
    // Anything else, an absolute file path among them, is an operand.
    static const char* const kSwitches[] = {"V", "VE", "VA", "S", "T", "D", "F", "Y"};
    bool isSwitch = false;
    for (const char* known : kSwitches) isSwitch = isSwitch || name == known;
    if (!isSwitch) {
      s.positional.push_back(a);
      continue;
    }
    auto next = [&](std::optional<std::string>& into) {
      if (i + 1 >= args.size() || into) s.bad = true;
      else into = args[++i];
    };
    if (name == "V") next(s.value);
    else if (name == "VE") s.defaultValue = true;
    else if (name == "VA") s.allValues = true;
    else if (name == "S" && operation == "add") next(s.separator);
    else if (name == "S") s.recurse = true;
    else if (name == "T") next(s.type);
    else if (name == "D") next(s.data);
    else s.force = true;  // /f, /y
  }
  return s;
}

std::u16string Wide(const std::string& text) { return Utf8ToUtf16(text); }
std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

const char* TypeName(uint32_t type) {
  switch (type) {
    case 0: return "REG_NONE";
    case 1: return "REG_SZ";
    case 2: return "REG_EXPAND_SZ";
    case 3: return "REG_BINARY";
    case 4: return "REG_DWORD";
    case 5: return "REG_DWORD_BIG_ENDIAN";
    case 6: return "REG_LINK";
    case 7: return "REG_MULTI_SZ";
    case 8: return "REG_RESOURCE_LIST";
    case 9: return "REG_FULL_RESOURCE_DESCRIPTOR";
    case 10: return "REG_RESOURCE_REQUIREMENTS_LIST";
    case 11: return "REG_QWORD";
    default: return "REG_UNKNOWN";
  }
}

std::optional<uint32_t> TypeFromName(const std::string& name) {
  for (uint32_t type = 0; type <= 11; ++type)
    if (Upper(name) == TypeName(type)) return type;
  return std::nullopt;
}

std::u16string Units(const std::vector<uint8_t>& data) {
  std::u16string text(data.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  return text;
}

// The data as reg query shows it.
std::string Shown(uint32_t type, const std::vector<uint8_t>& data) {
  char buffer[32];
  if ((type == RegType::kDword && data.size() == 4) || (type == RegType::kQword && data.size() == 8)) {
    uint64_t number = 0;
    std::memcpy(&number, data.data(), data.size());
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(number));
    return buffer;
  }
  if (type == RegType::kSz || type == RegType::kExpandSz) {
    std::u16string text = Units(data);
    const auto zero = text.find(u'\0');
    if (zero != std::u16string::npos) text.resize(zero);
    return Narrow(text);
  }
  if (type == RegType::kMultiSz) {
    std::u16string text = Units(data);
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    std::string shown;
    for (char16_t c : text) shown += c == u'\0' ? std::string("\\0") : Narrow(std::u16string(1, c));
    return shown;
  }
  std::string hex;
  for (uint8_t byte : data) {
    std::snprintf(buffer, sizeof buffer, "%02X", byte);
    hex += buffer;
  }
  return hex;
}

void PrintValue(const std::u16string& name, uint32_t type, const std::vector<uint8_t>& data) {
  std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : Narrow(name).c_str(), TypeName(type),
              Shown(type, data).c_str());
}

std::u16string ChildPath(const std::u16string& path, const std::u16string& name) { return path + u"\\" + name; }

std::u16string CanonicalPath(const RegPath& path) {
  std::u16string subkey = path.subkey;
  while (!subkey.empty() && subkey.back() == u'\\') subkey.pop_back();
  return subkey.empty() ? path.rootName : path.rootName + u"\\" + subkey;
}

struct QueryCount {
  int matches = 0;
};

Win32Error QueryKey(const std::u16string& path, const Switches& s, QueryCount& count) {
  const auto split = SplitRegPath(path);
  RegistryKey key;
  Win32Error error = RegistryKey::Open(split->root, split->subkey, RegAccess::Read, RegView::Default, key);
  if (error != kErrorSuccess) return error;
  const bool oneValue = s.value || s.defaultValue;
  std::vector<std::u16string> names;
  if (oneValue) {
    names.push_back(s.value ? Wide(*s.value) : std::u16string());
  } else {
    key.EnumValueNames(names);
  }
  bool headerShown = false;
  for (const std::u16string& name : names) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    error = key.ReadRaw(name, type, data, SIZE_MAX);
    if (error == kErrorFileNotFound && s.defaultValue) {
      if (!s.recurse) {
        std::printf("\n%s\n    (Default)    REG_SZ    (value not set)\n", Narrow(path).c_str());
        headerShown = true;
      }
      continue;
    }
    if (error != kErrorSuccess) {
      if (oneValue && !s.recurse) return error;
      continue;
    }
    if (!headerShown) std::printf("\n%s\n", Narrow(path).c_str());
    headerShown = true;
    PrintValue(name, type, data);
    ++count.matches;
  }
  if (!oneValue && !s.recurse && !headerShown) std::printf("\n%s\n", Narrow(path).c_str());
  std::vector<std::u16string> subkeys;
  key.EnumSubkeys(subkeys);
  if (!s.recurse) {
    if (!oneValue && !subkeys.empty()) {
      std::printf("\n");
      for (const auto& name : subkeys) std::printf("%s\n", Narrow(ChildPath(path, name)).c_str());
    }
    if (oneValue) std::printf("\n");
    return kErrorSuccess;
  }
  if (!oneValue && !headerShown) std::printf("\n%s\n", Narrow(path).c_str());
  for (const auto& name : subkeys) QueryKey(ChildPath(path, name), s, count);
  return kErrorSuccess;
}

int Query(const std::vector<std::string>& args) {
  const Switches s = ReadSwitches(args, "query");
  if (s.bad || s.positional.size() != 1 || (s.value && s.defaultValue) || s.allValues || s.type || s.data ||
      s.force)
    return Usage("query");
  const auto path = SplitRegPath(Wide(s.positional[0]));
  if (!path) return Usage("query", "Invalid key name.");
  QueryCount count;
  const Win32Error error = QueryKey(CanonicalPath(*path), s, count);
  if (error != kErrorSuccess) return Fail(kNotFound);
  if (s.recurse && (s.value || s.defaultValue)) {
    std::printf("End of search: %d match(es) found.\n", count.matches);
    if (count.matches == 0) return 1;
  }
  return 0;
}

std::optional<std::vector<uint8_t>> DataFor(uint32_t type, const std::string& text, const std::string& separator) {
  std::vector<uint8_t> data;
  auto appendText = [&data](std::u16string_view units) {
    for (char16_t c : units) {
      data.push_back(static_cast<uint8_t>(c & 0xFF));
      data.push_back(static_cast<uint8_t>(c >> 8));
    }
  };
  switch (type) {
    case RegType::kDword:
    case RegType::kQword: {
      if (text.empty()) return std::nullopt;
      const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
      uint64_t number = 0;
      for (char c : hex ? text.substr(2) : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0'
                          : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return std::nullopt;
        const uint64_t limit = type == RegType::kDword ? 0xFFFFFFFFull : ~0ull;
        if (number > (limit - static_cast<uint64_t>(digit)) / (hex ? 16 : 10)) return std::nullopt;
        number = number * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
      }
      data.resize(type == RegType::kDword ? 4 : 8);
      std::memcpy(data.data(), &number, data.size());
      return data;
    }
    case RegType::kBinary:
    case RegType::kNone: {
      if (text.size() % 2 != 0) return std::nullopt;
      for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(text.substr(i, 2).c_str(), "%2x", &value) != 1 || !std::isxdigit(text[i]) ||
            !std::isxdigit(text[i + 1]))
          return std::nullopt;
        data.push_back(static_cast<uint8_t>(value));
      }
      return data;
    }
    case RegType::kMultiSz: {
      const std::u16string wide = Wide(text);
      const std::u16string sep = Wide(separator);
      size_t start = 0;
      while (!wide.empty() && start <= wide.size()) {
        size_t end = sep.empty() ? std::u16string::npos : wide.find(sep, start);
        if (end == std::u16string::npos) end = wide.size();
        appendText(wide.substr(start, end - start));
        appendText(std::u16string(1, u'\0'));
        start = end + (sep.empty() ? 1 : sep.size());
      }
      appendText(std::u16string(1, u'\0'));
      return data;
    }
    default: {
      appendText(Wide(text));
      appendText(std::u16string(1, u'\0'));
      return data;
    }
  }
}

int Add(const std::vector<std::string>& args) {
  const Switches s = ReadSwitches(args, "add");
  if (s.bad || s.positional.size() != 1 || (s.value && s.defaultValue) || s.allValues) return Usage("add");
  const auto path = SplitRegPath(Wide(s.positional[0]));
  if (!path) return Usage("add", "Invalid key name.");
  const auto type = TypeFromName(s.type.value_or("REG_SZ"));
  if (!type) return Usage("add");
  if (s.separator && (*type != RegType::kMultiSz || s.separator->size() != 1)) return Usage("add");
  RegistryKey key;
  const bool setsValue = s.value || s.defaultValue || s.data || s.type;
  const std::u16string name = s.value ? Wide(*s.value) : std::u16string();
  if (setsValue && !s.force &&
      RegistryKey::Open(path->root, path->subkey, RegAccess::Read, RegView::Default, key) == kErrorSuccess) {
    uint32_t size = 0, existing = 0;
    if (key.QueryValue(name, &existing, nullptr, &size) == kErrorSuccess &&
        !AskYes("Value " + (s.value ? *s.value : std::string("(Default)")) + " exists, overwrite(Yes/No)? ")) {
      std::printf("%s\n", kCancelled);
      return 0;
    }
  }
  if (RegistryKey::Create(path->root, path->subkey, RegAccess::ReadWrite, RegView::Default, key) != kErrorSuccess)
    return Fail(kAccessError);
  if (!setsValue) return Succeed();
  const auto data = DataFor(*type, s.data.value_or(""), s.separator.value_or("\\0"));
  if (!data) return Fail("ERROR: Invalid syntax. Specify valid numeric value for '/d'.");
  if (key.SetValue(name, *type, data->data(), static_cast<uint32_t>(data->size())) != kErrorSuccess)
    return Fail(kAccessError);
  return Succeed();
}

int Delete(const std::vector<std::string>& args) {
  const Switches s = ReadSwitches(args, "delete");
  const int chosen = (s.value ? 1 : 0) + (s.defaultValue ? 1 : 0) + (s.allValues ? 1 : 0);
  if (s.bad || s.positional.size() != 1 || chosen > 1 || s.type || s.data || s.recurse) return Usage("delete");
  const auto path = SplitRegPath(Wide(s.positional[0]));
  if (!path) return Usage("delete", "Invalid key name.");
  const std::string shownPath = Narrow(CanonicalPath(*path));
  RegistryKey key;
  if (RegistryKey::Open(path->root, path->subkey, RegAccess::ReadWrite, RegView::Default, key) != kErrorSuccess)
    return Fail(kNotFound);
  if (chosen == 0) {
    if (path->subkey.empty()) return Usage("delete", "Invalid key name.");
    if (!s.force && !AskYes("Delete the registry key " + shownPath + " (Yes/No)? ")) {
      std::printf("%s\n", kCancelled);
      return 0;
    }
    key.Close();
    if (RegistryKey::DeleteTree(path->root, path->subkey, RegView::Default) != kErrorSuccess)
      return Fail(kAccessError);
    return Succeed();
  }
  const std::string shownName = s.value ? *s.value : std::string("(Default)");
  if (!s.force && !AskYes(s.allValues ? "Delete all values under the registry key " + shownPath + " (Yes/No)? "
                                      : "Delete the registry value " + shownName + " (Yes/No)? ")) {
    std::printf("%s\n", kCancelled);
    return 0;
  }
  if (s.allValues) {
    std::vector<std::u16string> names;
    key.EnumValueNames(names);
    for (const auto& name : names)
      if (key.DeleteValue(name) != kErrorSuccess) return Fail(kAccessError);
    return Succeed();
  }
  const Win32Error error = key.DeleteValue(s.value ? Wide(*s.value) : std::u16string());
  if (error == kErrorFileNotFound) return Fail(kNotFound);
  if (error != kErrorSuccess) return Fail(kAccessError);
  return Succeed();
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

int Import(const std::vector<std::string>& args) {
  const Switches s = ReadSwitches(args, "import");
  if (s.bad || s.positional.size() != 1 || s.value || s.defaultValue || s.allValues || s.type || s.data ||
      s.force || s.recurse)
    return Usage("import");
  const auto bytes = ReadFile(s.positional[0]);
  if (!bytes) return Fail(kFileError);
  const RegFileParse parsed = ParseRegFile(*bytes);
  if (parsed.error == RegFileError::NotRegistryFile) return Fail(kNotRegistryScript);
  if (parsed.error == RegFileError::BadLine) {
    std::fprintf(stderr, "%s\n", kAccessError);
    std::fprintf(stderr, "  (%s, line %zu)\n", s.positional[0].c_str(), parsed.line);
    return 1;
  }
  if (ImportRegFile(parsed.file) != kErrorSuccess) return Fail(kAccessError);
  return Succeed();
}

int Export(const std::vector<std::string>& args) {
  const Switches s = ReadSwitches(args, "export");
  if (s.bad || s.positional.size() != 2 || s.value || s.defaultValue || s.allValues || s.type || s.data ||
      s.recurse)
    return Usage("export");
  const auto path = SplitRegPath(Wide(s.positional[0]));
  if (!path) return Usage("export", "Invalid key name.");
  RegFile file;
  if (ExportRegKeys(Wide(s.positional[0]), file) != kErrorSuccess) return Fail(kNotFound);
  const std::string& target = s.positional[1];
  if (!s.force && std::ifstream(target).good() &&
      !AskYes("File " + target + " already exists. Overwrite (Yes/No)? ")) {
    std::printf("%s\n", kCancelled);
    return 0;
  }
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  const std::string bytes = WriteRegFile(file);
  if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush())
    return Fail(kFileError);
  return Succeed();
}

}  // namespace

int main(int argc, char** argv) {
  InitializeProcess(argc, argv);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--machine" && i + 1 < argc) {
      ++i;
      continue;
    }
    if (arg.rfind("--machine=", 0) == 0) continue;
    args.push_back(arg);
  }
  if (args.empty()) return Usage("");
  const std::string operation = Upper(args[0]);
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (operation == "QUERY") return Query(rest);
  if (operation == "ADD") return Add(rest);
  if (operation == "DELETE") return Delete(rest);
  if (operation == "IMPORT") return Import(rest);
  if (operation == "EXPORT") return Export(rest);
  return Usage("");
}
