// The posix stand-in's own duties: it asks before a certificate joins the
// user's trusted roots, as Windows does, and passes over whatever in its
// registry is not a certificate.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/cert_blob.h"
#include "platform/cert_store.h"
#include "platform/registry.h"
#include "support/test_certificates.h"

namespace Zentrovak::Platform {
namespace {

constexpr char16_t kUserRoot[] = u"Software\\Microsoft\\SystemCertificates\\ROOT";
constexpr char16_t kUserCertificates[] = u"Software\\Microsoft\\SystemCertificates\\CA\\Certificates";

class StandInStore : public testing::Test {
 protected:
  void TearDown() override {
    SetRootAdditionConfirmation(nullptr);
    RegistryKey::DeleteTree(kHkeyCurrentUser, u"Software\\Microsoft\\SystemCertificates", RegView::Default);
    RegistryKey::DeleteTree(kHkeyLocalMachine, u"Software\\Microsoft\\SystemCertificates", RegView::Default);
  }
  static bool InStore(CertStoreLocation location, const char16_t* name, const EncodedCertificate& der) {
    CertificateStore store;
    std::vector<EncodedCertificate> all;
    if (CertificateStore::Open(location, name, CertStoreAccess::Read, store) || store.List(all)) return false;
    return std::find(all.begin(), all.end(), der) != all.end();
  }
};

TEST_F(StandInStore, TheUsersRootStoreAsksFirst) {
  const EncodedCertificate der = Testing::OrganizationCertificate("CFCA Root CA");
  CertificateStore root;
  ASSERT_EQ(kErrorSuccess, CertificateStore::Open(CertStoreLocation::CurrentUser, u"ROOT",
                                                  CertStoreAccess::ReadWrite, root));

  // Nobody to ask: refused.
  EXPECT_EQ(kErrorCancelled, root.Add(der));
  EXPECT_FALSE(InStore(CertStoreLocation::CurrentUser, u"ROOT", der));

  std::vector<RootAdditionRequest> asked;
  bool accept = false;
  SetRootAdditionConfirmation([&](const RootAdditionRequest& request) {
    asked.push_back(request);
    return accept;
  });
  EXPECT_EQ(kErrorCancelled, root.Add(der));
  EXPECT_FALSE(InStore(CertStoreLocation::CurrentUser, u"ROOT", der));
  RegistryKey nothing;
  EXPECT_NE(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, kUserRoot, RegAccess::Read, RegView::Default, nothing));

  accept = true;
  EXPECT_EQ(kErrorSuccess, root.Add(der));
  EXPECT_TRUE(InStore(CertStoreLocation::CurrentUser, u"ROOT", der));
  ASSERT_EQ(2u, asked.size());
  // No common name: the warning names the unit, as Windows' would.
  EXPECT_EQ(u"Zentrovak test certificate", asked[1].subject);
  EXPECT_EQ(UpperHex(CertificateThumbprint(der)), asked[1].thumbprint);

  // The same certificate again trusts nothing new; the machine's root store
  // and the user's other stores never ask.
  EXPECT_EQ(kErrorSuccess, root.Add(der));
  CertificateStore machineRoot, userCa;
  ASSERT_EQ(kErrorSuccess, CertificateStore::Open(CertStoreLocation::LocalMachine, u"ROOT",
                                                  CertStoreAccess::ReadWrite, machineRoot));
  ASSERT_EQ(kErrorSuccess,
            CertificateStore::Open(CertStoreLocation::CurrentUser, u"ca", CertStoreAccess::ReadWrite, userCa));
  EXPECT_EQ(kErrorSuccess, machineRoot.Add(Testing::OrganizationCertificate("Machine Root")));
  EXPECT_EQ(kErrorSuccess, userCa.Add(Testing::OrganizationCertificate("Intermediate")));
  EXPECT_EQ(2u, asked.size());
}

TEST_F(StandInStore, EntriesThatHoldNoCertificateArePassedOver) {
  const EncodedCertificate good = Testing::CommonNameCertificate("Good Entry CA");
  CertificateStore store;
  ASSERT_EQ(kErrorSuccess,
            CertificateStore::Open(CertStoreLocation::CurrentUser, u"CA", CertStoreAccess::ReadWrite, store));
  ASSERT_EQ(kErrorSuccess, store.Add(good));

  const std::vector<uint8_t> hash(20, 0x11);
  std::vector<uint8_t> truncated = BlobForCertificate(good, hash);
  truncated.resize(truncated.size() - 1);
  std::vector<uint8_t> garbage = BlobForCertificate({0x30, 0x03, 0x01, 0x01, 0xFF}, hash);
  const struct {
    const char16_t* name;
    uint32_t type;
    std::vector<uint8_t> data;
  } damaged[] = {
      {u"TRUNCATED", RegType::kBinary, truncated},
      {u"NOT-DER", RegType::kBinary, garbage},
      {u"HASH-ONLY", RegType::kBinary, std::vector<uint8_t>(hash)},
      {u"A-TEXT", RegType::kSz, {'h', 0, 'i', 0, 0, 0}},
      {u"EMPTY", RegType::kBinary, {}},
  };
  for (const auto& d : damaged) {
    RegistryKey key;
    ASSERT_EQ(kErrorSuccess, RegistryKey::Create(kHkeyCurrentUser, std::u16string(kUserCertificates) + u"\\" + d.name,
                                                 RegAccess::ReadWrite, RegView::Default, key));
    ASSERT_EQ(kErrorSuccess, key.SetValue(u"Blob", d.type, d.data.data(), static_cast<uint32_t>(d.data.size())));
  }
  // A key without a blob at all.
  RegistryKey bare;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Create(kHkeyCurrentUser, std::u16string(kUserCertificates) + u"\\BARE",
                                               RegAccess::ReadWrite, RegView::Default, bare));

  std::vector<EncodedCertificate> all;
  ASSERT_EQ(kErrorSuccess, store.List(all));
  EXPECT_EQ(std::vector<EncodedCertificate>{good}, all);
  std::vector<EncodedCertificate> found;
  ASSERT_EQ(kErrorSuccess, store.FindBySubject(u"good entry", found));
  EXPECT_EQ(std::vector<EncodedCertificate>{good}, found);
}

}  // namespace
}  // namespace Zentrovak::Platform
