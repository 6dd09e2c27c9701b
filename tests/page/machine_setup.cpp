// Prepares and inspects a posix machine for the browser tests, through the
// program's own registry and certificate stores:
//   machine_setup DIR add-cert STORE O|CN NAME   a test certificate whose
//                                                organisation (or common
//                                                name) is NAME, in the
//                                                current user's STORE
//   machine_setup DIR set-dword SUBKEY NAME N     HKCU value
//   machine_setup DIR read-value SUBKEY NAME      HKCU value as hexadecimal
//                                                bytes, or "absent"
// Exits with 0 when done, 1 when it failed, 2 for a wrong command line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/cert_store.h"
#include "platform/posix/machine.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_certificates.h"

using namespace Zentrovak;

namespace {

int AddCertificate(const std::string& store, const std::string& match, const std::string& name) {
  const std::vector<uint8_t> der =
      match == "CN" ? Testing::CommonNameCertificate(name) : Testing::OrganizationCertificate(name);
  // Setting the machine up is the person's own doing: nobody is asked.
  Platform::SetRootAdditionConfirmation([](const Platform::RootAdditionRequest&) { return true; });
  Platform::CertificateStore opened;
  if (Platform::CertificateStore::Open(Platform::CertStoreLocation::CurrentUser, Platform::Utf8ToUtf16(store),
                                       Platform::CertStoreAccess::ReadWrite, opened))
    return 1;
  return opened.Add(der) == Platform::kErrorSuccess ? 0 : 1;
}

int SetDword(const std::string& subkey, const std::string& name, const std::string& value) {
  Platform::RegistryKey key;
  if (Platform::RegistryKey::Create(Platform::kHkeyCurrentUser, Platform::Utf8ToUtf16(subkey),
                                    Platform::RegAccess::ReadWrite, Platform::RegView::Default, key))
    return 1;
  const uint32_t number = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
  return key.WriteDword(Platform::Utf8ToUtf16(name), number) == Platform::kErrorSuccess ? 0 : 1;
}

int ReadValue(const std::string& subkey, const std::string& name) {
  Platform::RegistryKey key;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (Platform::RegistryKey::Open(Platform::kHkeyCurrentUser, Platform::Utf8ToUtf16(subkey),
                                  Platform::RegAccess::Read, Platform::RegView::Default, key) ||
      key.ReadRaw(Platform::Utf8ToUtf16(name), type, data)) {
    std::printf("absent\n");
    return 0;
  }
  for (uint8_t b : data) std::printf("%02x", b);
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  Platform::Posix::SetMachineDirectory(argv[1]);
  const std::string verb = argv[2];
  if (verb == "add-cert" && argc == 6) return AddCertificate(argv[3], argv[4], argv[5]);
  if (verb == "set-dword" && argc == 6) return SetDword(argv[3], argv[4], argv[5]);
  if (verb == "read-value" && argc == 5) return ReadValue(argv[3], argv[4]);
  return 2;
}
