// The certificate stores, run against CryptoAPI's system stores (under
// Wine) and the posix machine's stand-in alike: both must answer the same,
// and keep a certificate where Windows keeps it.
#include <gtest/gtest.h>

#include <algorithm>

#include "checkfix/file_check.h"
#include "platform/cert_blob.h"
#include "platform/cert_store.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_certificates.h"
#include "support/test_support.h"

namespace Zentrovak::Platform {
namespace {

using Testing::CommonNameCertificate;
using Testing::NameKind;

// Names of this run only, so that a run never meets another's leftovers.
std::u16string Tagged(const char* text) { return Utf8ToUtf16(text) + Testing::TestRunTag(); }

Win32Error OpenStore(CertStoreLocation location, const char16_t* name, CertificateStore& store,
                     CertStoreAccess access = CertStoreAccess::ReadWrite) {
  return CertificateStore::Open(location, name, access, store);
}

bool Holds(const std::vector<EncodedCertificate>& list, const EncodedCertificate& der) {
  return std::find(list.begin(), list.end(), der) != list.end();
}

// Removes every certificate a test made from the stores it may have used.
class CertStoreConformance : public testing::Test {
 protected:
  void TearDown() override {
    for (CertStoreLocation location : {CertStoreLocation::CurrentUser, CertStoreLocation::LocalMachine}) {
      for (const char16_t* name : {u"CA", u"ROOT", u"MY"}) {
        CertificateStore store;
        if (OpenStore(location, name, store)) continue;
        std::vector<EncodedCertificate> ours;
        store.FindBySubject(Utf8ToUtf16(Testing::kTestCertificateUnit), ours);
        for (const EncodedCertificate& der : ours) store.Remove(der);
      }
    }
  }
};

TEST_F(CertStoreConformance, AddFindListAndRemove) {
  const std::u16string name = Tagged("Probe Second CA ");
  const EncodedCertificate der = CommonNameCertificate(Utf16ToUtf8(name));
  CertificateStore store;
  ASSERT_EQ(kErrorSuccess, OpenStore(CertStoreLocation::CurrentUser, u"CA", store));
  ASSERT_EQ(kErrorSuccess, store.Add(der));

  // The subject search is a substring search that ignores letter case, over
  // the whole subject.
  for (const std::u16string& text : {name, AsciiLower(name), std::u16string(u"probe second"), name.substr(3)}) {
    std::vector<EncodedCertificate> found;
    ASSERT_EQ(kErrorSuccess, store.FindBySubject(text, found));
    EXPECT_TRUE(Holds(found, der)) << Utf16ToUtf8(text);
  }
  std::vector<EncodedCertificate> none;
  ASSERT_EQ(kErrorSuccess, store.FindBySubject(name + u" and more", none));
  EXPECT_FALSE(Holds(none, der));

  // A store opened afresh, read-only, sees it too.
  CertificateStore again;
  ASSERT_EQ(kErrorSuccess, OpenStore(CertStoreLocation::CurrentUser, u"CA", again, CertStoreAccess::Read));
  std::vector<EncodedCertificate> all;
  ASSERT_EQ(kErrorSuccess, again.List(all));
  EXPECT_EQ(1, std::count(all.begin(), all.end(), der));

  // Adding it again replaces the copy: still one.
  ASSERT_EQ(kErrorSuccess, store.Add(der));
  all.clear();
  ASSERT_EQ(kErrorSuccess, store.List(all));
  EXPECT_EQ(1, std::count(all.begin(), all.end(), der));

  ASSERT_EQ(kErrorSuccess, store.Remove(der));
  all.clear();
  ASSERT_EQ(kErrorSuccess, store.List(all));
  EXPECT_FALSE(Holds(all, der));
  EXPECT_EQ(kCryptErrorNotFound, store.Remove(der));
}

TEST_F(CertStoreConformance, SubjectAttributesAndThumbprint) {
  const EncodedCertificate der = Testing::MakeTestCertificate(
      {{NameKind::Country, "CN"}, {NameKind::Organization, "澜屿银行 CA"}, {NameKind::CommonName, "Probe 根 CA"}});
  EXPECT_EQ(u"Probe 根 CA", SubjectAttribute(der, NameAttribute::CommonName));
  EXPECT_EQ(u"澜屿银行 CA", SubjectAttribute(der, NameAttribute::Organization));
  const EncodedCertificate withoutName = Testing::OrganizationCertificate("Only An Organisation");
  EXPECT_EQ(u"", SubjectAttribute(withoutName, NameAttribute::CommonName));

  // The thumbprint is the SHA-1 of the DER bytes.
  auto sha1 = Assistant::Digester::Create(Assistant::DigestSha1);
  ASSERT_TRUE(sha1);
  std::string digest;
  ASSERT_TRUE(sha1->Update(der.data(), der.size()) && sha1->Finish(digest));
  EXPECT_EQ(std::vector<uint8_t>(digest.begin(), digest.end()), CertificateThumbprint(der));

  for (const EncodedCertificate& junk : {EncodedCertificate{}, EncodedCertificate{0x30, 0x03, 0x02, 0x01}}) {
    EXPECT_EQ(u"", SubjectAttribute(junk, NameAttribute::Organization));
    EXPECT_TRUE(CertificateThumbprint(junk).empty());
  }
}

// Other parts of the program (and the posix stand-in) read a store from the
// registry: the certificate lies under its thumbprint, in a blob whose
// property 32 is the DER.
TEST_F(CertStoreConformance, KeptWhereWindowsKeepsIt) {
  const EncodedCertificate der = CommonNameCertificate(Utf16ToUtf8(Tagged("Layout Probe ")));
  CertificateStore store;
  ASSERT_EQ(kErrorSuccess, OpenStore(CertStoreLocation::CurrentUser, u"CA", store));
  ASSERT_EQ(kErrorSuccess, store.Add(der));

  RegistryKey key;
  ASSERT_EQ(kErrorSuccess,
            RegistryKey::Open(kHkeyCurrentUser,
                              u"Software\\Microsoft\\SystemCertificates\\CA\\Certificates\\" +
                                  UpperHex(CertificateThumbprint(der)),
                              RegAccess::Read, RegView::Default, key));
  std::vector<uint8_t> blob;
  ASSERT_EQ(kErrorSuccess, key.ReadBinary(u"Blob", blob));
  EXPECT_EQ(der, CertificateFromBlob(blob));
}

TEST_F(CertStoreConformance, TheUsersStoreShowsTheMachinesOfTheSameName) {
  const EncodedCertificate der = CommonNameCertificate(Utf16ToUtf8(Tagged("Machine Probe ")));
  CertificateStore machine;
  ASSERT_EQ(kErrorSuccess, OpenStore(CertStoreLocation::LocalMachine, u"CA", machine));
  ASSERT_EQ(kErrorSuccess, machine.Add(der));

  CertificateStore user;
  ASSERT_EQ(kErrorSuccess, OpenStore(CertStoreLocation::CurrentUser, u"CA", user, CertStoreAccess::Read));
  std::vector<EncodedCertificate> found;
  ASSERT_EQ(kErrorSuccess, user.FindBySubject(u"Machine Probe", found));
  EXPECT_TRUE(Holds(found, der));
  EXPECT_EQ(kErrorSuccess, machine.Remove(der));
}

TEST_F(CertStoreConformance, WhatCannotBeStoredIsRefused) {
  CertificateStore store;
  ASSERT_EQ(kErrorSuccess, OpenStore(CertStoreLocation::CurrentUser, u"CA", store));
  for (const EncodedCertificate& junk : {EncodedCertificate{}, EncodedCertificate{0x01, 0x02, 0x03}}) {
    EXPECT_NE(kErrorSuccess, store.Add(junk));
    EXPECT_NE(kErrorSuccess, store.Remove(junk));
  }

  // A store opened to read takes nothing.
  const EncodedCertificate der = CommonNameCertificate(Utf16ToUtf8(Tagged("Read Only Probe ")));
  CertificateStore readOnly;
  ASSERT_EQ(kErrorSuccess, OpenStore(CertStoreLocation::CurrentUser, u"CA", readOnly, CertStoreAccess::Read));
  EXPECT_NE(kErrorSuccess, readOnly.Add(der));
  std::vector<EncodedCertificate> all;
  ASSERT_EQ(kErrorSuccess, store.List(all));
  EXPECT_FALSE(Holds(all, der));

  CertificateStore unnamed;
  EXPECT_EQ(kErrorInvalidParameter, OpenStore(CertStoreLocation::CurrentUser, u"", unnamed));
  EXPECT_FALSE(unnamed.IsOpen());
}

TEST(CertificateBlob, TheCertificateIsFoundAmongOtherPropertiesAndNeverPastTheEnd) {
  const std::vector<uint8_t> der = {0x30, 0x02, 0x05, 0x00};
  const std::vector<uint8_t> hash(20, 0xAB);
  const std::vector<uint8_t> written = BlobForCertificate(der, hash);
  // {3, 1, 20, hash} then {32, 1, 4, der}.
  ASSERT_EQ(12u + 20 + 12 + 4, written.size());
  EXPECT_EQ(std::vector<uint8_t>({3, 0, 0, 0, 1, 0, 0, 0, 20, 0, 0, 0}),
            std::vector<uint8_t>(written.begin(), written.begin() + 12));
  EXPECT_EQ(std::vector<uint8_t>({32, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0}),
            std::vector<uint8_t>(written.begin() + 32, written.begin() + 44));

  const auto property = [](uint8_t id, uint32_t length, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> p = {id, 0, 0, 0, 1, 0, 0, 0, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                              static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
    p.insert(p.end(), bytes.begin(), bytes.end());
    return p;
  };
  const auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const struct {
    const char* what;
    std::vector<uint8_t> blob;
    std::vector<uint8_t> expected;
  } cases[] = {
      {"as written", written, der},
      {"certificate first", join(property(32, 4, der), property(3, 20, hash)), der},
      {"empty", {}, {}},
      {"shorter than a property header", {32, 0, 0, 0, 1, 0, 0}, {}},
      {"no certificate property", property(3, 20, hash), {}},
      {"length past the end", property(32, 5, der), {}},
      {"length near 4 GiB", join(property(3, 0xFFFFFFF0u, {}), property(32, 4, der)), {}},
      {"a lying property before it", join(property(4, 100, hash), property(32, 4, der)), {}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, CertificateFromBlob(c.blob)) << c.what;
}

}  // namespace
}  // namespace Zentrovak::Platform
