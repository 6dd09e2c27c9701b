// The compatibility-view list: its byte layout, the walk over stored lists
// that may lie about themselves, and the class against the real registry
// (under Wine) and the posix machine's store.
#include <gtest/gtest.h>

#include <string>

#include "checkfix/compatibility_item.h"
#include "checkfix/compatibility_list.h"
#include "platform/registry.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

using Bytes = std::vector<uint8_t>;
using Platform::RegistryKey;

constexpr char16_t kEmulation[] = u"Software\\Microsoft\\Internet Explorer\\BrowserEmulation";
constexpr char16_t kListKey[] = u"Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData";

void Le32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A list as the browser writes it, built here field by field.
Bytes ListOf(std::initializer_list<std::u16string> names) {
  Bytes entries;
  for (const std::u16string& name : names) {
    Le32(entries, 0x0C);
    Le32(entries, 0);
    Le32(entries, 0x01CE1A48);
    Le32(entries, 1);
    entries.push_back(static_cast<uint8_t>(name.size()));
    entries.push_back(static_cast<uint8_t>(name.size() >> 8));
    for (char16_t c : name) {
      entries.push_back(static_cast<uint8_t>(c));
      entries.push_back(static_cast<uint8_t>(c >> 8));
    }
  }
  Bytes list;
  for (uint32_t field : {0x1F41u, 0xBAAD0853u, static_cast<uint32_t>(names.size()),
                         static_cast<uint32_t>(12 + entries.size()), 1u, static_cast<uint32_t>(names.size())})
    Le32(list, field);
  list.insert(list.end(), entries.begin(), entries.end());
  return list;
}

TEST(CompatibilityList, ANineCharacterDomainMakesTheSixtyBytesOfANewList) {
  const Bytes expected = {
      0x41, 0x1F, 0, 0, 0x53, 0x08, 0xAD, 0xBA, 1, 0, 0, 0, 48, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0,  // header
      0x0C, 0, 0, 0, 0, 0, 0, 0, 0x48, 0x1A, 0xCE, 0x01, 1, 0, 0, 0, 9, 0,                         // entry
      'b', 0, 'a', 0, 'n', 0, 'k', 0, '.', 0, 't', 0, 'e', 0, 's', 0, 't', 0};
  EXPECT_EQ(expected, CompatibilityListWith({}, u"bank.test"));
  EXPECT_EQ(expected, ListOf({u"bank.test"}));
  // Anything shorter than a header starts a new list.
  EXPECT_EQ(expected, CompatibilityListWith(Bytes(23, 0xEE), u"bank.test"));
  // Appending raises both counts and the size by one entry.
  EXPECT_EQ(ListOf({u"bank.test", u"pay.example.cn"}), CompatibilityListWith(expected, u"pay.example.cn"));
}

TEST(CompatibilityList, AStoredNameCoversEveryDomainItBegins) {
  const struct {
    std::initializer_list<std::u16string> stored;
    const char16_t* domain;
    bool listed;
  } cases[] = {
      {{u"bank"}, u"bank.example.cn", true},
      {{u"BANK.Example.cn"}, u"bank.example.CN", true},
      {{u"other.cn", u"bank.example.cn"}, u"bank.example.cn", true},
      {{u"bank.example.cn"}, u"bank", false},
      {{u"other.cn"}, u"bank.example.cn", false},
      {{u""}, u"bank.example.cn", false},  // a name of no characters covers nothing
      {{}, u"bank.example.cn", false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Bytes list = ListOf(cases[i].stored);
    EXPECT_EQ(cases[i].listed, CompatibilityListNames(list.data(), list.size(), cases[i].domain)) << "case " << i;
  }
}

// Each list lies within a larger buffer whose bytes past the list's end
// would complete a match: a walk that reads past the end says "listed".
TEST(CompatibilityList, LyingHeadersNeverReadPastTheData) {
  const std::u16string domain = u"bank.example.cn";
  const Bytes whole = ListOf({domain});
  for (size_t cut = 0; cut < whole.size(); ++cut)
    EXPECT_FALSE(CompatibilityListNames(whole.data(), cut, domain)) << "cut at " << cut;

  // The header counts many entries; one other entry is there, the matching
  // one lies past the end.
  Bytes many = ListOf({u"other.cn", domain});
  const size_t end = ListOf({u"other.cn"}).size();
  many[8] = 0xE8, many[9] = 0x03;  // 1000 entries
  EXPECT_FALSE(CompatibilityListNames(many.data(), end, domain));
  EXPECT_TRUE(CompatibilityListNames(many.data(), many.size(), domain));

  // An entry whose name length runs far past the data.
  Bytes longName = whole;
  longName[24 + 16] = 0xFF, longName[24 + 17] = 0xFF;
  EXPECT_FALSE(CompatibilityListNames(longName.data(), longName.size(), domain));
  // A count of 2^32 - 1 over an empty list.
  Bytes huge = ListOf({});
  huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;
  EXPECT_FALSE(CompatibilityListNames(huge.data(), huge.size(), domain));
}

class CompatibilityItem : public testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (Platform::RegRoot root : {Platform::kHkeyCurrentUser, Platform::kHkeyLocalMachine}) {
      RegistryKey key;
      if (RegistryKey::Open(root, kListKey, Platform::RegAccess::ReadWrite, Platform::RegView::Default, key) == 0)
        key.DeleteValue(u"UserFilter");
      if (RegistryKey::Open(root, kEmulation, Platform::RegAccess::ReadWrite, Platform::RegView::Default, key) == 0)
        key.DeleteValue(u"AllSitesCompatibilityMode");
    }
  }
  static RegistryKey Key(Platform::RegRoot root, const char16_t* path) {
    RegistryKey key;
    EXPECT_EQ(0u, RegistryKey::Create(root, path, Platform::RegAccess::ReadWrite, Platform::RegView::Default, key));
    return key;
  }
  static void SetList(Platform::RegRoot root, uint32_t type, const Bytes& data) {
    ASSERT_EQ(0u, Key(root, kListKey).SetValue(u"UserFilter", type, data.data(), static_cast<uint32_t>(data.size())));
  }
  // The user's list, or "absent".
  static std::string UserList(Bytes* data = nullptr, uint32_t* type = nullptr) {
    RegistryKey key;
    Bytes bytes;
    uint32_t stored = 0;
    if (RegistryKey::Open(Platform::kHkeyCurrentUser, kListKey, Platform::RegAccess::Read, Platform::RegView::Default,
                          key) ||
        key.ReadRaw(u"UserFilter", stored, bytes, 1 << 20))
      return "absent";
    if (data) *data = bytes;
    if (type) *type = stored;
    return "present";
  }
  static std::vector<ConfigEntry> Entries(std::initializer_list<std::string> domains) {
    std::vector<ConfigEntry> entries;
    for (const std::string& d : domains) {
      entries.emplace_back();
      entries.back().text = d;
    }
    return entries;
  }
  CheckFixCompatibilityView item_;
};

TEST_F(CompatibilityItem, CheckThenRepairThenCheck) {
  auto entries = Entries({"bank.test", "pay.example.cn"});
  EXPECT_EQ(Failed, item_.CheckAll(entries.data(), entries.size(), true));
  EXPECT_EQ(Passed, item_.FixAll(entries.data(), entries.size()));
  Bytes stored;
  uint32_t type = 0;
  ASSERT_EQ("present", UserList(&stored, &type));
  EXPECT_EQ(Platform::RegType::kBinary, type);
  EXPECT_EQ(ListOf({u"bank.test", u"pay.example.cn"}), stored);
  EXPECT_EQ(Passed, item_.CheckAll(entries.data(), entries.size(), true));

  // A domain that a stored name begins is listed already: nothing is added.
  auto longer = Entries({"BANK.test.example"});
  EXPECT_EQ(Passed, item_.CheckAll(longer.data(), longer.size(), true));
  longer[0].state = Unchecked;
  EXPECT_EQ(Passed, item_.FixAll(longer.data(), longer.size()));
  Bytes after;
  UserList(&after);
  EXPECT_EQ(stored, after);
}

TEST_F(CompatibilityItem, AUserValueThatIsNoListIsReplacedByANewOne) {
  const struct {
    const char* what;
    uint32_t type;
    Bytes data;
  } cases[] = {
      {"text", Platform::RegType::kSz, {'x', 0, 0, 0}},
      {"number", Platform::RegType::kDword, {1, 0, 0, 0}},
      {"shorter than a header", Platform::RegType::kBinary, Bytes(10, 0x41)},
  };
  for (const auto& c : cases) {
    SetList(Platform::kHkeyCurrentUser, c.type, c.data);
    EXPECT_TRUE(AddToCompatibilityList(u"bank.test")) << c.what;
    Bytes stored;
    uint32_t type = 0;
    UserList(&stored, &type);
    EXPECT_EQ(Platform::RegType::kBinary, type) << c.what;
    EXPECT_EQ(ListOf({u"bank.test"}), stored) << c.what;
  }
}

TEST_F(CompatibilityItem, WithAllSitesInCompatibilityViewEveryEntryPassesAndNothingIsWritten) {
  for (Platform::RegRoot root : {Platform::kHkeyCurrentUser, Platform::kHkeyLocalMachine}) {
    ASSERT_EQ(0u, Key(root, kEmulation).WriteDword(u"AllSitesCompatibilityMode", 1));
    auto entries = Entries({"bank.test"});
    EXPECT_EQ(Passed, item_.CheckAll(entries.data(), entries.size(), true));
    entries[0].state = Unchecked;
    EXPECT_EQ(Passed, item_.FixAll(entries.data(), entries.size()));
    EXPECT_EQ("absent", UserList());
    Clear();
  }
  // Switched off, or not 4 bytes: the list decides.
  ASSERT_EQ(0u, Key(Platform::kHkeyCurrentUser, kEmulation).WriteDword(u"AllSitesCompatibilityMode", 0));
  auto entries = Entries({"bank.test"});
  EXPECT_EQ(Failed, item_.CheckAll(entries.data(), entries.size(), true));
  ASSERT_EQ(0u, Key(Platform::kHkeyCurrentUser, kEmulation).WriteBinary(u"AllSitesCompatibilityMode", {1, 0}));
  EXPECT_EQ(Failed, item_.CheckAll(entries.data(), entries.size(), true));
}

TEST_F(CompatibilityItem, TheMachinesListCountsWhenTheUserHasNone) {
  SetList(Platform::kHkeyLocalMachine, Platform::RegType::kBinary, ListOf({u"bank.test"}));
  auto entries = Entries({"bank.test"});
  EXPECT_EQ(Passed, item_.CheckAll(entries.data(), entries.size(), true));
  EXPECT_EQ("absent", UserList());
}

TEST_F(CompatibilityItem, BadEntriesAndOversizedListsGiveResultCodesAndLeaveTheListAlone) {
  auto empty = Entries({""});
  EXPECT_EQ(NotSupported, item_.CheckAll(empty.data(), empty.size(), true));
  EXPECT_EQ(NotSupported, item_.FixAll(empty.data(), empty.size()));
  EXPECT_EQ("absent", UserList());

  // A domain longer than an entry can hold.
  auto absurd = Entries({std::string(70000, 'a')});
  EXPECT_EQ(Failed, item_.FixAll(absurd.data(), absurd.size()));
  EXPECT_EQ("absent", UserList());

  // A list too long to read whole is the user's: it is never started anew.
  const Bytes oversized = ListOf({std::u16string(40000, u'z')});
  ASSERT_GT(oversized.size(), kMaxCompatibilityListBytes);
  // A list one entry short of the limit takes no entry that would pass it.
  const Bytes nearlyFull = ListOf({std::u16string((kMaxCompatibilityListBytes - 20 - 24 - 18) / 2, u'y')});
  ASSERT_LE(nearlyFull.size(), kMaxCompatibilityListBytes);
  for (const Bytes& list : {oversized, nearlyFull}) {
    SetList(Platform::kHkeyCurrentUser, Platform::RegType::kBinary, list);
    auto entries = Entries({"bank.test"});
    EXPECT_EQ(Failed, item_.CheckAll(entries.data(), entries.size(), true));
    EXPECT_EQ(Failed, item_.FixAll(entries.data(), entries.size()));
    Bytes stored;
    UserList(&stored);
    EXPECT_EQ(list, stored);
  }
}

}  // namespace
}  // namespace Zentrovak::Assistant
