// Digests from OpenSSL. MD4 lives in OpenSSL's legacy provider, so the
// digests come from a library context of their own that has both the
// default and the legacy provider, leaving the process-wide one untouched.
#include <openssl/evp.h>
#include <openssl/provider.h>


#include "checkfix/file_check.h"

namespace Zentrovak::Assistant {

namespace {

OSSL_LIB_CTX* DigestLibrary() {
  static OSSL_LIB_CTX* library = [] {
    OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
    if (ctx) {
      OSSL_PROVIDER_load(ctx, "default");
      OSSL_PROVIDER_load(ctx, "legacy");
    }
    return ctx;
  }();
  return library;
}

const char* AlgorithmName(int32_t kind) {
  switch (kind) {
    case DigestMd4: return "MD4";
    case DigestMd5: return "MD5";
    case DigestSha1: return "SHA1";
    case DigestSha256: return "SHA256";
    default: return nullptr;
  }
}

class OpenSslDigester : public Digester {
 public:
  OpenSslDigester(EVP_MD* md, EVP_MD_CTX* ctx) : md_(md), ctx_(ctx) {}
  ~OpenSslDigester() override {
    EVP_MD_CTX_free(ctx_);
    EVP_MD_free(md_);
  }
  bool Update(const void* data, size_t size) override { return EVP_DigestUpdate(ctx_, data, size) == 1; }
  bool Finish(std::string& digestBytes) override {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_, out, &length) != 1) return false;
    digestBytes.assign(reinterpret_cast<const char*>(out), length);
    return true;
  }

 private:
  EVP_MD* md_;
  EVP_MD_CTX* ctx_;
};

}  // namespace

std::unique_ptr<Digester> Digester::Create(int32_t kind) {
  const char* name = AlgorithmName(kind);
  if (!name || !DigestLibrary()) return nullptr;
  EVP_MD* md = EVP_MD_fetch(DigestLibrary(), name, nullptr);
  if (!md) return nullptr;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx || EVP_DigestInit_ex(ctx, md, nullptr) != 1) {
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
    return nullptr;
  }
  return std::make_unique<OpenSslDigester>(md, ctx);
}

}  // namespace Zentrovak::Assistant
