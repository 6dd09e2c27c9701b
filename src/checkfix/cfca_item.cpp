#include "checkfix/cfca_item.h"

#include <string_view>

namespace Zentrovak::Assistant {

namespace {

// The order of the check. The repair's order (roots first) is the
// table's own.
constexpr std::u16string_view kCheckOrder[] = {
    u"CFCA Root CA",
    u"CFCA Policy CA",
    u"CFCA Operation CA",
    u"CFCA Operation CA1",
    u"CFCA Operation CA2",
    u"CFCA CS OCA11",
    u"CFCA CS CA",
    u"VeriSign Class 3 Public Primary Certification Authority - G5",
    u"Symantec Class 3 EV SSL CA - G3",
};

bool IsPresent(const BankCertificate& certificate) {
  return FindCertificate(certificate.name, certificate.store, certificate.match) == Platform::kSOk;
}

bool IsRoot(const BankCertificate& certificate) { return certificate.store == u"ROOT"; }

// Failed also for a certificate the program does not carry.
int32_t ImportCarriedCopy(const BankCertificate& certificate) {
  if (!certificate.der || certificate.derSize == 0) return Failed;
  const std::vector<uint8_t> der(certificate.der, certificate.der + certificate.derSize);
  const Platform::HResult result = ImportCertificate(der, certificate.store);
  if (result == Platform::kSOk) return Passed;
  return result == Platform::kEAbort ? Cancelled : Failed;
}

}  // namespace

CheckFixCFCA::CheckFixCFCA() : certificates_(CarriedCertificates()) {}

CheckFixCFCA::CheckFixCFCA(std::vector<BankCertificate> certificates) : certificates_(std::move(certificates)) {}

int32_t CheckFixCFCA::BeginCheck() {
  for (std::u16string_view name : kCheckOrder) {
    for (const BankCertificate& certificate : certificates_)
      if (certificate.name == name && !IsPresent(certificate)) return Failed;
  }
  return Passed;
}

int32_t CheckFixCFCA::BeginFix() {
  for (const bool roots : {true, false}) {
    for (const BankCertificate& certificate : certificates_) {
      if (IsRoot(certificate) != roots || IsPresent(certificate)) continue;
      const int32_t imported = ImportCarriedCopy(certificate);
      // Only a root's import asks the user; an intermediate's failure is
      // always a failure.
      if (imported != Passed) return roots ? imported : Failed;
    }
  }
  return Passed;
}

int32_t CheckFixCFCA::CheckEntry(ConfigEntry&) { return NotSupported; }

int32_t CheckFixCFCA::FixEntry(ConfigEntry&) { return NotSupported; }

}  // namespace Zentrovak::Assistant
