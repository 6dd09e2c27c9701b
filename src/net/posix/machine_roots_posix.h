// The machine's own trusted roots, kept as Windows keeps its Root store:
// one key per certificate under
//   HKCU\Software\Microsoft\SystemCertificates\ROOT\Certificates\<SHA-1>
//   HKLM\Software\Microsoft\SystemCertificates\ROOT\Certificates\<SHA-1>
// with the value "Blob" (REG_BINARY) in Windows' serialized-property
// layout: records of {uint32 property id, uint32 1, uint32 length, bytes},
// the certificate's DER in property 32.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace Zentrovak::Network::Posix {

// The DER of every certificate in the two ROOT stores (current user first);
// blobs that do not parse are left out.
std::vector<std::string> MachineRootCertificates();

// The DER carried in a serialized certificate blob; empty when the blob is
// cut short or carries no certificate.
std::string CertificateFromBlob(std::string_view blob);

}  // namespace Zentrovak::Network::Posix
