// The certificate stores of the posix machine: kept in its registry where
// Windows keeps its registry-backed stores (see platform/cert_store.h), the
// certificates decoded by OpenSSL.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <climits>
#include <mutex>
#include <set>

#include "platform/cert_blob.h"
#include "platform/cert_store.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::Platform {

namespace {

constexpr char16_t kStoresKey[] = u"Software\\Microsoft\\SystemCertificates\\";
constexpr size_t kMaxStoreName = 255;
constexpr size_t kMaxBlobBytes = 1 << 20;

struct X509Deleter {
  void operator()(X509* cert) const { X509_free(cert); }
};
using UniqueX509 = std::unique_ptr<X509, X509Deleter>;

// The certificate, when the bytes are exactly one DER certificate.
UniqueX509 Decode(const EncodedCertificate& der) {
  if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX)) return nullptr;
  const unsigned char* next = der.data();
  UniqueX509 cert(d2i_X509(nullptr, &next, static_cast<long>(der.size())));
  if (!cert || next != der.data() + der.size()) return nullptr;
  return cert;
}

std::vector<uint8_t> Sha1(const EncodedCertificate& der) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(der.data(), der.size(), digest, &length, EVP_sha1(), nullptr) != 1) return {};
  return std::vector<uint8_t>(digest, digest + length);
}

std::u16string EntryText(const X509_NAME_ENTRY* entry) {
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
  if (length < 0) return {};
  std::u16string text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(utf8), length));
  OPENSSL_free(utf8);
  return text;
}

std::u16string FirstEntryText(const X509_NAME* name, int nid) {
  const int index = X509_NAME_get_index_by_NID(name, nid, -1);
  return index < 0 ? std::u16string() : EntryText(X509_NAME_get_entry(name, index));
}

// A value is quoted, its quotes doubled, when it could be misread as
// several: CertNameToStr's rule.
std::u16string QuotedWhenNeeded(const std::u16string& value) {
  const bool needed = value.empty() || value.front() == u' ' || value.back() == u' ' ||
                      value.find_first_of(u",+=\"\n<>#;") != std::u16string::npos;
  if (!needed) return value;
  std::u16string quoted = u"\"";
  for (char16_t c : value) {
    if (c == u'"') quoted.push_back(u'"');
    quoted.push_back(c);
  }
  quoted.push_back(u'"');
  return quoted;
}

// The subject as CERT_SIMPLE_NAME_STR writes it: values only, relative
// names separated by ", ", the values of one relative name by " + ".
std::u16string SimpleNameString(const X509_NAME* name) {
  std::u16string text;
  int previousSet = -1;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    const int set = X509_NAME_ENTRY_set(entry);
    if (i > 0) text += set == previousSet ? u" + " : u", ";
    previousSet = set;
    text += QuotedWhenNeeded(EntryText(entry));
  }
  return text;
}

// The name Windows' confirmation shows: the common name, else the
// organisational unit, else the organisation, else the whole subject.
std::u16string DisplayName(const X509_NAME* subject) {
  for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName}) {
    std::u16string text = FirstEntryText(subject, nid);
    if (!text.empty()) return text;
  }
  return SimpleNameString(subject);
}

std::mutex confirmationMutex;
RootAdditionConfirmation& Confirmation() {
  static RootAdditionConfirmation confirm;
  return confirm;
}

bool UserAcceptsRoot(const X509* cert, const std::vector<uint8_t>& thumbprint) {
  RootAdditionConfirmation confirm;
  {
    std::lock_guard<std::mutex> hold(confirmationMutex);
    confirm = Confirmation();
  }
  if (!confirm) return false;
  return confirm(RootAdditionRequest{DisplayName(X509_get_subject_name(cert)), UpperHex(thumbprint)});
}

}  // namespace

class CertStoreBackend {
 public:
  CertStoreBackend(CertStoreLocation location, std::u16string_view name, CertStoreAccess access)
      : location_(location), name_(name), access_(access) {}

  Win32Error Collect(const std::u16string* subjectText, std::vector<EncodedCertificate>& out) const {
    std::set<std::u16string> seen;
    const std::u16string folded = subjectText ? FoldCase(*subjectText) : std::u16string();
    const auto keep = [&](EncodedCertificate der, const X509* cert) {
      if (out.size() >= kMaxCertificatesListed) return;
      if (subjectText && FoldCase(SimpleNameString(X509_get_subject_name(cert))).find(folded) == std::u16string::npos)
        return;
      out.push_back(std::move(der));
    };
    Visit(OwnRoot(), seen, keep);
    if (ShowsMachineStore()) Visit(kHkeyLocalMachine, seen, keep);
    return kErrorSuccess;
  }

  Win32Error Add(const EncodedCertificate& der) const {
    if (access_ != CertStoreAccess::ReadWrite) return kErrorAccessDenied;
    const UniqueX509 cert = Decode(der);
    if (!cert) return kCryptErrorBadEncoding;
    const std::vector<uint8_t> thumbprint = Sha1(der);
    const std::u16string path = CertificatePath(thumbprint);
    RegistryKey key;
    const bool alreadyThere =
        RegistryKey::Open(OwnRoot(), path, RegAccess::Read, RegView::Default, key) == kErrorSuccess;
    key.Close();
    if (AddingTrustedRoot() && !alreadyThere && !UserAcceptsRoot(cert.get(), thumbprint)) return kErrorCancelled;
    if (const Win32Error error = RegistryKey::Create(OwnRoot(), path, RegAccess::ReadWrite, RegView::Default, key))
      return error;
    return key.WriteBinary(u"Blob", BlobForCertificate(der, thumbprint));
  }

  Win32Error Remove(const EncodedCertificate& der) const {
    if (access_ != CertStoreAccess::ReadWrite) return kErrorAccessDenied;
    if (!Decode(der)) return kCryptErrorBadEncoding;
    const Win32Error error = RegistryKey::DeleteTree(OwnRoot(), CertificatePath(Sha1(der)), RegView::Default);
    return error == kErrorFileNotFound ? kCryptErrorNotFound : error;
  }

 private:
  RegRoot OwnRoot() const { return location_ == CertStoreLocation::CurrentUser ? kHkeyCurrentUser : kHkeyLocalMachine; }
  bool ShowsMachineStore() const {
    return location_ == CertStoreLocation::CurrentUser && !AsciiEqualsIgnoreCase(name_, u"MY");
  }
  bool AddingTrustedRoot() const {
    return location_ == CertStoreLocation::CurrentUser && AsciiEqualsIgnoreCase(name_, u"ROOT");
  }
  std::u16string CertificatesPath() const { return kStoresKey + name_ + u"\\Certificates"; }
  std::u16string CertificatePath(const std::vector<uint8_t>& thumbprint) const {
    return CertificatesPath() + u"\\" + UpperHex(thumbprint);
  }

  // Every readable certificate of one registry store not seen before;
  // entries that hold no certificate are passed over.
  template <typename Keep>
  void Visit(RegRoot root, std::set<std::u16string>& seen, const Keep& keep) const {
    RegistryKey certificates;
    if (RegistryKey::Open(root, CertificatesPath(), RegAccess::Read, RegView::Default, certificates)) return;
    std::vector<std::u16string> names;
    if (certificates.EnumSubkeys(names)) return;
    for (const std::u16string& name : names) {
      RegistryKey entry;
      std::vector<uint8_t> blob;
      if (RegistryKey::Open(root, CertificatesPath() + u"\\" + name, RegAccess::Read, RegView::Default, entry) ||
          entry.ReadBinary(u"Blob", blob, kMaxBlobBytes))
        continue;
      EncodedCertificate der = CertificateFromBlob(blob);
      const UniqueX509 cert = Decode(der);
      if (!cert || !seen.insert(UpperHex(Sha1(der))).second) continue;
      keep(std::move(der), cert.get());
    }
  }

  CertStoreLocation location_;
  std::u16string name_;
  CertStoreAccess access_;
};

CertificateStore::CertificateStore() = default;
CertificateStore::~CertificateStore() = default;
CertificateStore::CertificateStore(CertificateStore&&) noexcept = default;
CertificateStore& CertificateStore::operator=(CertificateStore&&) noexcept = default;

Win32Error CertificateStore::Open(CertStoreLocation location, std::u16string_view name, CertStoreAccess access,
                                  CertificateStore& out) {
  out.store_.reset();
  if (name.empty() || name.size() > kMaxStoreName || name.find_first_of(u"\\") != std::u16string_view::npos ||
      name.find(u'\0') != std::u16string_view::npos)
    return kErrorInvalidParameter;
  out.store_ = std::make_unique<CertStoreBackend>(location, name, access);
  return kErrorSuccess;
}

bool CertificateStore::IsOpen() const { return store_ != nullptr; }

Win32Error CertificateStore::FindBySubject(std::u16string_view text, std::vector<EncodedCertificate>& found) const {
  if (!store_) return kErrorInvalidHandle;
  const std::u16string pattern(text);
  return store_->Collect(&pattern, found);
}

Win32Error CertificateStore::List(std::vector<EncodedCertificate>& all) const {
  if (!store_) return kErrorInvalidHandle;
  return store_->Collect(nullptr, all);
}

Win32Error CertificateStore::Add(const EncodedCertificate& der) {
  return store_ ? store_->Add(der) : kErrorInvalidHandle;
}

Win32Error CertificateStore::Remove(const EncodedCertificate& der) {
  return store_ ? store_->Remove(der) : kErrorInvalidHandle;
}

std::u16string SubjectAttribute(const EncodedCertificate& der, NameAttribute attribute) {
  const UniqueX509 cert = Decode(der);
  if (!cert) return {};
  const int nid = attribute == NameAttribute::CommonName ? NID_commonName : NID_organizationName;
  return FirstEntryText(X509_get_subject_name(cert.get()), nid);
}

std::vector<uint8_t> CertificateThumbprint(const EncodedCertificate& der) {
  return Decode(der) ? Sha1(der) : std::vector<uint8_t>();
}

void SetRootAdditionConfirmation(RootAdditionConfirmation confirm) {
  std::lock_guard<std::mutex> hold(confirmationMutex);
  Confirmation() = std::move(confirm);
}

}  // namespace Zentrovak::Platform
