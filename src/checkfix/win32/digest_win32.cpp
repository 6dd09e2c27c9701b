// Digests from the Windows CryptoAPI (the AES provider has MD4, MD5, SHA-1
// and SHA-256 on every supported Windows).
#include <windows.h>
#include <wincrypt.h>

#include "checkfix/file_check.h"

namespace Zentrovak::Assistant {

namespace {

ALG_ID AlgorithmFor(int32_t kind) {
  switch (kind) {
    case DigestMd4: return CALG_MD4;
    case DigestMd5: return CALG_MD5;
    case DigestSha1: return CALG_SHA1;
    case DigestSha256: return CALG_SHA_256;
    default: return 0;
  }
}

class CryptoApiDigester : public Digester {
 public:
  CryptoApiDigester(HCRYPTPROV provider, HCRYPTHASH hash) : provider_(provider), hash_(hash) {}
  ~CryptoApiDigester() override {
    ::CryptDestroyHash(hash_);
    ::CryptReleaseContext(provider_, 0);
  }
  bool Update(const void* data, size_t size) override {
    const auto* bytes = static_cast<const BYTE*>(data);
    while (size > 0) {
      const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      if (!::CryptHashData(hash_, bytes, chunk, 0)) return false;
      bytes += chunk;
      size -= chunk;
    }
    return true;
  }
  bool Finish(std::string& digestBytes) override {
    DWORD length = 0;
    DWORD field = sizeof(length);
    if (!::CryptGetHashParam(hash_, HP_HASHSIZE, reinterpret_cast<BYTE*>(&length), &field, 0) || length == 0 ||
        length > 64)
      return false;
    BYTE out[64];
    if (!::CryptGetHashParam(hash_, HP_HASHVAL, out, &length, 0)) return false;
    digestBytes.assign(reinterpret_cast<const char*>(out), length);
    return true;
  }

 private:
  HCRYPTPROV provider_;
  HCRYPTHASH hash_;
};

}  // namespace

std::unique_ptr<Digester> Digester::Create(int32_t kind) {
  const ALG_ID algorithm = AlgorithmFor(kind);
  if (algorithm == 0) return nullptr;
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return nullptr;
  HCRYPTHASH hash = 0;
  if (!::CryptCreateHash(provider, algorithm, 0, 0, &hash)) {
    ::CryptReleaseContext(provider, 0);
    return nullptr;
  }
  return std::make_unique<CryptoApiDigester>(provider, hash);
}

}  // namespace Zentrovak::Assistant
