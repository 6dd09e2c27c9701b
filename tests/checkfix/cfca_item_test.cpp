// The bank's certificates in the current user's stores: CryptoAPI's under
// Wine, the machine's stand-in on posix. The class works on certificates
// made by the test with the nine names, never on anything trusted outside
// the test's stores.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>

#include "checkfix/certificates.h"
#include "checkfix/cfca_item.h"
#include "platform/cert_blob.h"
#include "platform/cert_store.h"
#include "platform/text.h"
#include "support/test_certificates.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::CertificateStore;
using Platform::CertStoreAccess;
using Platform::CertStoreLocation;
using Platform::EncodedCertificate;

std::vector<EncodedCertificate> OursIn(const char16_t* store) {
  CertificateStore opened;
  std::vector<EncodedCertificate> found;
  if (CertificateStore::Open(CertStoreLocation::CurrentUser, store, CertStoreAccess::Read, opened) == 0)
    opened.FindBySubject(Platform::Utf8ToUtf16(Testing::kTestCertificateUnit), found);
  return found;
}

void RemoveOurs() {
  for (const char16_t* name : {u"ROOT", u"CA"}) {
    CertificateStore store;
    if (CertificateStore::Open(CertStoreLocation::CurrentUser, name, CertStoreAccess::ReadWrite, store)) continue;
    for (const EncodedCertificate& der : OursIn(name)) store.Remove(der);
  }
}

class CfcaItem : public testing::Test {
 protected:
  void SetUp() override {
    RemoveOurs();
    for (const BankCertificate& c : CarriedCertificates()) {
      const std::string name = Platform::Utf16ToUtf8(c.name);
      made_[std::u16string(c.name)] = c.match == NameMatch::CommonName ? Testing::CommonNameCertificate(name)
                                                                       : Testing::OrganizationCertificate(name);
    }
    Platform::SetRootAdditionConfirmation([this](const Platform::RootAdditionRequest& request) {
      asked_.push_back(request.thumbprint);
      if (answers_.empty()) return false;
      const bool answer = answers_.front();
      answers_.pop_front();
      return answer;
    });
  }
  void TearDown() override {
    Platform::SetRootAdditionConfirmation(nullptr);
    RemoveOurs();
  }

  // The program's table, with the test's certificates as the carried copies.
  std::vector<BankCertificate> Table(std::u16string_view notCarried = {}) {
    std::vector<BankCertificate> table = CarriedCertificates();
    for (BankCertificate& c : table) {
      const EncodedCertificate& der = made_.at(std::u16string(c.name));
      const bool carried = c.name != notCarried;
      c.der = carried ? der.data() : nullptr;
      c.derSize = carried ? der.size() : 0;
    }
    return table;
  }

  // Puts the test's copies of all nine but the ones named into their stores.
  void PutAllBut(std::initializer_list<std::u16string_view> missing) {
    for (const BankCertificate& c : CarriedCertificates()) {
      if (std::find(missing.begin(), missing.end(), c.name) != missing.end()) continue;
      Put(made_.at(std::u16string(c.name)), c.store);
    }
    asked_.clear();
  }
  void Put(const EncodedCertificate& der, std::u16string_view store) {
    answers_.push_back(true);
    CertificateStore opened;
    ASSERT_EQ(0u, CertificateStore::Open(CertStoreLocation::CurrentUser, store, CertStoreAccess::ReadWrite, opened));
    ASSERT_EQ(0u, opened.Add(der));
    answers_.clear();
  }
  bool Present(std::u16string_view name, const char16_t* store) {
    const std::vector<EncodedCertificate> ours = OursIn(store);
    return std::find(ours.begin(), ours.end(), made_.at(std::u16string(name))) != ours.end();
  }
  static bool StandInAsks() { return !Testing::RunningUnderWine(); }

  std::map<std::u16string, EncodedCertificate> made_;
  std::deque<bool> answers_;
  std::vector<std::u16string> asked_;
};

TEST_F(CfcaItem, AllPresentPassesAndTheRepairImportsNothing) {
  PutAllBut({});
  CheckFixCFCA cfca(Table());
  EXPECT_EQ(Passed, cfca.CheckAll(nullptr, 0, false));
  const size_t roots = OursIn(u"ROOT").size(), intermediates = OursIn(u"CA").size();
  EXPECT_EQ(Passed, cfca.FixAll(nullptr, 0));
  EXPECT_EQ(roots, OursIn(u"ROOT").size());
  EXPECT_EQ(intermediates, OursIn(u"CA").size());
  EXPECT_TRUE(asked_.empty());
}

TEST_F(CfcaItem, OnlyTheRootMissingIsImportedIntoRootWhenTheUserAgrees) {
  PutAllBut({u"CFCA Root CA"});
  CheckFixCFCA cfca(Table());
  EXPECT_EQ(Failed, cfca.CheckAll(nullptr, 0, false));
  answers_ = {true};
  EXPECT_EQ(Passed, cfca.FixAll(nullptr, 0));
  EXPECT_TRUE(Present(u"CFCA Root CA", u"ROOT"));
  if (StandInAsks()) {
    ASSERT_EQ(1u, asked_.size());
    EXPECT_EQ(Platform::UpperHex(Platform::CertificateThumbprint(made_.at(u"CFCA Root CA"))), asked_[0]);
  }
  EXPECT_EQ(Passed, cfca.CheckAll(nullptr, 0, false));
}

TEST_F(CfcaItem, ARefusedRootEndsTheRepairBeforeAnyIntermediate) {
  if (!StandInAsks()) GTEST_SKIP() << "Wine adds to the root store without asking the user";
  PutAllBut({u"CFCA Root CA", u"CFCA CS CA", u"CFCA Policy CA", u"Symantec Class 3 EV SSL CA - G3"});
  CheckFixCFCA cfca(Table());
  answers_ = {true, false};  // the first root yes, the second no
  EXPECT_EQ(Cancelled, cfca.FixAll(nullptr, 0));
  EXPECT_EQ(2u, asked_.size());
  EXPECT_TRUE(Present(u"CFCA Root CA", u"ROOT"));  // imported before the refusal: it stays
  EXPECT_FALSE(Present(u"CFCA CS CA", u"ROOT"));
  EXPECT_FALSE(Present(u"CFCA Policy CA", u"CA"));
  EXPECT_FALSE(Present(u"Symantec Class 3 EV SSL CA - G3", u"CA"));
  EXPECT_EQ(Failed, cfca.CheckAll(nullptr, 0, false));
}

TEST_F(CfcaItem, AMissingCertificateTheProgramDoesNotCarryFailsTheRepair) {
  PutAllBut({u"CFCA Operation CA1", u"CFCA Operation CA2"});
  CheckFixCFCA cfca(Table(u"CFCA Operation CA2"));
  EXPECT_EQ(Failed, cfca.FixAll(nullptr, 0));
  EXPECT_TRUE(Present(u"CFCA Operation CA1", u"CA"));  // imported before it: it stays
  EXPECT_EQ(Failed, cfca.CheckAll(nullptr, 0, false));

  // A missing root that is not carried fails too, without asking anyone.
  RemoveOurs();
  PutAllBut({u"CFCA CS CA"});
  CheckFixCFCA noRoot(Table(u"CFCA CS CA"));
  EXPECT_EQ(Failed, noRoot.FixAll(nullptr, 0));
  EXPECT_TRUE(asked_.empty());
}

TEST_F(CfcaItem, TheNameMustEqualTheAttributeItIsMatchedOn) {
  const struct {
    const char* what;
    EncodedCertificate der;
    const char16_t* name;
    NameMatch match;
    Platform::HResult expected;
  } cases[] = {
      {"organisation equal", Testing::OrganizationCertificate("CFCA Operation CA1"), u"CFCA Operation CA1",
       NameMatch::Organization, Platform::kSOk},
      {"organisation only contains the name", Testing::OrganizationCertificate("CFCA Operation CA1 Shanghai"),
       u"CFCA Operation CA1", NameMatch::Organization, Platform::kEFail},
      {"organisation in other letter case", Testing::OrganizationCertificate("cfca operation ca1"),
       u"CFCA Operation CA1", NameMatch::Organization, Platform::kEFail},
      {"common name equal", Testing::CommonNameCertificate("CFCA CS OCA11"), u"CFCA CS OCA11", NameMatch::CommonName,
       Platform::kSOk},
      {"the name in the other attribute", Testing::OrganizationCertificate("CFCA CS OCA11"), u"CFCA CS OCA11",
       NameMatch::CommonName, Platform::kEFail},
  };
  for (const auto& c : cases) {
    Put(c.der, u"CA");
    EXPECT_EQ(c.expected, FindCertificate(c.name, u"CA", c.match)) << c.what;
    EXPECT_EQ(Platform::kEFail, FindCertificate(c.name, u"ROOT", c.match)) << c.what << " (other store)";
    RemoveOurs();
  }

  // A longer organisation does not stand in for the real one in the check.
  PutAllBut({u"CFCA Operation CA1"});
  Put(Testing::OrganizationCertificate("CFCA Operation CA1 Shanghai"), u"CA");
  EXPECT_EQ(Failed, CheckFixCFCA(Table()).CheckAll(nullptr, 0, false));
  EXPECT_EQ(Platform::kEFail, FindCertificate(u"", u"CA", NameMatch::Organization));
}

TEST_F(CfcaItem, AGroupWithAnEntryIsNotSupported) {
  PutAllBut({});
  ConfigEntry entry;
  entry.text = "CFCA Root CA";
  CheckFixCFCA cfca(Table());
  EXPECT_EQ(NotSupported, cfca.CheckAll(&entry, 1, false));
  EXPECT_EQ(NotSupported, cfca.FixAll(&entry, 1));
  for (const char* type : {"cfca", "iehomepage", "compatibility"}) EXPECT_NE(nullptr, FindCheckFix(type)) << type;
}

TEST_F(CfcaItem, ImportAnswersFailureForWhatCannotBeAddedAndAbortForARefusal) {
  const EncodedCertificate der = Testing::CommonNameCertificate("Import Probe CA");
  EXPECT_EQ(Platform::kEFail, ImportCertificate({0x30, 0x01, 0x00}, u"CA"));
  EXPECT_EQ(Platform::kEFail, ImportCertificate(der, u""));
  EXPECT_EQ(Platform::kSOk, ImportCertificate(der, u"CA"));
  if (!StandInAsks()) return;
  answers_ = {false};
  EXPECT_EQ(Platform::kEAbort, ImportCertificate(Testing::OrganizationCertificate("CFCA Root CA"), u"ROOT"));
}

// The copies the build carries are the certificates their rows name.
TEST(CarriedCertificates, EachCopyIsTheCertificateItsRowNames) {
  const std::vector<BankCertificate> table = CarriedCertificates();
  ASSERT_EQ(9u, table.size());
  for (const BankCertificate& c : table) {
    if (!c.der) continue;
    const EncodedCertificate der(c.der, c.der + c.derSize);
    const auto attribute = c.match == NameMatch::CommonName ? Platform::NameAttribute::CommonName
                                                            : Platform::NameAttribute::Organization;
    EXPECT_EQ(c.name, Platform::SubjectAttribute(der, attribute)) << Platform::Utf16ToUtf8(c.name);
  }
  // Roots first.
  const auto firstIntermediate =
      std::find_if(table.begin(), table.end(), [](const BankCertificate& c) { return c.store == u"CA"; });
  EXPECT_TRUE(std::all_of(firstIntermediate, table.end(), [](const BankCertificate& c) { return c.store == u"CA"; }));
}

}  // namespace
}  // namespace Zentrovak::Assistant
