// The dispatcher as the page reaches it: names and ids, the argument rules
// with their messages, the settings round trips and the commands handled
// in the dispatcher itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/assistant_app.h"
#include "app/settings.h"
#include "app/startup.h"
#include "commands/command_registry.h"
#include "commands/dispatch.h"
#include "commands/task_message.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/debug_lines.h"
#include "support/test_support.h"
#include "support/variant_print.h"
#include "system/process_launch.h"

namespace Zentrovak::Commands {
namespace {

using UI::Variant;

// A dialog that records the page calls it is asked for.
class RecordingDialog : public UI::IBSDialog {
 public:
  Platform::WindowHandle GetHwnd() override { return nullptr; }
  Platform::HResult Resize(int32_t, int32_t) override { return 0; }
  Platform::HResult CallPageFunction(std::u16string_view name, const Variant* args, int count, Variant*) override {
    calls.push_back({std::u16string(name), std::vector<Variant>(args, args + count)});
    return 0;
  }
  struct Call {
    std::u16string name;
    std::vector<Variant> args;  // as given: last to first
  };
  std::vector<Call> calls;
};

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterApplicationCommands();
    App::SetSettingsRegistryKey(Testing::TestRegistryPath().substr(std::u16string(u"Software\\").size()));
    SetMessagePresenter([this](const TaskMessage& message) {
      std::lock_guard<std::mutex> hold(mutex_);
      boxes_.push_back(message);
      return message.yesNo ? kIdNo : kIdOk;
    });
  }
  void TearDown() override { SetMessagePresenter(nullptr); }

  Variant Call(const Variant& name, const Variant& a1 = {}, const Variant& a2 = {}, const Variant& a3 = {},
               const Variant& a4 = {}) {
    Variant result = Variant::String(u"stale");
    return DispatchCommand(result, &dialog_, name, a1, a2, a3, a4);
  }
  Variant Call(const char16_t* name, const Variant& a1 = {}, const Variant& a2 = {}, const Variant& a3 = {},
               const Variant& a4 = {}) {
    return Call(Variant::String(name), a1, a2, a3, a4);
  }
  std::vector<TaskMessage> Boxes() {
    std::lock_guard<std::mutex> hold(mutex_);
    return boxes_;
  }

  RecordingDialog dialog_;
  std::mutex mutex_;
  std::vector<TaskMessage> boxes_;
};

Variant S(const char16_t* text) { return Variant::String(text); }
Variant I(int32_t value) { return Variant::Int(value); }
Variant B(bool value) { return Variant::Bool(value); }

TEST(CommandTable, HasTheThirtyTwoNamesInOrder) {
  const auto& table = App::TheApp().commandIds;
  ASSERT_EQ(table.size(), 32u);
  const std::pair<const char16_t*, int> samples[] = {
      {u"get_public_ip", 1}, {u"save_settings", 3}, {u"open_ie", 6},   {u"do_install", 11}, {u"call_js", 15},
      {u"log", 19},          {u"Tray", 27},         {u"get_command", 28}, {u"start_manager_tool", 32}};
  for (const auto& [name, id] : samples) EXPECT_EQ(table.at(name), id) << Platform::Utf16ToUtf8(name);
  EXPECT_EQ(table.count(u"tray"), 0u) << "names are matched exactly";
}

TEST_F(DispatchTest, UnknownNamesAndIdsOutsideTheTableAnswerEmptyAndShowNothing) {
  const Variant names[] = {S(u"get_public_ip"), S(u"reset_ie_security_level"), S(u"ui_notify"), S(u""),
                           S(u"GET_COMMAND"), I(0), I(1), I(33), I(-1), I(0x7FFFFFFF), Variant::Double(5.0),
                           B(true), Variant::Null(), Variant()};
  for (const auto& name : names) EXPECT_TRUE(Call(name, S(u"x"), S(u"y")).IsEmpty());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(DispatchTest, AnIntegerNameIsTheIdItself) {
  Call(I(5), S(u"你好"));
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"你好");
  EXPECT_EQ(boxes[0].kind, 0);
  EXPECT_EQ(boxes[0].title, u"澜屿银行网银助手");
  EXPECT_EQ(Call(I(28)), I(App::PageMode()));
}

TEST_F(DispatchTest, MessageboxTakesItsKindOnlyFromAnInteger) {
  Call(u"messagebox", S(u"a"), I(5));
  Call(u"messagebox", S(u"b"), S(u"5"));
  Call(u"messagebox", I(7), I(1));  // not a string: silently nothing
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].kind, 5);
  EXPECT_EQ(boxes[1].kind, 0);
  EXPECT_TRUE(boxes[0].instruction.empty());
}

struct ArgumentError {
  const char16_t* command;
  Variant key;
  Variant value;
  const char16_t* message;
};

TEST_F(DispatchTest, SettingsArgumentErrorsShowTheirMessageAndChangeNothing) {
  const ArgumentError cases[] = {
      {u"save_settings", I(5), I(1), u"save_settings第2个参数应该为String类型！"},
      {u"save_settings", Variant(), S(u"v"), u"save_settings第2个参数应该为String类型！"},
      {u"save_settings", S(u"k1"), Variant::Double(1.5), u"save_settings第3个参数使用了不支持的类型！"},
      {u"save_settings", S(u"k1"), Variant::Null(), u"save_settings第3个参数使用了不支持的类型！"},
      {u"save_settings", S(u"k1"), Variant(), u"save_settings第3个参数使用了不支持的类型！"},
      {u"load_settings", B(true), I(1), u"load_settings第2个参数应该为String类型！"},
      {u"load_settings", S(u"k1"), Variant::Double(2.0), u"load_settings第3个参数使用了不支持的类型！"},
  };
  for (const auto& c : cases) {
    boxes_.clear();
    EXPECT_TRUE(Call(c.command, c.key, c.value).IsEmpty());
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.message);
    EXPECT_EQ(boxes[0].kind, 5);
    EXPECT_EQ(boxes[0].instruction, u"错误");
    EXPECT_EQ(boxes[0].title, u"澜屿银行网银助手");
    EXPECT_EQ(boxes[0].owner, nullptr);
  }
  // Nothing was written under the key of the failed saves.
  EXPECT_EQ(Call(u"load_settings", S(u"k1"), S(u"unset")), S(u"unset"));
}

TEST_F(DispatchTest, SettingsRoundTripByTheDefaultsType) {
  Call(u"save_settings", S(u"flag"), B(true));
  EXPECT_EQ(Call(u"load_settings", S(u"flag"), B(false)), B(true));
  EXPECT_EQ(Call(u"load_settings", S(u"flag"), I(0)), I(-1));
  Call(u"save_settings", S(u"flag"), B(false));
  EXPECT_EQ(Call(u"load_settings", S(u"flag"), B(true)), B(false));

  Call(u"save_settings", S(u"Ccloses"), S(u"1"));
  EXPECT_EQ(Call(u"load_settings", S(u"Ccloses"), S(u"")), S(u"1"));
  Call(u"save_settings", S(u"Uchose"), I(42));
  EXPECT_EQ(Call(u"load_settings", S(u"Uchose"), I(1)), I(42));

  // Never saved: the default, in the default's type.
  EXPECT_EQ(Call(u"load_settings", S(u"never"), I(2)), I(2));
  EXPECT_EQ(Call(u"load_settings", S(u"never"), S(u"d")), S(u"d"));
  EXPECT_EQ(Call(u"load_settings", S(u"never"), B(true)), B(true));

  // A boolean is the stored value's lower 16 bits.
  App::WriteSettingInt(App::kSettingsSection, u"wide", 0x10000);
  EXPECT_EQ(Call(u"load_settings", S(u"wide"), B(true)), B(false));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(DispatchTest, DelayServesForAtLeastTheTimeAskedAndIgnoresBadCounts) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  EXPECT_TRUE(Call(u"delay_ms", I(300)).IsEmpty());
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));

  const auto quick = Clock::now();
  Call(u"delay_ms", S(u"300"));
  Call(u"delay_ms", I(-1));  // no wait of weeks
  Call(u"delay_ms", Variant::Double(300.0));
  EXPECT_LT(Clock::now() - quick, std::chrono::milliseconds(250));
}

TEST_F(DispatchTest, CallJsPassesItsThreeArgumentsFirstToLast) {
  Call(u"call_js", S(u"setHtmlItemText"), S(u"info"), I(3), B(true));
  Call(u"call_js", I(1), S(u"x"));  // not a name: nothing
  ASSERT_EQ(dialog_.calls.size(), 1u);
  const auto& call = dialog_.calls[0];
  EXPECT_EQ(call.name, u"setHtmlItemText");
  ASSERT_EQ(call.args.size(), 3u);
  // Automation order: the last element is the first argument.
  EXPECT_EQ(call.args[2], S(u"info"));
  EXPECT_EQ(call.args[1], I(3));
  EXPECT_EQ(call.args[0], B(true));
}

TEST_F(DispatchTest, GetVersionReachesItsHandlerOnlyForTheTwoSubjects) {
  std::vector<Variant> seen;
  SetCommandHandler(12, [&](Variant& result, UI::IBSDialog*, const Variant& a1, const Variant&, const Variant&,
                            const Variant&) {
    seen.push_back(a1);
    result = S(u"11.0");
  });
  EXPECT_EQ(Call(u"get_version", S(u"ieversion")), S(u"11.0"));
  EXPECT_TRUE(Call(u"get_version", S(u"osversion")).IsEmpty());
  EXPECT_TRUE(Call(u"get_version", I(1)).IsEmpty());
  SetCommandHandler(12, nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], S(u"ieversion"));
}

TEST_F(DispatchTest, CommandsOfOtherPartsGoToTheirRegisteredHandlerWithTheirArguments) {
  std::vector<int> ran;
  for (int id : {9, 10, 11}) {
    SetCommandHandler(id, [&ran, id](Variant& result, UI::IBSDialog*, const Variant& a1, const Variant&,
                                     const Variant&, const Variant&) {
      ran.push_back(id);
      result = a1;
    });
  }
  EXPECT_EQ(Call(u"do_check", S(u"registry")), S(u"registry"));
  EXPECT_EQ(Call(u"do_install", I(3)), I(3));
  for (int id : {9, 10, 11}) SetCommandHandler(id, nullptr);
  EXPECT_EQ(ran, (std::vector<int>{9, 11}));
  EXPECT_TRUE(Call(u"do_fix", I(3)).IsEmpty()) << "no handler yet: empty";
}

TEST_F(DispatchTest, TrayRegistersTheHelperAtLogonAndRemovesIt) {
#ifndef _WIN32
  // The posix machine writes logon entries only for a session's user.
  Testing::OwnDesktopSession session;
#endif
  RegisterApplicationCommands();
  const std::u16string helper = App::TrayHelperCommandLine(0);
  Platform::RegistryKey run;
  std::u16string value;

  EXPECT_EQ(Call(u"Tray", I(0)), B(true));
  ASSERT_EQ(Platform::RegistryKey::Open(Platform::kHkeyCurrentUser, System::kRunKey, Platform::RegAccess::Read,
                                        Platform::RegView::Default, run),
            0u);
  ASSERT_EQ(run.ReadString(u"RUDivIrav", value), 0u);
  EXPECT_EQ(value, helper);

  EXPECT_EQ(Call(u"Tray", I(1)), B(false));
  EXPECT_NE(run.ReadString(u"RUDivIrav", value), 0u);
  EXPECT_EQ(Call(u"Tray", I(1)), B(false)) << "the answer names the action, not its success";

  EXPECT_TRUE(Call(u"Tray", S(u"0")).IsEmpty());
  EXPECT_NE(run.ReadString(u"RUDivIrav", value), 0u);
}

TEST_F(DispatchTest, StartModeCommands) {
  RegisterApplicationCommands();
  App::SetPageMode(3);
  EXPECT_EQ(Call(u"get_command"), I(3));
  App::SetPageMode(0);
  // The test program's own command line: one argument gives it back.
  const auto args = App::SplitCommandLine(Platform::ProcessCommandLine());
  EXPECT_EQ(Call(u"do_extra_startup"), args.size() == 2 ? Variant::String(args[1]) : S(u"Normal"));
  EXPECT_TRUE(Call(u"shut_downmini", S(u"1")).IsEmpty());
  EXPECT_TRUE(Call(u"open_ie", I(1)).IsEmpty());
}

TEST_F(DispatchTest, LogTextReachesTheDiagnosticOutputAsItStands) {
  Testing::DebugLines debug;
  EXPECT_TRUE(Call(u"log", S(u"安装失败 %s 0x80070005")).IsEmpty());
  EXPECT_TRUE(Call(u"log", I(7)).IsEmpty());  // not a text: nothing written
  EXPECT_EQ(std::vector<std::u16string>{u"安装失败 %s 0x80070005"}, debug.Lines());
}

TEST_F(DispatchTest, HugeAndMalformedInputIsHandledByTheRules) {
  const std::u16string huge(8u << 20, u'字');
  EXPECT_TRUE(Call(u"log", S(huge.c_str())).IsEmpty());
  EXPECT_TRUE(Call(u"log", I(1)).IsEmpty());
  EXPECT_TRUE(Call(Variant::String(huge)).IsEmpty());
  Call(u"save_settings", S(u"big"), Variant::String(huge.substr(0, 100000)));
  EXPECT_EQ(Call(u"load_settings", S(u"big"), S(u"")).AsString().size(), 100000u);
  Call(u"messagebox", Variant::String(huge));
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.size(), huge.size());
}

TEST_F(DispatchTest, CommandsRunConcurrentlyFromSeveralThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        Variant result;
        const std::u16string key = u"t" + Platform::ToU16(t);
        DispatchCommand(result, &dialog_, S(u"save_settings"), Variant::String(key), I(i), {}, {});
        DispatchCommand(result, &dialog_, S(u"load_settings"), Variant::String(key), I(-5), {}, {});
        if (result != I(i)) ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace Zentrovak::Commands
