// The engine's page calls: names, argument order and types as the page
// receives them.
#include <gtest/gtest.h>

#include "checkfix/page_calls.h"
#include "support/recording_dialog.h"
#include "ui/resources.h"

namespace Zentrovak::Assistant {
namespace {

using UI::Variant;

TEST(PageCalls, ArgumentsArriveInTheirOrderAndTypes) {
  Testing::RecordingDialog page;
  setHtmlItemText(u"info", u"正在安装");
  setItemInfo(3, "name", "网银控件");
  setProgress(false, 42, -1);
  const auto calls = page.Calls();
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ(u"setHtmlItemText", calls[0].name);
  EXPECT_EQ((std::vector<Variant>{Variant::String(u"info"), Variant::String(u"正在安装")}), calls[0].args);
  EXPECT_EQ(u"setItemInfo", calls[1].name);
  EXPECT_EQ((std::vector<Variant>{Variant::Int(3), Variant::String(u"name"), Variant::String(u"网银控件")}),
            calls[1].args);
  EXPECT_EQ(u"setProgress", calls[2].name);
  EXPECT_EQ((std::vector<Variant>{Variant::Bool(false), Variant::Int(42), Variant::Int(-1)}), calls[2].args);
}

TEST(PageCalls, StringTableTextsAreSentOnlyWhenBothExist) {
  Testing::RecordingDialog page;
  EXPECT_EQ(Platform::kSOk, setHtmlItemText(102, 109));
  const auto calls = page.CallsOf(u"setHtmlItemText");
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(Variant::String(UI::LoadStringResource(102)), calls[0].args[0]);
  EXPECT_EQ(Variant::String(u"您的网银助手已是最新版本"), calls[0].args[1]);
  page.Clear();
  EXPECT_TRUE(Platform::Failed(setHtmlItemText(102, 9999)));
  EXPECT_TRUE(Platform::Failed(setHtmlItemText(9999, 109)));
  EXPECT_TRUE(page.Calls().empty());
}

TEST(PageCalls, WithoutADialogNothingIsSent) {
  EXPECT_TRUE(Platform::Failed(setProgress(true, 1, 0)));
}

}  // namespace
}  // namespace Zentrovak::Assistant
