#include "platform/cert_blob.h"

namespace Zentrovak::Platform {

namespace {

constexpr size_t kPropertyHeader = 12;

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

void AppendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

void AppendProperty(std::vector<uint8_t>& blob, uint32_t id, const std::vector<uint8_t>& value) {
  AppendLe32(blob, id);
  AppendLe32(blob, 1);
  AppendLe32(blob, static_cast<uint32_t>(value.size()));
  blob.insert(blob.end(), value.begin(), value.end());
}

}  // namespace

std::vector<uint8_t> CertificateFromBlob(const std::vector<uint8_t>& blob) {
  size_t at = 0;
  while (blob.size() - at >= kPropertyHeader) {
    const uint32_t id = ReadLe32(blob, at);
    const uint32_t length = ReadLe32(blob, at + 8);
    at += kPropertyHeader;
    if (length > blob.size() - at) return {};
    if (id == kCertEncodedPropertyId) return std::vector<uint8_t>(blob.begin() + at, blob.begin() + at + length);
    at += length;
  }
  return {};
}

std::vector<uint8_t> BlobForCertificate(const std::vector<uint8_t>& der, const std::vector<uint8_t>& sha1) {
  std::vector<uint8_t> blob;
  blob.reserve(2 * kPropertyHeader + sha1.size() + der.size());
  AppendProperty(blob, kCertSha1HashPropertyId, sha1);
  AppendProperty(blob, kCertEncodedPropertyId, der);
  return blob;
}

std::u16string UpperHex(const std::vector<uint8_t>& bytes) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

}  // namespace Zentrovak::Platform
