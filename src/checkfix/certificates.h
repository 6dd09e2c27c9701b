// The bank's certificate authorities in the current user's certificate
// stores: finding one by its subject name, importing a carried copy.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace Zentrovak::Assistant {

// Which subject attribute must equal the name searched for.
enum class NameMatch : int32_t { CommonName = 1, Organization = 2 };

// 0 when the current user's store holds a certificate whose subject
// contains `name` and whose common name (or organisation) is exactly
// `name`; E_FAIL when none does or the store cannot be opened.
Platform::HResult FindCertificate(std::u16string_view name, std::u16string_view store, NameMatch match);

// 0 when the DER certificate was added to the current user's store (an
// existing copy is replaced); E_ABORT when the user refused the system's
// confirmation; E_FAIL otherwise.
Platform::HResult ImportCertificate(const std::vector<uint8_t>& der, std::u16string_view store);

// A certificate the bank's pages need, and the copy of it the program
// carries.
struct BankCertificate {
  std::u16string_view name;
  std::u16string_view store;  // "ROOT" or "CA"
  NameMatch match;
  const uint8_t* der;  // null when the program does not carry it
  size_t derSize;
};

// The nine, roots first, in the order the repair imports them. The copies
// are the ones the build found and verified by their length and SHA-1.
std::vector<BankCertificate> CarriedCertificates();

}  // namespace Zentrovak::Assistant
