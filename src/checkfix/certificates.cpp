#include "checkfix/certificates.h"

#include "platform/cert_store.h"

namespace Zentrovak::Assistant {

using Platform::CertificateStore;

Platform::HResult FindCertificate(std::u16string_view name, std::u16string_view store, NameMatch match) {
  // An empty name would be contained in every subject and equal every
  // missing attribute.
  if (name.empty()) return Platform::kEFail;
  CertificateStore opened;
  if (CertificateStore::Open(Platform::CertStoreLocation::CurrentUser, store, Platform::CertStoreAccess::Read,
                             opened))
    return Platform::kEFail;
  std::vector<Platform::EncodedCertificate> candidates;
  if (opened.FindBySubject(name, candidates)) return Platform::kEFail;
  const Platform::NameAttribute attribute =
      match == NameMatch::CommonName ? Platform::NameAttribute::CommonName : Platform::NameAttribute::Organization;
  for (const Platform::EncodedCertificate& der : candidates)
    if (Platform::SubjectAttribute(der, attribute) == name) return Platform::kSOk;
  return Platform::kEFail;
}

Platform::HResult ImportCertificate(const std::vector<uint8_t>& der, std::u16string_view store) {
  CertificateStore opened;
  if (CertificateStore::Open(Platform::CertStoreLocation::CurrentUser, store, Platform::CertStoreAccess::ReadWrite,
                             opened))
    return Platform::kEFail;
  const Platform::Win32Error error = opened.Add(der);
  if (error == Platform::kErrorSuccess) return Platform::kSOk;
  // The refusal may come as the plain system error or wrapped in a result.
  const bool refused = error == Platform::kErrorCancelled ||
                       error == static_cast<Platform::Win32Error>(Platform::HResultFromWin32(Platform::kErrorCancelled));
  return refused ? Platform::kEAbort : Platform::kEFail;
}

}  // namespace Zentrovak::Assistant
