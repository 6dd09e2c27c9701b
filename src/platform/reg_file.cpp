#include "platform/reg_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace Zentrovak::Platform {

namespace {

constexpr char16_t kHeader5[] = u"Windows Registry Editor Version 5.00";
constexpr char16_t kHeader4[] = u"REGEDIT4";
// reg.exe breaks a hex line once it reaches this many characters, so that
// no line is longer than 80 with its continuation mark.
constexpr size_t kHexLineLimit = 77;

struct RootName {
  const char16_t* longName;
  const char16_t* shortName;
  RegRoot root;
};
constexpr RootName kRoots[] = {
    {u"HKEY_LOCAL_MACHINE", u"HKLM", kHkeyLocalMachine}, {u"HKEY_CURRENT_USER", u"HKCU", kHkeyCurrentUser},
    {u"HKEY_CLASSES_ROOT", u"HKCR", kHkeyClassesRoot},   {u"HKEY_USERS", u"HKU", kHkeyUsers},
    {u"HKEY_CURRENT_CONFIG", u"HKCC", kHkeyCurrentConfig},
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimLeft(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::u16string_view TrimRight(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::u16string_view Trim(std::u16string_view s) { return TrimRight(TrimLeft(s)); }

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The file's text: UTF-16LE after its byte-order mark, else UTF-8 (with or
// without its mark).
std::u16string DecodeText(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    std::u16string text((bytes.size() - 2) / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 + 2 * i]) |
                                      static_cast<uint8_t>(bytes[3 + 2 * i]) << 8);
    return text;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return Utf8ToUtf16(bytes);
}

std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// A quoted text starting at s[0] == '"'; advances s past the closing quote.
std::optional<std::u16string> ReadQuoted(std::u16string_view& s) {
  std::u16string out;
  for (size_t i = 1; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c == u'"') {
      s.remove_prefix(i + 1);
      return out;
    }
    if (c == u'\\' && i + 1 < s.size()) {
      const char16_t next = s[++i];
      switch (next) {
        case u'\\': case u'"': out.push_back(next); break;
        case u'n': out.push_back(u'\n'); break;
        case u'r': out.push_back(u'\r'); break;
        case u'0': out.push_back(u'\0'); break;
        default: out.push_back(c); out.push_back(next); break;
      }
      continue;
    }
    out.push_back(c);
  }
  return std::nullopt;
}

bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && AsciiEqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

std::vector<uint8_t> TextBytes(std::u16string_view text) {
  std::vector<uint8_t> data((text.size() + 1) * 2, 0);
  for (size_t i = 0; i < text.size(); ++i) {
    data[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    data[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return data;
}

// "xx,xx,..." with blanks anywhere between the numbers.
std::optional<std::vector<uint8_t>> ReadHexBytes(std::u16string_view s) {
  std::vector<uint8_t> bytes;
  s = Trim(s);
  while (!s.empty()) {
    int value = 0, digits = 0;
    while (!s.empty() && HexDigit(s.front()) >= 0 && digits < 2) {
      value = value * 16 + HexDigit(s.front());
      ++digits;
      s.remove_prefix(1);
    }
    if (digits == 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(value));
    s = TrimLeft(s);
    if (s.empty()) break;
    if (s.front() != u',') return std::nullopt;
    s = TrimLeft(s.substr(1));
  }
  return bytes;
}

// Old files keep expandable and multi-string data as 8-bit text.
std::vector<uint8_t> WidenOldText(const std::vector<uint8_t>& bytes) {
  const std::u16string text =
      Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  std::vector<uint8_t> data = TextBytes(text);
  data.resize(data.size() - 2);  // the zeros came with the bytes
  return data;
}

class Parser {
 public:
  explicit Parser(std::string_view bytes) : text_(DecodeText(bytes)), lines_(SplitLines(text_)) {}

  RegFileParse Run() {
    RegFileParse result;
    size_t i = 0;
    while (i < lines_.size() && Trim(lines_[i]).empty()) ++i;
    const std::u16string_view header = i < lines_.size() ? Trim(lines_[i]) : std::u16string_view();
    if (header == kHeader5) {
      oldFormat_ = false;
    } else if (header == kHeader4) {
      oldFormat_ = true;
    } else {
      result.error = RegFileError::NotRegistryFile;
      return result;
    }
    for (++i; i < lines_.size(); ++i) {
      if (!ParseLine(i, result.file)) {
        result.error = RegFileError::BadLine;
        result.line = i + 1;
        result.file = RegFile();
        return result;
      }
    }
    return result;
  }

 private:
  // One line, or a value with its continuation lines (i moves past them).
  bool ParseLine(size_t& i, RegFile& file) {
    std::u16string_view line = TrimLeft(lines_[i]);
    if (line.empty() || line.front() == u';') return true;
    if (line.front() == u'[') return ParseKey(TrimRight(line), file);
    if (line.front() != u'"' && line.front() != u'@') return false;
    if (file.keys.empty() || file.keys.back().remove) return false;
    RegFileValue value;
    if (line.front() == u'@') {
      line.remove_prefix(1);
    } else {
      auto name = ReadQuoted(line);
      if (!name) return false;
      value.name = std::move(*name);
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != u'=') return false;
    line = TrimLeft(line.substr(1));
    if (!ParseData(line, i, value)) return false;
    file.keys.back().values.push_back(std::move(value));
    return true;
  }

  bool ParseKey(std::u16string_view line, RegFile& file) {
    if (line.size() < 2 || line.back() != u']') return false;
    std::u16string_view inner = line.substr(1, line.size() - 2);
    RegFileKey key;
    if (!inner.empty() && inner.front() == u'-') {
      key.remove = true;
      inner.remove_prefix(1);
    }
    const auto path = SplitRegPath(inner);
    // A whole root is never deleted.
    if (!path || (key.remove && path->subkey.empty())) return false;
    key.path = std::u16string(inner);
    file.keys.push_back(std::move(key));
    return true;
  }

  bool ParseData(std::u16string_view data, size_t& i, RegFileValue& value) {
    if (data == u"-") {
      value.remove = true;
      return true;
    }
    if (!data.empty() && data.front() == u'"') {
      auto text = ReadQuoted(data);
      if (!text || !Trim(data).empty()) return false;
      value.type = RegType::kSz;
      value.data = TextBytes(*text);
      return true;
    }
    if (StartsWithNoCase(data, u"dword:")) {
      const std::u16string_view digits = TrimRight(data.substr(6));
      if (digits.empty() || digits.size() > 8) return false;
      uint32_t number = 0;
      for (char16_t c : digits) {
        if (HexDigit(c) < 0) return false;
        number = number * 16 + static_cast<uint32_t>(HexDigit(c));
      }
      value.type = RegType::kDword;
      value.data.resize(4);
      std::memcpy(value.data.data(), &number, 4);
      return true;
    }
    if (!StartsWithNoCase(data, u"hex")) return false;
    data.remove_prefix(3);
    uint32_t type = RegType::kBinary;
    if (!data.empty() && data.front() == u'(') {
      const size_t close = data.find(u')');
      if (close == std::u16string_view::npos || close == 1 || close > 9) return false;
      type = 0;
      for (char16_t c : data.substr(1, close - 1)) {
        if (HexDigit(c) < 0) return false;
        type = type * 16 + static_cast<uint32_t>(HexDigit(c));
      }
      data.remove_prefix(close + 1);
    }
    if (data.empty() || data.front() != u':') return false;
    std::u16string joined(TrimRight(data.substr(1)));
    while (!joined.empty() && joined.back() == u'\\') {
      joined.pop_back();
      if (++i >= lines_.size()) return false;
      joined += TrimRight(TrimLeft(lines_[i]));
    }
    auto bytes = ReadHexBytes(joined);
    if (!bytes) return false;
    if (oldFormat_ && (type == RegType::kExpandSz || type == RegType::kMultiSz)) *bytes = WidenOldText(*bytes);
    value.type = type;
    value.data = std::move(*bytes);
    return true;
  }

  std::u16string text_;
  std::vector<std::u16string_view> lines_;
  bool oldFormat_ = false;
};

std::u16string Escaped(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  return out;
}

// A REG_SZ that a quoted text gives back unchanged: one terminating zero,
// no other zero and no line break.
std::optional<std::u16string> PlainText(const std::vector<uint8_t>& data) {
  if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
  std::u16string text(data.size() / 2 - 1, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    if (text[i] == u'\0' || text[i] == u'\r' || text[i] == u'\n') return std::nullopt;
  }
  if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) return std::nullopt;
  return text;
}

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::strlen(text)); }

std::u16string HexNumber(uint32_t value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*x", width, value);
  return Ascii(buffer);
}

std::u16string ValueLine(const RegFileValue& value) {
  std::u16string line = value.name.empty() ? std::u16string(u"@=") : u"\"" + Escaped(value.name) + u"\"=";
  if (value.remove) return line + u"-";
  if (value.type == RegType::kSz) {
    if (const auto text = PlainText(value.data)) return line + u"\"" + Escaped(*text) + u"\"";
  }
  if (value.type == RegType::kDword && value.data.size() == 4) {
    uint32_t number = 0;
    std::memcpy(&number, value.data.data(), 4);
    return line + u"dword:" + HexNumber(number, 8);
  }
  line += value.type == RegType::kBinary ? std::u16string(u"hex:") : u"hex(" + HexNumber(value.type, 1) + u"):";
  size_t column = line.size();
  for (size_t i = 0; i < value.data.size(); ++i) {
    line += HexNumber(value.data[i], 2);
    if (i + 1 == value.data.size()) break;
    line += u",";
    column += 3;
    if (column >= kHexLineLimit) {
      line += u"\\\r\n  ";
      column = 2;
    }
  }
  return line;
}

}  // namespace

RegFileParse ParseRegFile(std::string_view bytes) { return Parser(bytes).Run(); }

std::string WriteRegFile(const RegFile& file) {
  std::u16string text = std::u16string(kHeader5) + u"\r\n\r\n";
  for (const RegFileKey& key : file.keys) {
    text += u"[" + std::u16string(key.remove ? u"-" : u"") + key.path + u"]\r\n";
    for (const RegFileValue& value : key.values) text += ValueLine(value) + u"\r\n";
    text += u"\r\n";
  }
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::optional<RegPath> SplitRegPath(std::u16string_view path) {
  const size_t slash = path.find(u'\\');
  const std::u16string_view root = path.substr(0, slash);
  for (const RootName& r : kRoots) {
    if (!AsciiEqualsIgnoreCase(root, r.longName) && !AsciiEqualsIgnoreCase(root, r.shortName)) continue;
    RegPath result;
    result.root = r.root;
    result.rootName = r.longName;
    if (slash != std::u16string_view::npos) result.subkey = std::u16string(path.substr(slash + 1));
    return result;
  }
  return std::nullopt;
}

Win32Error ImportRegFile(const RegFile& file) {
  for (const RegFileKey& key : file.keys) {
    const auto path = SplitRegPath(key.path);
    if (!path) return kErrorInvalidParameter;
    if (key.remove) {
      const Win32Error error = RegistryKey::DeleteTree(path->root, path->subkey, RegView::Default);
      if (error != kErrorSuccess && error != kErrorFileNotFound) return error;
      continue;
    }
    RegistryKey open;
    Win32Error error = RegistryKey::Create(path->root, path->subkey, RegAccess::ReadWrite, RegView::Default, open);
    if (error != kErrorSuccess) return error;
    for (const RegFileValue& value : key.values) {
      if (value.remove) {
        error = open.DeleteValue(value.name);
        if (error == kErrorFileNotFound) error = kErrorSuccess;
      } else {
        error = open.SetValue(value.name, value.type, value.data.data(), static_cast<uint32_t>(value.data.size()));
      }
      if (error != kErrorSuccess) return error;
    }
  }
  return kErrorSuccess;
}

namespace {

Win32Error ExportTree(const RegistryKey& key, const std::u16string& path, RegView view, RegFile& out) {
  RegFileKey entry;
  entry.path = path;
  std::vector<std::u16string> names;
  Win32Error error = key.EnumValueNames(names);
  if (error != kErrorSuccess) return error;
  for (const std::u16string& name : names) {
    RegFileValue value;
    value.name = name;
    error = key.ReadRaw(name, value.type, value.data, SIZE_MAX);
    if (error != kErrorSuccess) return error;
    entry.values.push_back(std::move(value));
  }
  out.keys.push_back(std::move(entry));
  names.clear();
  error = key.EnumSubkeys(names);
  if (error != kErrorSuccess) return error;
  for (const std::u16string& name : names) {
    const std::u16string childPath = path + u"\\" + name;
    const auto split = SplitRegPath(childPath);
    RegistryKey child;
    error = RegistryKey::Open(split->root, split->subkey, RegAccess::Read, view, child);
    if (error != kErrorSuccess) return error;
    error = ExportTree(child, childPath, view, out);
    if (error != kErrorSuccess) return error;
  }
  return kErrorSuccess;
}

}  // namespace

Win32Error ExportRegKeys(std::u16string_view path, RegFile& out, RegView view) {
  const auto split = SplitRegPath(path);
  if (!split) return kErrorInvalidParameter;
  RegistryKey key;
  const Win32Error error = RegistryKey::Open(split->root, split->subkey, RegAccess::Read, view, key);
  if (error != kErrorSuccess) return error;
  std::u16string subkey = split->subkey;
  while (!subkey.empty() && subkey.back() == u'\\') subkey.pop_back();
  return ExportTree(key, split->rootName + (subkey.empty() ? u"" : u"\\" + subkey), view, out);
}

}  // namespace Zentrovak::Platform
