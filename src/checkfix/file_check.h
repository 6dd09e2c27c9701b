// The file test shared by the classes that look at files (version block and
// digests), the digests themselves, and the WOW64 guard that entries with
// "bit" "64" need.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "checkfix/item_configuration.h"
#include "platform/registry.h"

namespace Zentrovak::Assistant {

enum DigestKind : int32_t { DigestMd4 = 0, DigestMd5 = 1, DigestSha1 = 2, DigestSha256 = 3 };

// Passed, NeedsUpdate (version or a digest differs, or no version block
// where a version is required) or Failed (no such file), by the entry's
// "version", "md5" and "sha1".
int32_t FileMatches(const ConfigEntry& entry, std::u16string_view path);

// Lower-case hexadecimal digest of the whole file, read in blocks; empty
// when the file cannot be read or the kind is unknown.
std::string FileDigest(std::u16string_view path, int32_t kind);

// Something that is not a directory is at the path.
bool FileExists(std::u16string_view path);

// The version comparison of FileMatches: true when the file's version
// (high and low double words) satisfies the requirement text.
bool VersionSatisfies(std::string_view requirement, uint32_t fileVersionMS, uint32_t fileVersionLS);

// While it lives, WOW64 file-system redirection is off: always, or for an
// entry only when the entry's "bit" is "64" on 64-bit Windows (which also
// selects the 64-bit registry view). Every other entry uses the program's
// own view, the 32-bit one: a 64-bit build of the same sources asks for it
// explicitly, so that it reads what the product reads.
class RedirectionGuard {
 public:
  RedirectionGuard();
  explicit RedirectionGuard(const ConfigEntry& entry);
  ~RedirectionGuard();
  RedirectionGuard(const RedirectionGuard&) = delete;
  RedirectionGuard& operator=(const RedirectionGuard&) = delete;

  bool Use64BitView() const { return use64_; }
  Platform::RegView View() const;

 private:
  bool disabled_ = false;
  bool use64_ = false;
};

// One running digest computation (the backend's: OpenSSL on Linux, the
// Windows CryptoAPI on Windows).
class Digester {
 public:
  virtual ~Digester() = default;
  static std::unique_ptr<Digester> Create(int32_t kind);
  virtual bool Update(const void* data, size_t size) = 0;
  virtual bool Finish(std::string& digestBytes) = 0;
};

}  // namespace Zentrovak::Assistant
