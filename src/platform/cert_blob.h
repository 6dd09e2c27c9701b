// How Windows keeps one certificate of a registry-backed store: the value
// "Blob" (REG_BINARY) of the key named by the certificate's thumbprint, a
// sequence of properties {uint32 id, uint32 1, uint32 length, bytes}, all
// numbers little-endian. The certificate's DER is property 32.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace Zentrovak::Platform {

inline constexpr uint32_t kCertSha1HashPropertyId = 3;   // CERT_SHA1_HASH_PROP_ID
inline constexpr uint32_t kCertEncodedPropertyId = 32;   // CERT_CERT_PROP_ID

// The certificate's DER from a stored blob; empty when the blob holds none,
// or when a property's length runs past the end of the blob.
std::vector<uint8_t> CertificateFromBlob(const std::vector<uint8_t>& blob);

// The blob Windows writes for a certificate just added: its SHA-1, then the
// certificate itself.
std::vector<uint8_t> BlobForCertificate(const std::vector<uint8_t>& der, const std::vector<uint8_t>& sha1);

// Bytes as upper-case hexadecimal, the way key names and thumbprints are
// written.
std::u16string UpperHex(const std::vector<uint8_t>& bytes);

}  // namespace Zentrovak::Platform
