#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/debug_out.h"
#include "platform/debug_output.h"

namespace Zentrovak::App {
namespace {

class DebugOutput : public testing::Test {
 protected:
  void SetUp() override {
    Platform::SetDebugSink([this](std::u16string_view text) { lines_.emplace_back(text); });
  }
  void TearDown() override { Platform::SetDebugSink(nullptr); }
  std::vector<std::u16string> lines_;
};

TEST_F(DebugOutput, FormatsTheProgramsLines) {
  DebugOut(u"Before NwBsDialog %d", 1234);
  DebugOut(u"Send %s errno: %d ", u"time.example", -3);
  DebugOut(u"检测到%sKey插入...\r\n", u"FT_1");
  DebugOut(u"%S|%5d|%-3d|%03u|%x|%X|%%|%c", "utf8", 42, 7, 5u, 255u, 255u, u'Z');
  ASSERT_EQ(4u, lines_.size());
  EXPECT_EQ(u"Before NwBsDialog 1234", lines_[0]);
  EXPECT_EQ(u"Send time.example errno: -3 ", lines_[1]);
  EXPECT_EQ(u"检测到FT_1Key插入...\r\n", lines_[2]);
  EXPECT_EQ(u"utf8|   42|7  |005|ff|FF|%|Z", lines_[3]);
}

TEST_F(DebugOutput, LongOutputIsCutNotOverflowed) {
  const std::u16string long_text(5000, u'x');
  DebugOut(u"%s!", long_text.c_str());
  ASSERT_EQ(1u, lines_.size());
  EXPECT_EQ(3071u, lines_[0].size());
  // The direct write passes any text as it is.
  DebugWrite(long_text);
  EXPECT_EQ(long_text, lines_[1]);
}

}  // namespace
}  // namespace Zentrovak::App
