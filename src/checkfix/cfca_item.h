// The root and intermediate certificates of the bank's certificate
// authorities in the current user's stores (check type "cfca"). The whole
// work is in BeginCheck and BeginFix; the group has no entries.
#pragma once
#include <vector>

#include "checkfix/certificates.h"
#include "checkfix/check_fix.h"

namespace Zentrovak::Assistant {

class CheckFixCFCA : public ICheckFix {
 public:
  // The program's own carried copies.
  CheckFixCFCA();
  // Another set of copies, roots first.
  explicit CheckFixCFCA(std::vector<BankCertificate> certificates);

  // Passed when all are present; Failed at the first one missing.
  int32_t BeginCheck() override;
  int32_t CheckEntry(ConfigEntry& entry) override;
  // Imports the missing roots, then the missing intermediates. Cancelled
  // when the user refused a root, Failed when another import failed (or a
  // missing one is not carried); what was imported before stays.
  int32_t BeginFix() override;
  int32_t FixEntry(ConfigEntry& entry) override;

 private:
  std::vector<BankCertificate> certificates_;
};

}  // namespace Zentrovak::Assistant
