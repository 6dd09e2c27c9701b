// The system's certificate stores, by location and name ("ROOT", "CA",
// "MY", ...).
//
// win32: CryptoAPI's system stores. posix: a stand-in kept in the machine's
// registry exactly where Windows keeps its registry-backed stores, so that
// every part of the program finds a certificate where Windows would:
//   HKCU (current user) or HKLM (local machine)
//   \Software\Microsoft\SystemCertificates\<store>\Certificates\<thumbprint>
//   value "Blob" (REG_BINARY) in the layout of platform/cert_blob.h,
// the thumbprint being the SHA-1 of the DER in upper-case hexadecimal. As on
// Windows, a current user's store also shows the local machine's store of
// the same name (except "MY"); changes go to the user's own.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace Zentrovak::Platform {

enum class CertStoreLocation { CurrentUser, LocalMachine };
enum class CertStoreAccess { Read, ReadWrite };

// The subject attributes a certificate is known by.
enum class NameAttribute {
  CommonName,    // 2.5.4.3
  Organization,  // 2.5.4.10
};

using EncodedCertificate = std::vector<uint8_t>;  // DER

// CryptoAPI's answers, which the posix stand-in gives too.
inline constexpr Win32Error kCryptErrorNotFound = 0x80092004u;    // CRYPT_E_NOT_FOUND
inline constexpr Win32Error kCryptErrorBadEncoding = 0x8009310Bu; // CRYPT_E_ASN1_BADTAG

// A store enumeration stops after this many certificates.
inline constexpr size_t kMaxCertificatesListed = 10000;

class CertStoreBackend;  // the backend's open store

// One open store. Move-only; closes on destruction.
class CertificateStore {
 public:
  CertificateStore();
  ~CertificateStore();
  CertificateStore(CertificateStore&&) noexcept;
  CertificateStore& operator=(CertificateStore&&) noexcept;
  CertificateStore(const CertificateStore&) = delete;
  CertificateStore& operator=(const CertificateStore&) = delete;

  // Opens the system store of that name; a store that does not exist yet
  // is empty. 87 for a name that cannot be a store's.
  static Win32Error Open(CertStoreLocation location, std::u16string_view name, CertStoreAccess access,
                         CertificateStore& out);

  bool IsOpen() const;

  // The certificates whose subject, written as a simple name string
  // ("CN, Org, ..."), contains `text`, letter case ignored: the system's
  // subject-string search.
  Win32Error FindBySubject(std::u16string_view text, std::vector<EncodedCertificate>& found) const;
  Win32Error List(std::vector<EncodedCertificate>& all) const;

  // Adds the certificate, replacing a copy that is already there. Adding to
  // the current user's ROOT store asks the user first; a refusal answers
  // 1223 (the operation was cancelled by the user).
  Win32Error Add(const EncodedCertificate& der);
  // Removes the certificate with the same thumbprint; kCryptErrorNotFound
  // when the store does not hold it.
  Win32Error Remove(const EncodedCertificate& der);

 private:
  std::unique_ptr<CertStoreBackend> store_;
};

// The text of the first attribute of that kind in the certificate's
// subject; empty when there is none or the certificate cannot be decoded.
std::u16string SubjectAttribute(const EncodedCertificate& der, NameAttribute attribute);
// SHA-1 of the DER; empty when the bytes are no certificate.
std::vector<uint8_t> CertificateThumbprint(const EncodedCertificate& der);

// What the user is shown before a certificate joins the current user's
// trusted roots.
struct RootAdditionRequest {
  std::u16string subject;     // the name the authority claims
  std::u16string thumbprint;  // SHA-1, upper-case hexadecimal
};
// Answers true when the user accepts.
using RootAdditionConfirmation = std::function<bool(const RootAdditionRequest&)>;
// posix: the stand-in asks through this before adding to the current
// user's ROOT store, and refuses when none is set. win32: Windows asks
// with its own dialog; the function is not used.
void SetRootAdditionConfirmation(RootAdditionConfirmation confirm);

}  // namespace Zentrovak::Platform
