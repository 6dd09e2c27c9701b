// The check-and-fix entry point: groups by name, the built-in checks, and
// component items by page number.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/assistant_app.h"
#include "checkfix/check_fix.h"
#include "checkfix/check_or_fix.h"
#include "checkfix/engine_hooks.h"
#include "checkfix/compatibility_item.h"
#include "checkfix/hosts_item.h"
#include "checkfix/registry_item.h"
#include "checkfix/service_item.h"
#include "checkfix/trust_item.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "scripted_check_fix.h"
#include "support/recording_dialog.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::RegAccess;
using Platform::RegistryKey;
using Platform::RegView;
using Testing::ScriptedCheckFix;
using UI::Variant;

Variant Check(const std::u16string& name) { return CheckOrFix(Variant::String(name), CheckMode::Check); }
Variant Fix(const std::u16string& name) { return CheckOrFix(Variant::String(name), CheckMode::Fix); }

ConfigEntry EntryOf(const std::string& text, AttributeMap attributes = {}) {
  ConfigEntry entry;
  entry.text = text;
  entry.attributes = std::move(attributes);
  return entry;
}

class CheckOrFixTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetHooks();
    model_ = std::make_shared<ItemConfiguration>();
    InstallConfiguration(model_);
    auto scripted = std::make_unique<ScriptedCheckFix>();
    scripted_ = scripted.get();
    CheckFixFactory::Instance().Register("scripted", std::move(scripted));
    App::TheApp().internetState = 2;
  }
  void TearDown() override {
    ResetHooks();
    InstallConfiguration(nullptr);
  }
  std::shared_ptr<ItemConfiguration> model_;
  ScriptedCheckFix* scripted_ = nullptr;
  Testing::RecordingDialog page_;
};

TEST_F(CheckOrFixTest, TheRegistryGroupIsRepairedAsSoonAsItsCheckFails) {
  const std::string key = Platform::Utf16ToUtf8(Testing::TestRegistryPath()) + "\\CheckOrFix";
  model_->groups.push_back(ConfigGroup{
      "registry",
      {EntryOf("HKCU\\" + key, {{"type", "reg_dword"}, {"name", "Level"}, {"value", "3"}}),
       EntryOf("HKCU\\" + key, {{"type", "reg_sz"}, {"name", "Home"}, {"value", "about:blank"}})}});
  EXPECT_EQ(Variant::Bool(true), Check(u"registry"));  // both written at once
  RegistryKey written;
  ASSERT_EQ(0u, RegistryKey::Open(Platform::kHkeyCurrentUser, Platform::Utf8ToUtf16(key), RegAccess::ReadWrite,
                                  RegView::Default, written));
  uint32_t level = 0;
  EXPECT_EQ(0u, written.ReadDword(u"Level", level));
  EXPECT_EQ(3u, level);

  written.WriteString(u"Level", u"3");  // a value the repair must not write over
  EXPECT_EQ(Variant::Bool(false), Check(u"registry"));
  EXPECT_EQ(Variant::Bool(false), Fix(u"registry"));
  RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, Platform::Utf8ToUtf16(key), RegView::Default);
}

TEST_F(CheckOrFixTest, AValueThatOnlyHasToExistAfterAFailingOneKeepsTheRepairGood) {
  const std::string key = Platform::Utf16ToUtf8(Testing::TestRegistryPath()) + "\\Exists";
  RegistryKey created;
  ASSERT_EQ(0u, RegistryKey::Create(Platform::kHkeyCurrentUser, Platform::Utf8ToUtf16(key), RegAccess::ReadWrite,
                                    RegView::Default, created));
  ASSERT_EQ(0u, created.WriteString(u"Installed", u"yes"));
  model_->groups.push_back(ConfigGroup{
      "registry",
      {EntryOf("HKCU\\" + key, {{"type", "reg_dword"}, {"name", "Level"}, {"value", "3"}}),
       EntryOf("HKCU\\" + key, {{"name", "Installed"}})}});
  EXPECT_EQ(Variant::Bool(true), Check(u"registry"));
  EXPECT_EQ(Variant::Bool(true), Check(u"registry"));
  RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, Platform::Utf8ToUtf16(key), RegView::Default);
}

TEST_F(CheckOrFixTest, RegistryTrustAndCompatibilityGroupsAreRepairedAtOnceOthersNot) {
  struct Case {
    const char* type;
    bool repairedAtOnce;
  } const cases[] = {{"registry", true}, {"trust", true}, {"compatibility", true}, {"host", false}, {"service", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    auto scripted = std::make_unique<ScriptedCheckFix>();
    ScriptedCheckFix& group = *scripted;
    CheckFixFactory::Instance().Register(c.type, std::move(scripted));
    group.checks = {{"bad", Failed}};
    model_->groups = {ConfigGroup{c.type, {EntryOf("good"), EntryOf("bad")}}};
    EXPECT_EQ(Variant::Bool(c.repairedAtOnce), Check(Platform::Utf8ToUtf16(c.type)));
    EXPECT_EQ(c.repairedAtOnce ? 1u : 0u, group.fixCount);
  }
  // The program's own classes back in place for the tests that follow.
  CheckFixFactory::Instance().Register("registry", std::make_unique<CheckFixRegistry>());
  CheckFixFactory::Instance().Register("trust", std::make_unique<CheckFixTrust>());
  CheckFixFactory::Instance().Register("compatibility", std::make_unique<CheckFixCompatibilityView>());
  CheckFixFactory::Instance().Register("host", std::make_unique<CheckFixHost>());
  CheckFixFactory::Instance().Register("service", std::make_unique<CheckFixService>());
}

TEST_F(CheckOrFixTest, OtherGroupsOnlyCheckInCheckModeAndFixInFixMode) {
  model_->groups.push_back(ConfigGroup{"scripted", {EntryOf("good"), EntryOf("bad"), EntryOf("worse")}});
  scripted_->checks = {{"bad", Failed}, {"worse", Failed}};
  scripted_->fixes = {{"bad", Passed}, {"worse", Passed}};
  EXPECT_EQ(Variant::Bool(false), Check(u"scripted"));
  EXPECT_EQ(0u, scripted_->fixCount);
  EXPECT_EQ("check worse", scripted_->calls.back());  // no stop at the first failure
  EXPECT_EQ(Variant::Bool(true), Fix(u"scripted"));
  EXPECT_EQ(2u, scripted_->fixCount);  // the passing entry is skipped
  EXPECT_EQ(Variant::Bool(true), Check(u"scripted"));

  // A name is a group before it is a built-in check.
  model_->groups.push_back(ConfigGroup{"proxy", {}});
  EXPECT_EQ(Variant::Bool(false), Check(u"proxy"));  // no class for "proxy" groups
  Hooks().isProxyConfigured = [] { return 1; };
  EXPECT_EQ(Variant::Bool(false), Check(u"proxy"));
}

// Counts how many checks or repairs run at the same moment.
class OverlapCounter : public ICheckFix {
 public:
  std::atomic<int> active{0}, most{0};
  int32_t CheckEntry(ConfigEntry& entry) override { return Work(entry); }
  int32_t FixEntry(ConfigEntry& entry) override { return Work(entry); }

 private:
  int32_t Work(ConfigEntry& entry) {
    const int now = ++active;
    for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    entry.state = Failed;
    --active;
    return Failed;
  }
};

TEST_F(CheckOrFixTest, ChecksAndRepairsFromSeveralThreadsTakeTurns) {
  auto counter = std::make_unique<OverlapCounter>();
  OverlapCounter* overlap = counter.get();
  CheckFixFactory::Instance().Register("overlap", std::move(counter));
  model_->groups.push_back(ConfigGroup{"overlap", {EntryOf("a"), EntryOf("b")}});
  std::vector<std::thread> callers;
  for (CheckMode mode : {CheckMode::Check, CheckMode::Fix, CheckMode::Check})
    callers.emplace_back([mode] {
      for (int i = 0; i < 15; ++i) CheckOrFix(Variant::String(u"overlap"), mode);
    });
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(1, overlap->most.load());
}

TEST_F(CheckOrFixTest, NamesThatAreNeitherGroupsNorBuiltInsAnswerFalse) {
  EXPECT_EQ(Variant::Bool(false), Check(u"dns"));
  EXPECT_EQ(Variant::Bool(false), Fix(u"Level"));
  EXPECT_EQ(Variant(), CheckOrFix(Variant::Bool(true), CheckMode::Check));
  EXPECT_EQ(Variant(), CheckOrFix(Variant::Double(1.0), CheckMode::Fix));
}

TEST_F(CheckOrFixTest, CacheCleaningRunsOnlyWhenFixing) {
  std::vector<std::string> done;
  Hooks().clearSslStateAll = [&] { done.push_back("ssl state"); };
  Hooks().clearBrowserCache = [&](uint32_t groups) { done.push_back("cache " + std::to_string(groups)); };
  Hooks().cleanSslCacheWithMessage = [&] { done.push_back("sslcache"); };
  Hooks().cleanBrowserCacheWithMessage = [&] { done.push_back("iecache"); };
  EXPECT_EQ(Variant::Bool(true), Check(u"cache"));
  EXPECT_EQ(Variant::Bool(false), Check(u"sslcache"));
  EXPECT_EQ(Variant::Bool(false), Check(u"iecache"));
  EXPECT_TRUE(done.empty());
  EXPECT_EQ(Variant::Bool(true), Fix(u"cache"));
  EXPECT_EQ(Variant::Bool(true), Fix(u"sslcache"));
  EXPECT_EQ(Variant::Bool(true), Fix(u"iecache"));
  EXPECT_EQ((std::vector<std::string>{"ssl state", "cache 3", "sslcache", "iecache"}), done);
}

TEST_F(CheckOrFixTest, FirewallAndAntivirusCombineTheirAnswers) {
  using Products = std::optional<std::vector<SecurityProduct>>;
  const struct {
    std::optional<bool> firewallOn;
    Products products;
    bool expected;
  } firewall[] = {
      {std::nullopt, Products(), false},
      {false, Products(), false},
      {true, Products(), true},
      {true, Products({{true, false}}), true},
      {true, Products({{true, true}, {false, true}}), false},
      {false, Products({{true, true}}), false},
  };
  for (const auto& c : firewall) {
    Hooks().queryWindowsFirewall = [&] { return c.firewallOn; };
    Hooks().listFirewallProducts = [&] { return c.products; };
    EXPECT_EQ(Variant::Bool(c.expected), Check(u"firewall"));
    EXPECT_EQ(Variant::Bool(c.expected), Fix(u"firewall"));
  }
  const struct {
    Products products;
    bool expected;
  } antivirus[] = {
      {Products(), true},  // the Security Center could not be asked
      {Products(std::vector<SecurityProduct>{}), false},
      {Products({{true, true}, {true, true}}), true},
      {Products({{true, true}, {true, false}}), false},
      {Products({{false, true}}), false},
  };
  for (const auto& c : antivirus) {
    Hooks().listAntivirusProducts = [&] { return c.products; };
    EXPECT_EQ(Variant::Bool(c.expected), Check(u"antivirus"));
  }
  Hooks().isAutomaticUpdateEnabled = [] { return true; };
  EXPECT_EQ(Variant::Bool(true), Check(u"winupdate"));
}

TEST_F(CheckOrFixTest, ConnectionStoresTheComputedState) {
  EXPECT_EQ(Variant::Bool(false), Check(u"connection"));  // no probes yet
  EXPECT_EQ(2, App::TheApp().internetState.load());
  uint32_t limits[2] = {};
  Hooks().computeInternetState = [&](uint32_t publicMs, uint32_t bankMs) {
    limits[0] = publicMs;
    limits[1] = bankMs;
    return 1;
  };
  EXPECT_EQ(Variant::Bool(true), Check(u"connection"));
  EXPECT_EQ(1, App::TheApp().internetState.load());
  EXPECT_EQ(3000u, limits[0]);
  EXPECT_EQ(2000u, limits[1]);
  Hooks().computeInternetState = [](uint32_t, uint32_t) { return 0; };
  EXPECT_EQ(Variant::Bool(false), Fix(u"connection"));
  EXPECT_EQ(0, App::TheApp().internetState.load());
}

TEST_F(CheckOrFixTest, ResettingZonesRerunsTheRegistryGroup) {
  Hooks().zonesAtRecommendedLevels = [] { return true; };
  EXPECT_EQ(Variant::Bool(true), Check(u"level"));
  Hooks().resetZoneLevels = [] { return ZoneResetOutcome{true, false}; };
  // The "registry" group is checked and repaired again (by a scripted
  // class standing in for the registry class for this test).
  struct RestoreRegistryClass {
    ~RestoreRegistryClass() { CheckFixFactory::Instance().Register("registry", std::make_unique<CheckFixRegistry>()); }
  } restore;
  auto registry = std::make_unique<ScriptedCheckFix>();
  ScriptedCheckFix* rerun = registry.get();
  rerun->checks = {{"value", Failed}};
  CheckFixFactory::Instance().Register("registry", std::move(registry));
  model_->groups.push_back(ConfigGroup{"registry", {EntryOf("value")}});
  EXPECT_EQ(Variant::Bool(true), Fix(u"level"));
  EXPECT_EQ((std::vector<std::string>{"BeginCheck", "check value", "BeginFix", "fix value", "EndFix"}),
            rerun->calls);
  rerun->calls.clear();
  Hooks().resetZoneLevels = [] { return ZoneResetOutcome{false, true}; };
  EXPECT_EQ(Variant::Bool(false), Fix(u"level"));
  EXPECT_TRUE(rerun->calls.empty());  // nothing was reset
}

TEST_F(CheckOrFixTest, AChecksAvailabilityIsWhetherTheProgramHasWhatItNeeds) {
  model_->groups.push_back(ConfigGroup{"scripted", {EntryOf("good")}});
  model_->groups.push_back(ConfigGroup{"nobody-handles-this", {EntryOf("x")}});
  ConfigItem known, unknown;
  known.detect = {EntryOf("a", {{"dtype", "scripted"}}), EntryOf("b", {{"dtype", "registry"}})};
  unknown.detect = {EntryOf("a", {{"dtype", "scripted"}}), EntryOf("b", {{"dtype", "nobody-handles-this"}})};
  model_->items = {known, unknown};
  App::TheApp().SetPageItemPosition(0, 0);
  App::TheApp().SetPageItemPosition(1, 1);
  const struct {
    Variant argument;
    bool available;
  } cases[] = {
      {Variant::String(u"scripted"), true},
      {Variant::String(u"nobody-handles-this"), false},
      {Variant::String(u"level"), false},  // no browser maintenance yet
      {Variant::String(u"home_page"), true},
      {Variant::String(u"dns"), true},  // no group: the configuration's own answer
      {Variant::Int(0), true},
      {Variant::Int(1), false},
      {Variant::Int(7), true},  // never announced: the first item
      {Variant::Bool(true), false},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].available, CheckIsAvailable(cases[i].argument)) << "case " << i;
  EXPECT_EQ(Variant::Bool(false), Check(u"level"));
  EXPECT_EQ(Variant::Bool(false), Fix(u"level"));
  Hooks().zonesAtRecommendedLevels = [] { return true; };
  EXPECT_TRUE(CheckIsAvailable(Variant::String(u"level")));
}

class HomePage : public CheckOrFixTest {
 protected:
  void TearDown() override {
    RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, kPolicy, RegView::Default);
    CheckOrFixTest::TearDown();
  }
  RegistryKey Policy() {
    RegistryKey key;
    EXPECT_EQ(0u, RegistryKey::Create(Platform::kHkeyCurrentUser, kPolicy, RegAccess::ReadWrite, RegView::Default, key));
    return key;
  }
  static constexpr char16_t kPolicy[] = u"Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
};

TEST_F(HomePage, TheLockIsAPolicyDwordOfOne) {
  EXPECT_FALSE(IsHomePageLocked());
  EXPECT_EQ(Variant::Bool(true), Check(u"home_page"));
  EXPECT_EQ(Variant::Bool(false), Fix(u"home_page"));  // nothing to unlock
  RegistryKey probe;
  EXPECT_NE(0u, RegistryKey::Open(Platform::kHkeyCurrentUser, kPolicy, RegAccess::Read, RegView::Default, probe));

  RegistryKey policy = Policy();
  policy.WriteString(u"HomePage", u"1");
  EXPECT_FALSE(IsHomePageLocked());  // text is no lock
  EXPECT_EQ(Variant::Bool(false), Fix(u"home_page"));
  policy.WriteDword(u"HomePage", 1);
  EXPECT_TRUE(IsHomePageLocked());
  EXPECT_EQ(Variant::Bool(false), Check(u"home_page"));
  EXPECT_EQ(Variant::Bool(true), Fix(u"home_page"));
  uint32_t value = 7;
  EXPECT_EQ(0u, policy.ReadDword(u"HomePage", value));
  EXPECT_EQ(0u, value);
  EXPECT_EQ(Variant::Bool(true), Check(u"home_page"));

  const uint8_t shortDword[2] = {1, 0};
  policy.SetValue(u"HomePage", Platform::RegType::kDword, shortDword, sizeof shortDword);
  EXPECT_FALSE(IsHomePageLocked());  // fewer than 32 bits stored
}

TEST_F(HomePage, RegistryByRootName) {
  RegistryKey policy = Policy();
  policy.WriteDword(u"Number", 5);
  const std::string subkey = Platform::Utf16ToUtf8(kPolicy);
  EXPECT_TRUE(RegValueEquals("HKEY_CURRENT_USER", subkey, "Number", Platform::RegType::kDword, 5));
  EXPECT_FALSE(RegValueEquals("HKEY_CURRENT_USER", subkey, "Number", Platform::RegType::kBinary, 5));
  EXPECT_FALSE(RegValueEquals("HKCU", subkey, "Number", Platform::RegType::kDword, 5));
  EXPECT_FALSE(RegValueEquals("hkey_current_user", subkey, "Number", Platform::RegType::kDword, 5));
  EXPECT_FALSE(RegOverwriteValue("HKEY_CURRENT_USER", subkey, "Missing", Platform::RegType::kDword, {0, 0, 0, 0}));
  EXPECT_FALSE(RegOverwriteValue("HKEY_CURRENT_USER", subkey, "Number", Platform::RegType::kSz, {0, 0}));
  EXPECT_TRUE(RegOverwriteValue("HKEY_CURRENT_USER", subkey, "Number", Platform::RegType::kDword, {9, 0, 0, 0}));
  EXPECT_TRUE(RegValueEquals("HKEY_CURRENT_USER", subkey, "Number", Platform::RegType::kDword, 9));
  uint32_t type = 0;
  std::vector<uint8_t> raw;
  EXPECT_NE(0u, policy.ReadRaw(u"Missing", type, raw));
}

// Items are answered with the page's state codes.
class ItemByNumber : public CheckOrFixTest {
 protected:
  void SetUp() override {
    CheckOrFixTest::SetUp();
    scripted_->checks = {{"ok", Passed}, {"old", NeedsUpdate}, {"bad", Failed}, {"off", Disabled}};
    Hooks().installItemForThisSystem = [this](ConfigItem& item) {
      installed_.push_back(GetAttr(item.attributes, "name"));
      // The install makes its failing detect entries pass.
      for (const ConfigEntry& e : item.detect) scripted_->checks[e.text] = Passed;
      return static_cast<int32_t>(Passed);
    };
    Hooks().repairDisabledItem = [this](ConfigItem& item) { repaired_.push_back(GetAttr(item.attributes, "name")); };
  }
  int32_t AddItem(const std::string& name, std::initializer_list<const char*> detects, AttributeMap extra = {}) {
    ConfigItem item;
    item.attributes = std::move(extra);
    item.attributes["name"] = name;
    for (const char* text : detects) {
      ConfigEntry entry = EntryOf(text, {{"dtype", "scripted"}});
      if (std::string(text).rfind("64:", 0) == 0) entry.attributes["bit"] = "64";
      item.detect.push_back(entry);
    }
    model_->items.push_back(item);
    const int32_t number = 100 + static_cast<int32_t>(model_->items.size());
    App::TheApp().SetPageItemPosition(number, static_cast<int32_t>(model_->items.size() - 1));
    return number;
  }
  Variant CheckItem(int32_t number) { return CheckOrFix(Variant::Int(number), CheckMode::Check); }
  Variant FixItem(int32_t number) { return CheckOrFix(Variant::Int(number), CheckMode::Fix); }
  std::vector<std::string> installed_, repaired_;
};

TEST_F(ItemByNumber, CheckAnswersThePageState) {
  const int32_t ok = AddItem("ok", {"ok"});
  const int32_t off = AddItem("off", {"ok", "off"});
  const int32_t old = AddItem("old", {"old", "ok"});
  const int32_t bad = AddItem("bad", {"bad", "old"});
  const int32_t none = AddItem("none", {});
  ConfigItem unknown;
  unknown.detect.push_back(EntryOf("x", {{"dtype", "no-such-type"}}));
  model_->items.push_back(unknown);
  App::TheApp().SetPageItemPosition(150, static_cast<int32_t>(model_->items.size() - 1));
  EXPECT_EQ(Variant::Int(0), CheckItem(ok));
  EXPECT_EQ(Variant::Int(1), CheckItem(off));
  EXPECT_EQ(Variant::Int(2), CheckItem(old));
  EXPECT_EQ(Variant::Int(3), CheckItem(bad));
  EXPECT_EQ(Variant::Int(0), CheckItem(none));
  EXPECT_EQ(Variant::Int(3), CheckItem(150));  // UnknownType
  EXPECT_TRUE(installed_.empty());
  EXPECT_TRUE(page_.Calls().empty());

  // A number never announced stands for the first item.
  EXPECT_EQ(Variant::Int(0), CheckItem(98765));
  EXPECT_EQ(0, App::TheApp().PageItemPosition(98765));
  // A position beyond the items answers nothing.
  App::TheApp().SetPageItemPosition(151, 40);
  EXPECT_EQ(Variant(), CheckItem(151));
  EXPECT_EQ(Variant(), FixItem(151));
}

TEST_F(ItemByNumber, SixtyFourBitDetectEntriesCountOnlyOn64BitWindows) {
  const int32_t number = AddItem("mixed", {"64:missing", "ok"});
  scripted_->checks["64:missing"] = Failed;
  for (const int bits : {32, 64}) {
    SCOPED_TRACE(bits);
    Testing::WindowsOfBitness windows(bits);
    // The Windows tests run in a 64-bit prefix; 32-bit Windows is the posix
    // machine's case.
    if (!windows.Holds()) continue;
    EXPECT_EQ(Variant::Int(bits == 64 ? 3 : 0), CheckItem(number));
    EXPECT_EQ(bits == 64 ? Failed : Passed, CheckItemForThisSystem(model_->items.back()));
  }
}

TEST_F(ItemByNumber, FixInstallsWhatIsMissingWithAProgressText) {
  const int32_t bad = AddItem("网银控件", {"bad"});
  EXPECT_EQ(Variant::Int(0), FixItem(bad));  // answered from a fresh check
  EXPECT_EQ(std::vector<std::string>{"网银控件"}, installed_);
  EXPECT_EQ(bad, CurrentProgressItem().load());
  const auto texts = page_.CallsOf(u"setHtmlItemText");
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ((std::vector<Variant>{Variant::String(u"info"), Variant::String(u"正在安装网银控件")}), texts[0].args);

  // A passing item is installed again, without the text.
  page_.Clear();
  EXPECT_EQ(Variant::Int(0), FixItem(bad));
  EXPECT_EQ(2u, installed_.size());
  EXPECT_TRUE(page_.Calls().empty());
}

TEST_F(ItemByNumber, KeyDriversWaitForAConnection) {
  const int32_t key = AddItem("key driver", {"old"}, {{"cls", "key"}});
  App::TheApp().internetState = 0;
  EXPECT_EQ(Variant::Int(2), FixItem(key));
  EXPECT_TRUE(installed_.empty());
  EXPECT_TRUE(page_.Calls().empty());
  App::TheApp().internetState = 1;
  EXPECT_EQ(Variant::Int(0), FixItem(key));
  EXPECT_EQ(1u, installed_.size());
  // Without connectivity other items are still installed.
  App::TheApp().internetState = 0;
  const int32_t other = AddItem("control", {"bad"}, {{"cls", "activex"}});
  EXPECT_EQ(Variant::Int(0), FixItem(other));
  EXPECT_EQ(2u, installed_.size());
}

TEST_F(ItemByNumber, ADisabledAddOnIsRepairedNotInstalled) {
  const int32_t off = AddItem("off", {"off"});
  EXPECT_EQ(Variant::Int(1), FixItem(off));
  EXPECT_EQ(std::vector<std::string>{"off"}, repaired_);
  EXPECT_TRUE(installed_.empty());
}

}  // namespace
}  // namespace Zentrovak::Assistant
