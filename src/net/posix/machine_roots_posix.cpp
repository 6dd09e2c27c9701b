#include "net/posix/machine_roots_posix.h"

#include <cstdint>

#include "platform/registry.h"

namespace Zentrovak::Network::Posix {

namespace {

constexpr char16_t kRootCertificates[] = u"Software\\Microsoft\\SystemCertificates\\ROOT\\Certificates";
constexpr uint32_t kCertificateProperty = 32;

uint32_t ReadUint32(std::string_view bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

}  // namespace

std::string CertificateFromBlob(std::string_view blob) {
  size_t at = 0;
  while (blob.size() - at >= 12) {
    const uint32_t property = ReadUint32(blob, at);
    const uint32_t length = ReadUint32(blob, at + 8);
    at += 12;
    if (length > blob.size() - at) return {};
    if (property == kCertificateProperty) return std::string(blob.substr(at, length));
    at += length;
  }
  return {};
}

std::vector<std::string> MachineRootCertificates() {
  using Platform::RegistryKey;
  std::vector<std::string> certificates;
  for (const Platform::RegRoot root : {Platform::kHkeyCurrentUser, Platform::kHkeyLocalMachine}) {
    RegistryKey store;
    if (RegistryKey::Open(root, kRootCertificates, Platform::RegAccess::Read, Platform::RegView::Default, store)) continue;
    std::vector<std::u16string> thumbprints;
    store.EnumSubkeys(thumbprints);
    for (const std::u16string& thumbprint : thumbprints) {
      RegistryKey certificate;
      std::vector<uint8_t> blob;
      if (RegistryKey::Open(root, std::u16string(kRootCertificates) + u"\\" + thumbprint, Platform::RegAccess::Read,
                            Platform::RegView::Default, certificate) ||
          certificate.ReadBinary(u"Blob", blob))
        continue;
      std::string der = CertificateFromBlob(std::string_view(reinterpret_cast<const char*>(blob.data()), blob.size()));
      if (!der.empty()) certificates.push_back(std::move(der));
    }
  }
  return certificates;
}

}  // namespace Zentrovak::Network::Posix
