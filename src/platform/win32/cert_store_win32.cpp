// The certificate stores of Windows: CryptoAPI's system stores.
#include <windows.h>
#include <wincrypt.h>

#include "platform/cert_store.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Platform {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

inline void CloseStoreFn(HCERTSTORE store) { ::CertCloseStore(store, 0); }
inline void FreeCertificateFn(PCCERT_CONTEXT context) { ::CertFreeCertificateContext(context); }
using UniqueCertStore = Win32::UniqueResource<HCERTSTORE, nullptr, CloseStoreFn>;
using UniqueCertContext = Win32::UniqueResource<PCCERT_CONTEXT, nullptr, FreeCertificateFn>;

Win32Error LastError() { return static_cast<Win32Error>(::GetLastError()); }

UniqueCertContext ContextOf(const EncodedCertificate& der) {
  if (der.empty() || der.size() > MAXDWORD) return UniqueCertContext();
  return UniqueCertContext(::CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}

EncodedCertificate EncodedOf(PCCERT_CONTEXT context) {
  return EncodedCertificate(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
}

// Walks the contexts a CryptoAPI enumeration hands out one by one; each
// call frees the context given to it.
template <typename Next>
Win32Error Gather(const Next& next, std::vector<EncodedCertificate>& out) {
  PCCERT_CONTEXT context = nullptr;
  size_t seen = 0;
  while ((context = next(context)) != nullptr) {
    out.push_back(EncodedOf(context));
    if (++seen >= kMaxCertificatesListed) {
      ::CertFreeCertificateContext(context);
      return kErrorSuccess;
    }
  }
  // The walk ends with "not found" or "no more files".
  const Win32Error end = LastError();
  return end == kCryptErrorNotFound || end == ERROR_NO_MORE_FILES || end == kErrorSuccess ? kErrorSuccess : end;
}

// Windows writes a change to a system store at once. Wine keeps it in the
// process until the store is committed or closed, where other handles and
// processes cannot see it (and a delete is never written at all). Where
// committing is not supported the change has already been written, so the
// commit's answer is not the change's.
void CommitChanges(HCERTSTORE store) { ::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr); }

}  // namespace

class CertStoreBackend {
 public:
  explicit CertStoreBackend(HCERTSTORE store) : store(store) {}
  UniqueCertStore store;
};

CertificateStore::CertificateStore() = default;
CertificateStore::~CertificateStore() = default;
CertificateStore::CertificateStore(CertificateStore&&) noexcept = default;
CertificateStore& CertificateStore::operator=(CertificateStore&&) noexcept = default;

Win32Error CertificateStore::Open(CertStoreLocation location, std::u16string_view name, CertStoreAccess access,
                                  CertificateStore& out) {
  out.store_.reset();
  if (name.empty() || name.find(u'\0') != std::u16string_view::npos) return kErrorInvalidParameter;
  const std::wstring wideName = Win32::Wide(name);
  DWORD flags = location == CertStoreLocation::CurrentUser ? CERT_SYSTEM_STORE_CURRENT_USER
                                                           : CERT_SYSTEM_STORE_LOCAL_MACHINE;
  if (access == CertStoreAccess::Read) flags |= CERT_STORE_READONLY_FLAG;
  HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, flags, wideName.c_str());
  if (!store) return LastError();
  out.store_ = std::make_unique<CertStoreBackend>(store);
  return kErrorSuccess;
}

bool CertificateStore::IsOpen() const { return store_ != nullptr; }

Win32Error CertificateStore::FindBySubject(std::u16string_view text, std::vector<EncodedCertificate>& found) const {
  if (!store_) return kErrorInvalidHandle;
  const std::wstring pattern = Win32::Wide(text);
  HCERTSTORE store = store_->store.get();
  return Gather(
      [&](PCCERT_CONTEXT previous) {
        return ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_STR_W, pattern.c_str(), previous);
      },
      found);
}

Win32Error CertificateStore::List(std::vector<EncodedCertificate>& all) const {
  if (!store_) return kErrorInvalidHandle;
  HCERTSTORE store = store_->store.get();
  return Gather([&](PCCERT_CONTEXT previous) { return ::CertEnumCertificatesInStore(store, previous); }, all);
}

Win32Error CertificateStore::Add(const EncodedCertificate& der) {
  if (!store_) return kErrorInvalidHandle;
  if (der.empty() || der.size() > MAXDWORD) return kCryptErrorBadEncoding;
  UniqueCertContext added;
  if (!::CertAddEncodedCertificateToStore(store_->store.get(), X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                          added.put()))
    return LastError();
  CommitChanges(store_->store.get());
  return kErrorSuccess;
}

Win32Error CertificateStore::Remove(const EncodedCertificate& der) {
  if (!store_) return kErrorInvalidHandle;
  std::vector<uint8_t> thumbprint = CertificateThumbprint(der);
  if (thumbprint.empty()) return kCryptErrorBadEncoding;
  CRYPT_HASH_BLOB hash{static_cast<DWORD>(thumbprint.size()), thumbprint.data()};
  PCCERT_CONTEXT stored =
      ::CertFindCertificateInStore(store_->store.get(), kEncoding, 0, CERT_FIND_SHA1_HASH, &hash, nullptr);
  if (!stored) return LastError();
  // The delete frees the context, whether it succeeds or not.
  if (!::CertDeleteCertificateFromStore(stored)) return LastError();
  CommitChanges(store_->store.get());
  return kErrorSuccess;
}

std::u16string SubjectAttribute(const EncodedCertificate& der, NameAttribute attribute) {
  const UniqueCertContext context = ContextOf(der);
  if (!context) return {};
  const char* oid = attribute == NameAttribute::CommonName ? szOID_COMMON_NAME : szOID_ORGANIZATION_NAME;
  void* type = const_cast<char*>(oid);
  const DWORD needed = ::CertGetNameStringW(context.get(), CERT_NAME_ATTR_TYPE, 0, type, nullptr, 0);
  if (needed <= 1) return {};
  std::wstring text(needed, L'\0');
  const DWORD written = ::CertGetNameStringW(context.get(), CERT_NAME_ATTR_TYPE, 0, type, text.data(), needed);
  return written <= 1 ? std::u16string() : Win32::U16(text.data(), written - 1);
}

std::vector<uint8_t> CertificateThumbprint(const EncodedCertificate& der) {
  const UniqueCertContext context = ContextOf(der);
  if (!context) return {};
  std::vector<uint8_t> hash(20);
  DWORD size = static_cast<DWORD>(hash.size());
  if (!::CertGetCertificateContextProperty(context.get(), CERT_SHA1_HASH_PROP_ID, hash.data(), &size)) return {};
  hash.resize(size);
  return hash;
}

void SetRootAdditionConfirmation(RootAdditionConfirmation) {}

}  // namespace Zentrovak::Platform
