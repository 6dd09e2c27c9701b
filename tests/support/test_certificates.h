// Certificates made at test time: DER X.509 certificates with the subject a
// test asks for, self-issued, with a fixed public key and a signature that
// verifies against nothing, so no system ever trusts them. Every one carries
// the organisational unit kTestCertificateUnit, by which tests find (and
// remove) what they added.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace Zentrovak::Testing {

inline constexpr char kTestCertificateUnit[] = "Zentrovak test certificate";

enum class NameKind : uint8_t { Country = 6, Organization = 10, OrganizationalUnit = 11, CommonName = 3 };

struct NamePart {
  NameKind kind;
  std::string value;  // UTF-8
};

namespace Der {

using Bytes = std::vector<uint8_t>;

inline Bytes Tagged(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  size_t length = content.size();
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
  } else {
    Bytes digits;
    for (; length; length >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Sequence(std::initializer_list<Bytes> parts) { return Tagged(0x30, Join(parts)); }

inline Bytes Text(uint8_t tag, const std::string& value) { return Tagged(tag, Bytes(value.begin(), value.end())); }

// 1.2.840.113549.1.1.x
inline Bytes RsaAlgorithm(uint8_t last) {
  return Sequence({Tagged(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, last}), Tagged(0x05, {})});
}

inline Bytes Name(const std::vector<NamePart>& parts) {
  Bytes relativeNames;
  for (const NamePart& part : parts) {
    // Countries are PrintableString, everything else UTF8String.
    const uint8_t stringTag = part.kind == NameKind::Country ? 0x13 : 0x0C;
    const Bytes attribute = Sequence({Tagged(0x06, {0x55, 0x04, static_cast<uint8_t>(part.kind)}),
                                      Text(stringTag, part.value)});
    const Bytes set = Tagged(0x31, attribute);
    relativeNames.insert(relativeNames.end(), set.begin(), set.end());
  }
  return Tagged(0x30, relativeNames);
}

// A 1024-bit number with the top bit set, odd, from a fixed seed.
inline Bytes PatternBytes(uint32_t seed, size_t count) {
  Bytes out(count);
  for (uint8_t& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

}  // namespace Der

// A certificate whose subject (and issuer) is `subject` followed by the test
// unit. Each call gives a new serial number, so a new thumbprint.
inline std::vector<uint8_t> MakeTestCertificate(std::vector<NamePart> subject) {
  using namespace Der;
  static std::atomic<uint32_t> serial{1};
  subject.push_back({NameKind::OrganizationalUnit, kTestCertificateUnit});
  const Bytes name = Name(subject);
  Bytes modulus = PatternBytes(0x5EED, 128);
  modulus.front() |= 0x80;
  modulus.back() |= 0x01;
  modulus.insert(modulus.begin(), 0x00);  // a positive INTEGER
  const Bytes publicKey =
      Sequence({RsaAlgorithm(0x01),
                Tagged(0x03, Join({Bytes{0x00}, Sequence({Tagged(0x02, modulus), Tagged(0x02, {0x01, 0x00, 0x01})})}))});
  const uint32_t number = serial++;
  const Bytes serialNumber = Tagged(0x02, {0x01, static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 8),
                                           static_cast<uint8_t>(number)});
  const Bytes validity = Sequence({Text(0x17, "240101000000Z"), Text(0x17, "340101000000Z")});
  const Bytes toBeSigned = Sequence({Tagged(0xA0, Tagged(0x02, {0x02})), serialNumber, RsaAlgorithm(0x0B), name,
                                     validity, name, publicKey});
  const Bytes signature = Tagged(0x03, Join({Bytes{0x00}, PatternBytes(number, 128)}));
  return Sequence({toBeSigned, RsaAlgorithm(0x0B), signature});
}

inline std::vector<uint8_t> OrganizationCertificate(const std::string& organization) {
  return MakeTestCertificate({{NameKind::Country, "CN"}, {NameKind::Organization, organization}});
}

inline std::vector<uint8_t> CommonNameCertificate(const std::string& commonName) {
  return MakeTestCertificate(
      {{NameKind::Country, "US"}, {NameKind::Organization, "Test Authority"}, {NameKind::CommonName, commonName}});
}

}  // namespace Zentrovak::Testing
