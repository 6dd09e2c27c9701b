// The engine's commands as the page reaches them through the command
// table: get_config end to end against a loopback server, the check
// commands, get_data, get_version and check_update.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/assistant_app.h"
#include "app/settings.h"
#include "checkfix/app_update.h"
#include "checkfix/check_fix.h"
#include "checkfix/engine_hooks.h"
#include "commands/command_ids.h"
#include "commands/command_registry.h"
#include "commands/engine_commands.h"
#include "platform/text.h"
#include "support/debug_lines.h"
#include "support/fixture_paths.h"
#include "support/loopback_server.h"
#include "support/recording_dialog.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

using Testing::PageCall;
using UI::Variant;

Variant RunCommand(int32_t id, const Variant& a1 = Variant()) {
  Variant result;
  EXPECT_TRUE(Commands::RunCommandHandler(id, result, UI::MainDialog(), a1, Variant(), Variant(), Variant()));
  return result;
}

// A key binding the engine only hands back to the key support.
Ukey::UKey* FakeBinding(int n) {
  static char bindings[4];
  return reinterpret_cast<Ukey::UKey*>(&bindings[n]);
}

class EngineCommands : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    App::SetSettingsRegistryKey(Testing::TestRegistryPath().substr(std::u16string(u"Software\\").size()) +
                                u"\\Settings");
    RegisterEngineCommands();
  }
  void SetUp() override {
    ResetHooks();
    ASSERT_TRUE(server_.Started());
    InstallConfiguration(nullptr);
    Hooks().addKeyId = [this](Ukey::UKey* binding, uint32_t id) { keyIds_.emplace_back(binding, id); };
    Hooks().reportKeyChanges = [this] { ++keyReports_; };
  }
  void TearDown() override {
    ResetHooks();
    InstallConfiguration(nullptr);
    App::TheApp().keyBindings.clear();
  }
  void ServeConfiguration(const std::string& document, uint32_t delayMs = 0) {
    server_.Serve("/download/itemV3.xml", document, 200, delayMs);
    App::WriteSettingString(App::kSettingsSection, u"ConfigUrl", server_.Url("/download/itemV3.xml"));
  }
  // The setItemInfo calls as "number name=value".
  std::vector<std::string> Announced() const {
    std::vector<std::string> lines;
    for (const PageCall& c : page_.CallsOf(u"setItemInfo"))
      lines.push_back(std::to_string(c.args[0].AsInt()) + " " + Platform::Utf16ToUtf8(c.args[1].AsString()) + "=" +
                      Platform::Utf16ToUtf8(c.args[2].AsString()));
    return lines;
  }

  Testing::LoopbackServer server_;
  Testing::RecordingDialog page_;
  std::vector<std::pair<Ukey::UKey*, uint32_t>> keyIds_;
  int keyReports_ = 0;
};

TEST_F(EngineCommands, GetConfigAnnouncesItemsByNumber64BitOnesOnlyOn64BitWindows) {
  ServeConfiguration(
      "<checkitems><data name=\"tel\">95</data>"
      "<item name=\"x64 only\" bit=\"64\"/>"
      "<item Name=\"控件\" cls=\"activex\" Version=\"1.0\" empty=\"\"/>"
      "<item name=\"third\" bit=\"32\"/></checkitems>");
  const struct {
    int bits;
    std::vector<std::string> announced;
    int32_t positionOfNumber0;
  } kCases[] = {
      {32, {"0 cls=activex", "0 name=控件", "0 version=1.0", "1 bit=32", "1 name=third"}, 1},
      {64,
       {"0 bit=64", "0 name=x64 only", "1 cls=activex", "1 name=控件", "1 version=1.0", "2 bit=32", "2 name=third"},
       0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bits);
    Testing::WindowsOfBitness windows(c.bits);
    // The Windows tests run in a 64-bit prefix; 32-bit Windows is the posix
    // machine's case.
    if (!windows.Holds()) continue;
    page_.Clear();
    const int reportsBefore = keyReports_;
    EXPECT_EQ(Variant::Bool(true), RunCommand(2));
    EXPECT_EQ(reportsBefore + 1, keyReports_);
    EXPECT_EQ(c.announced, Announced());
    EXPECT_EQ(c.positionOfNumber0, App::TheApp().PageItemPosition(0));
    EXPECT_EQ(c.positionOfNumber0 + 1, App::TheApp().PageItemPosition(1));
    // A second run numbers from 0 again.
    page_.Clear();
    EXPECT_EQ(Variant::Bool(true), RunCommand(2));
    EXPECT_EQ(c.announced, Announced());
  }
  EXPECT_EQ(Variant::Bool(true), RunCommand(22));
  EXPECT_EQ(Variant::String(u"95"), RunCommand(7, Variant::String(u"tel")));
  EXPECT_EQ(Variant::String(u""), RunCommand(7, Variant::String(u"TEL")));
  EXPECT_EQ(Variant(), RunCommand(7, Variant::Int(1)));
}

TEST_F(EngineCommands, KeyItemsHandTheirIdsToTheirFamily) {
  App::TheApp().keyBindings["FT_2"] = FakeBinding(2);
  App::TheApp().keyBindings["FT_1"] = FakeBinding(1);
  ServeConfiguration(
      "<checkitems>"
      "<item name=\"k2\" cls=\"key\" type=\"FT_2\" keyid=\"|096E0201,,0x096e0302|\"/>"
      "<item name=\"k9\" cls=\"key\" type=\"FT_9\" keyid=\"1234\"/>"
      "<item name=\"not a key\" cls=\"activex\" type=\"FT_1\" keyid=\"5678\"/>"
      "<item name=\"no type\" cls=\"key\" keyid=\"9abc\"/>"
      "<item name=\"k1\" cls=\"key\" type=\"FT_1\" keyid=\"1a2bzz,FFFFFFFFF\"/>"
      "</checkitems>");
  EXPECT_EQ(Variant::Bool(true), RunCommand(2));
  const std::vector<std::pair<Ukey::UKey*, uint32_t>> expected = {
      {FakeBinding(2), 0x096E0201u}, {FakeBinding(2), 0x096E0302u}, {FakeBinding(1), 0x1A2Bu},
      {FakeBinding(1), 0xFFFFFFFFu}};
  EXPECT_EQ(expected, keyIds_);
  // Items without a family still announce what they have.
  EXPECT_EQ(19u, Announced().size());
}

TEST_F(EngineCommands, AFailedFetchAnswersFalseAndAnnouncesNothing) {
  App::WriteSettingString(App::kSettingsSection, u"ConfigUrl", server_.Url("/download/missing.xml"));
  EXPECT_EQ(Variant::Bool(false), RunCommand(2));
  EXPECT_TRUE(page_.Calls().empty());
  EXPECT_EQ(0, keyReports_);
  // The emptied model keeps the base of the address it tried.
  EXPECT_EQ(Variant::Bool(true), RunCommand(22));

  App::WriteSettingString(App::kSettingsSection, u"ConfigUrl", u"http://127.0.0.1:1/download/itemV3.xml");
  EXPECT_EQ(Variant::Bool(false), RunCommand(2));
}

TEST_F(EngineCommands, ALoadPastTheWaitEmptiesTheModelAndIsDropped) {
  // A model of an earlier, successful load.
  ServeConfiguration("<checkitems base=\"http://127.0.0.1/\"><item name=\"earlier\"/></checkitems>");
  ASSERT_EQ(Variant::Bool(true), RunCommand(2));
  ASSERT_EQ(Variant::Bool(true), RunCommand(22));
  const auto before = CurrentConfiguration();
  page_.Clear();
  // The answer comes half a second after get_config gives up.
  ServeConfiguration("<checkitems><item name=\"late\"/></checkitems>", kConfigurationWaitMs + 500);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Variant::Bool(false), RunCommand(2));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kConfigurationWaitMs));
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));  // the late load has ended by now
  EXPECT_EQ(2, server_.Requests("/download/itemV3.xml"));
  EXPECT_NE(before, CurrentConfiguration());
  EXPECT_EQ(0u, CurrentConfiguration()->ItemCount());
  EXPECT_EQ(Variant::Bool(false), RunCommand(22));
  EXPECT_TRUE(page_.Calls().empty());
}

TEST_F(EngineCommands, TheCheckCommandsReachTheEntryPoint) {
  auto model = std::make_shared<ItemConfiguration>();
  model->groups.push_back(ConfigGroup{"no-such-class", {ConfigEntry{}}});
  ConfigItem item;
  item.attributes["name"] = "ok";
  model->items.push_back(item);
  InstallConfiguration(model);
  App::TheApp().SetPageItemPosition(0, 0);
  int installs = 0;
  Hooks().installItemForThisSystem = [&](ConfigItem&) { return static_cast<int32_t>(++installs > 0 ? Passed : Failed); };

  EXPECT_EQ(Variant::Bool(false), RunCommand(9, Variant::String(u"no-such-class")));
  EXPECT_EQ(Variant::Bool(true), RunCommand(10, Variant::String(u"sslcache")));
  EXPECT_EQ(Variant::Bool(false), RunCommand(9, Variant::String(u"sslcache")));
  EXPECT_EQ(Variant::Bool(true), RunCommand(11, Variant::String(u"sslcache")));
  EXPECT_EQ(Variant::Int(0), RunCommand(9, Variant::Int(0)));
  EXPECT_EQ(0, installs);
  EXPECT_EQ(Variant::Int(0), RunCommand(10, Variant::Int(0)));
  EXPECT_EQ(Variant::Int(0), RunCommand(11, Variant::Int(0)));  // do_install is do_fix
  EXPECT_EQ(2, installs);
  EXPECT_EQ(Variant(), RunCommand(9, Variant::Bool(true)));
  EXPECT_EQ(Variant::Bool(false), RunCommand(23));
}

TEST_F(EngineCommands, SyncTimeWithoutConfiguredServersFails) {
  auto model = std::make_shared<ItemConfiguration>();
  model->dataTexts["time_svr9"] = "127.0.0.1";  // not one of the four names
  InstallConfiguration(model);
  // The page's own argument names no server of ours.
  EXPECT_EQ(Variant::Int(-1), RunCommand(Commands::kSyncTime, Variant::String(u"127.0.0.1")));
}

TEST_F(EngineCommands, SyncTimeAsksTheConfigurationsFourServersInOrder) {
  auto model = std::make_shared<ItemConfiguration>();
  // Names that cannot be resolved: each is reported as it is tried, and no
  // datagram leaves the machine.
  for (const char* name : {"time_svr1", "time_svr2", "time_svr3", "time_svr4"})
    model->dataTexts[name] = std::string(name) + ".zentrovak.invalid";
  InstallConfiguration(model);
  Testing::DebugLines debug;
  EXPECT_EQ(Variant::Int(-1), RunCommand(Commands::kSyncTime, Variant::String(u"127.0.0.1")));
  std::vector<std::string> tried;
  for (const std::u16string& line : debug.Lines()) tried.push_back(Platform::Utf16ToUtf8(line).substr(0, 36));
  EXPECT_EQ((std::vector<std::string>{"Send time_svr1.zentrovak.invalid err", "Send time_svr2.zentrovak.invalid err",
                                      "Send time_svr3.zentrovak.invalid err", "Send time_svr4.zentrovak.invalid err"}),
            tried);
}

TEST_F(EngineCommands, GetVersionAnswersTwoSubjects) {
  const Variant system = RunCommand(12, Variant::String(u"sysversion"));
  EXPECT_TRUE(system.IsString());
  EXPECT_FALSE(system.AsString().empty());
  EXPECT_TRUE(RunCommand(12, Variant::String(u"ieversion")).IsString());
  EXPECT_EQ(Variant(), RunCommand(12, Variant::String(u"SysVersion")));
  EXPECT_EQ(Variant(), RunCommand(12, Variant::Int(1)));
}

class CheckUpdateTest : public EngineCommands {
 protected:
  void SetUp() override {
    EngineCommands::SetUp();
    Hooks().showTaskMessage = [this](int32_t kind, uint32_t text, uint32_t title, uint32_t instruction,
                                     Platform::WindowHandle owner) {
      boxes_.push_back({kind, text, title, instruction});
      EXPECT_EQ(page_.GetHwnd(), owner);
      return 1;
    };
    Hooks().askYesNo = [this](Platform::WindowHandle owner, uint32_t text, uint32_t title, uint32_t instruction,
                              uint32_t yes, uint32_t no) {
      boxes_.push_back({0, text, title, instruction});
      EXPECT_EQ(107u, yes);
      EXPECT_EQ(108u, no);
      EXPECT_EQ(page_.GetHwnd(), owner);
      return answer_;
    };
    Hooks().runApplicationUpdate = [this](Network::DownloadCallback progress, int32_t parameter) {
      ++updates_;
      EXPECT_EQ(&UpdateDownloadProgress, progress);
      EXPECT_EQ(0, parameter);
      EXPECT_EQ(-1, CurrentProgressItem().load());
      return updateSucceeds_;
    };
    Hooks().restartApplication = [this] { ++restarts_; };
  }
  // The application record; its detect entry fails when `current` is false.
  void Record(bool current, const char* imperative) {
    auto model = std::make_shared<ItemConfiguration>();
    ConfigEntry detect;
    detect.text = Platform::Utf16ToUtf8(current ? Testing::FixturePath("config/items.xml")
                                                : Testing::FixturePath("config/absent.exe"));
    detect.attributes["dtype"] = "file";
    model->application.detect.push_back(detect);
    if (*imperative) model->application.attributes["imperative"] = imperative;
    InstallConfiguration(model);
  }
  struct Box {
    int32_t kind;
    uint32_t text, title, instruction;
    bool operator==(const Box& o) const {
      return kind == o.kind && text == o.text && title == o.title && instruction == o.instruction;
    }
  };
  std::vector<Box> boxes_;
  int32_t answer_ = 7;
  bool updateSucceeds_ = false;
  int updates_ = 0, restarts_ = 0;
};

TEST_F(CheckUpdateTest, AMandatoryUpdateIsAnnouncedAndInstalled) {
  Record(false, "TRUE");
  updateSucceeds_ = true;
  RunCommand(17, Variant::Bool(true));
  EXPECT_EQ((std::vector<Box>{{1, 105, 102, 106}}), boxes_);
  EXPECT_EQ(1u, page_.CallsOf(u"onUpdateConfirmed").size());
  EXPECT_EQ(1, updates_);
  EXPECT_EQ(1, restarts_);
}

TEST_F(CheckUpdateTest, AnOptionalUpdateAsksFirst) {
  Record(false, "yes");  // only true and 1 make it mandatory
  RunCommand(17, Variant::Int(1));
  EXPECT_EQ((std::vector<Box>{{0, 104, 102, 106}}), boxes_);
  EXPECT_TRUE(page_.Calls().empty());
  EXPECT_EQ(0, updates_);

  answer_ = 6;
  RunCommand(17, Variant::Int(1));
  EXPECT_EQ(1u, page_.CallsOf(u"onUpdateConfirmed").size());
  EXPECT_EQ(1, updates_);
  EXPECT_EQ(0, restarts_);  // the install failed: the assistant stays
}

TEST_F(CheckUpdateTest, NoUpdateTellsSoExceptOnTheSecondAskingAndNeverWhenSilent) {
  Record(true, "1");
  RunCommand(17, Variant::Bool(true));
  RunCommand(17, Variant::Int(5));
  EXPECT_TRUE(boxes_.empty());
  for (int i = 0; i < 3; ++i) RunCommand(17, Variant::Int(0));
  EXPECT_EQ((std::vector<Box>{{1, 109, 102, 0}, {1, 109, 102, 0}}), boxes_);
  EXPECT_EQ(0, updates_);
}

TEST(UpdateProgress, ReportsStepsOfMoreThanOnePercent) {
  Testing::RecordingDialog page;
  std::vector<int32_t> reported;
  for (int32_t percent : {0, 1, 2, 3, 50, 51, 98, 100, 99}) {
    Network::DownloadProgress progress;
    progress.percent = percent;
    progress.inProgress = true;
    EXPECT_TRUE(UpdateDownloadProgress(&progress));
  }
  EXPECT_TRUE(UpdateDownloadProgress(nullptr));
  for (const PageCall& c : page.CallsOf(u"setProgress")) {
    EXPECT_EQ(Variant::Bool(true), c.args[0]);
    EXPECT_EQ(Variant::Int(-1), c.args[2]);
    reported.push_back(c.args[1].AsInt());
  }
  EXPECT_EQ((std::vector<int32_t>{0, 2, 50, 98, 100}), reported);
}

}  // namespace
}  // namespace Zentrovak::Assistant
