// The home-page lock against the real registry (under Wine) and the posix
// machine's store.
#include <gtest/gtest.h>

#include "checkfix/home_page_item.h"
#include "platform/registry.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::RegistryKey;

constexpr char16_t kPolicy[] = u"Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";

class HomePageItem : public testing::Test {
 protected:
  void SetUp() override { RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, kPolicy, Platform::RegView::Default); }
  void TearDown() override { SetUp(); }
  static bool ValueExists() {
    RegistryKey key;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    return RegistryKey::Open(Platform::kHkeyCurrentUser, kPolicy, Platform::RegAccess::Read,
                             Platform::RegView::Default, key) == 0 &&
           key.ReadRaw(u"Homepage", type, data, 1 << 20) == 0;
  }
};

TEST_F(HomePageItem, ANonZeroDwordLocksAndTheRepairDeletesIt) {
  const struct {
    const char* what;
    bool create;
    uint32_t type;
    std::vector<uint8_t> data;
    int32_t check;
    bool valueAfterFix;
  } cases[] = {
      {"no policy key", false, 0, {}, Passed, false},
      {"no value", true, 0, {}, Passed, false},
      {"1", true, Platform::RegType::kDword, {1, 0, 0, 0}, Failed, false},
      {"any other non-zero number", true, Platform::RegType::kDword, {0, 0, 0, 0x80}, Failed, false},
      {"0", true, Platform::RegType::kDword, {0, 0, 0, 0}, Passed, true},
      {"text 1", true, Platform::RegType::kSz, {'1', 0, 0, 0}, Passed, true},
      {"a large binary", true, Platform::RegType::kBinary, std::vector<uint8_t>(100000, 1), Passed, true},
  };
  for (const auto& c : cases) {
    SetUp();
    if (c.create) {
      RegistryKey key;
      ASSERT_EQ(0u, RegistryKey::Create(Platform::kHkeyCurrentUser, kPolicy, Platform::RegAccess::ReadWrite,
                                        Platform::RegView::Default, key));
      // The value name is matched without regard to letter case.
      if (c.type)
        ASSERT_EQ(0u, key.SetValue(u"HomePage", c.type, c.data.data(), static_cast<uint32_t>(c.data.size())));
    }
    CheckFixIEHomepage item;
    EXPECT_EQ(c.check, item.CheckAll(nullptr, 0, false)) << c.what;
    EXPECT_EQ(Passed, item.FixAll(nullptr, 0)) << c.what;
    EXPECT_EQ(c.valueAfterFix, ValueExists()) << c.what;
    EXPECT_EQ(Passed, item.CheckAll(nullptr, 0, false)) << c.what;
  }
  ConfigEntry entry;
  EXPECT_EQ(NotSupported, CheckFixIEHomepage().CheckAll(&entry, 1, false));
}

}  // namespace
}  // namespace Zentrovak::Assistant
