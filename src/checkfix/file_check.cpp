#include "checkfix/file_check.h"

#include <vector>

#include "checkfix/check_fix.h"
#include "platform/files.h"
#include "platform/text.h"
#include "system/version.h"

namespace Zentrovak::Assistant {

namespace {

enum class Required { Equal, Newer, NotOlder, Older, NotNewer };

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool VersionSatisfies(std::string_view text, uint32_t fileMS, uint32_t fileLS) {
  Required required = Required::Equal;
  size_t at = 0;
  if (!text.empty() && !IsDigit(text[0])) {
    if (text.compare(0, 2, ">=") == 0) {
      required = Required::NotOlder;
      at = 2;
    } else if (text.compare(0, 2, "<=") == 0) {
      required = Required::NotNewer;
      at = 2;
    } else {
      if (text[0] == '>') required = Required::Newer;
      else if (text[0] == '<') required = Required::Older;
      at = 1;  // "=" and any other sign: equal
    }
  }
  while (at < text.size() && !IsDigit(text[at])) ++at;

  uint32_t parts[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && at < text.size() && IsDigit(text[at]); ++i) {
    uint32_t value = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) value = (value * 10 + static_cast<uint32_t>(text[at] - '0')) & 0xFFFF;
    parts[i] = value;
    if (at >= text.size() || text[at] != '.') break;
    ++at;
  }
  const uint32_t wantMS = parts[0] << 16 | parts[1];
  const uint32_t wantLS = parts[2] << 16 | parts[3];
  const int order = fileMS != wantMS ? (fileMS > wantMS ? 1 : -1) : fileLS != wantLS ? (fileLS > wantLS ? 1 : -1) : 0;
  switch (required) {
    case Required::Equal: return order == 0;
    case Required::Newer: return order > 0;
    case Required::Older: return order < 0;
    case Required::NotOlder: return order >= 0;
    case Required::NotNewer: return order <= 0;
  }
  return false;
}

int32_t FileMatches(const ConfigEntry& entry, std::u16string_view path) {
  if (!FileExists(path)) return Failed;
  const std::string& version = GetAttr(entry.attributes, "version");
  if (!version.empty()) {
    System::FixedFileInfo info;
    if (!System::get_file_fixed_version(path, &info)) return NeedsUpdate;
    if (!VersionSatisfies(version, info.fileVersionMS, info.fileVersionLS)) return NeedsUpdate;
  }
  const std::string& md5 = GetAttr(entry.attributes, "md5");
  if (!md5.empty() && Platform::AsciiLower(md5) != FileDigest(path, DigestMd5)) return NeedsUpdate;
  const std::string& sha1 = GetAttr(entry.attributes, "sha1");
  if (!sha1.empty() && Platform::AsciiLower(sha1) != FileDigest(path, DigestSha1)) return NeedsUpdate;
  return Passed;
}

std::string FileDigest(std::u16string_view path, int32_t kind) {
  std::unique_ptr<Digester> digester = Digester::Create(kind);
  if (!digester) return {};
  Platform::FileStream file;
  if (file.Open(path, Platform::FileStream::Mode::Read)) return {};
  std::vector<char> block(256 * 1024);
  for (;;) {
    uint32_t got = 0;
    if (file.Read(block.data(), static_cast<uint32_t>(block.size()), &got)) return {};
    if (got == 0) break;
    if (!digester->Update(block.data(), got)) return {};
  }
  std::string bytes;
  if (!digester->Finish(bytes)) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    hex += kHex[b >> 4];
    hex += kHex[b & 0xF];
  }
  return hex;
}

bool FileExists(std::u16string_view path) { return Platform::FileExists(path); }

RedirectionGuard::RedirectionGuard() {
  if (System::is_wow64_process()) {
    System::disable_wow64_redirection();
    disabled_ = true;
  }
}

RedirectionGuard::RedirectionGuard(const ConfigEntry& entry) {
  if (GetAttr(entry.attributes, "bit") != "64" || !System::is_64bit_windows()) return;
  use64_ = true;
  if (System::is_wow64_process()) {
    System::disable_wow64_redirection();
    disabled_ = true;
  }
}

Platform::RegView RedirectionGuard::View() const {
  if (use64_) return Platform::RegView::Force64;
  return System::is_64bit_process() ? Platform::RegView::Force32 : Platform::RegView::Default;
}

RedirectionGuard::~RedirectionGuard() {
  if (disabled_) System::revert_wow64_redirection();
}

}  // namespace Zentrovak::Assistant
