// The drivers that run entries through a check-fix class, with a scripted
// class whose answers each test sets.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "checkfix/check_fix.h"
#include "scripted_check_fix.h"

namespace Zentrovak::Assistant {
namespace {

using Testing::ScriptedCheckFix;

std::vector<ConfigEntry> Entries(std::initializer_list<const char*> texts) {
  std::vector<ConfigEntry> entries;
  for (const char* text : texts) {
    ConfigEntry entry;
    entry.text = text;
    entries.push_back(entry);
  }
  return entries;
}

std::vector<int32_t> States(const std::vector<ConfigEntry>& entries) {
  std::vector<int32_t> states;
  for (const ConfigEntry& e : entries) states.push_back(e.state);
  return states;
}

TEST(CheckAll, StopAtFirstFailureLeavesTheRestUncheckedAndFixAllChecksThemBeforeRepairing) {
  ScriptedCheckFix c;
  // "c" is fine and has no repair (a value that only has to exist); "d"
  // fails and can be repaired.
  c.checks = {{"a", Passed}, {"b", Failed}, {"c", Passed}, {"d", Failed}};
  c.fixes = {{"b", Passed}, {"c", NotSupported}, {"d", Passed}};
  auto entries = Entries({"a", "b", "c", "d"});
  entries[2].state = Passed;  // a stale state is reset by the run
  EXPECT_EQ(Failed, c.CheckAll(entries.data(), entries.size(), true));
  EXPECT_EQ((std::vector<int32_t>{Passed, Failed, Unchecked, Unchecked}), States(entries));
  EXPECT_EQ((std::vector<std::string>{"BeginCheck", "check a", "check b"}), c.calls);

  c.calls.clear();
  EXPECT_EQ(Passed, c.FixAll(entries.data(), entries.size()));
  EXPECT_EQ((std::vector<std::string>{"BeginFix", "BeginCheck", "fix b", "check c", "check d", "fix d", "EndFix"}),
            c.calls);
  EXPECT_EQ((std::vector<int32_t>{Passed, Passed, Passed, Passed}), States(entries));
}

TEST(CheckAll, WithoutStopTheLastFailureWinsAndEndCheckIsSkipped) {
  ScriptedCheckFix c;
  c.checks = {{"a", Failed}, {"b", Passed}, {"c", Disabled}, {"d", NeedsUpdate}};
  auto entries = Entries({"a", "b", "c", "d"});
  EXPECT_EQ(Disabled, c.CheckAll(entries.data(), entries.size(), false));
  EXPECT_EQ((std::vector<int32_t>{Failed, Passed, Disabled, NeedsUpdate}), States(entries));
  EXPECT_EQ("check d", c.calls.back());  // no EndCheck
}

TEST(CheckAll, UpdatesAreReportedOnlyWhenEndCheckPasses) {
  ScriptedCheckFix c;
  c.checks = {{"a", Passed}, {"b", NeedsUpdate}, {"c", Passed}};
  auto entries = Entries({"a", "b", "c"});
  EXPECT_EQ(NeedsUpdate, c.CheckAll(entries.data(), entries.size(), false));
  EXPECT_EQ("EndCheck", c.calls.back());
  c.endCheck = NotSupported;
  EXPECT_EQ(NotSupported, c.CheckAll(entries.data(), entries.size(), true));
  c.endCheck = Passed;
  c.checks["b"] = Passed;
  EXPECT_EQ(Passed, c.CheckAll(entries.data(), entries.size(), true));
}

TEST(CheckAll, AFailedBeginEndsTheRunWithEntryStatesKept) {
  ScriptedCheckFix c;
  c.beginCheck = Failed;
  auto entries = Entries({"a", "b"});
  entries[0].state = Passed;
  entries[1].state = Disabled;
  EXPECT_EQ(Failed, c.CheckAll(entries.data(), entries.size(), false));
  EXPECT_EQ((std::vector<int32_t>{Passed, Disabled}), States(entries));
  EXPECT_EQ((std::vector<std::string>{"BeginCheck"}), c.calls);

  c.beginFix = Cancelled;
  EXPECT_EQ(Cancelled, c.FixAll(entries.data(), entries.size()));
  EXPECT_EQ(0u, c.fixCount);
}

TEST(FixAll, StopsAtTheFirstFailedRepairWithoutEndFix) {
  ScriptedCheckFix c;
  c.fixes = {{"a", Passed}, {"b", NotSupported}, {"c", Passed}};
  auto entries = Entries({"a", "b", "c"});
  for (ConfigEntry& entry : entries) entry.state = Failed;
  EXPECT_EQ(NotSupported, c.FixAll(entries.data(), entries.size()));
  EXPECT_EQ((std::vector<std::string>{"BeginFix", "fix a", "fix b"}), c.calls);
  EXPECT_EQ((std::vector<int32_t>{Passed, NotSupported, Failed}), States(entries));

  c.fixes["b"] = Passed;
  c.endFix = Failed;  // e.g. writing the hosts file back failed
  c.calls.clear();
  EXPECT_EQ(Failed, c.FixAll(entries.data(), entries.size()));
  EXPECT_EQ((std::vector<std::string>{"BeginFix", "fix b", "fix c", "EndFix"}), c.calls);
}

class Detection : public testing::Test {
 protected:
  void SetUp() override {
    auto scripted = std::make_unique<ScriptedCheckFix>();
    checker_ = scripted.get();
    CheckFixFactory::Instance().Register("scripted-detect", std::move(scripted));
  }
  ConfigItem Item(std::initializer_list<std::pair<const char*, const char*>> detects) {
    ConfigItem item;
    for (const auto& [dtype, text] : detects) {
      ConfigEntry entry;
      entry.text = text;
      StoreAttribute(entry.attributes, "dtype", dtype);
      item.detect.push_back(entry);
    }
    return item;
  }
  ScriptedCheckFix* checker_ = nullptr;
};

TEST_F(Detection, AnUnknownDetectTypeAnswersUnknownTypeWhateverElse) {
  checker_->checks = {{"ok", Passed}, {"bad", Failed}};
  ConfigItem item = Item({{"scripted-detect", "bad"}, {"no-such-type", "x"}, {"scripted-detect", "ok"}});
  EXPECT_EQ(UnknownType, DetectItem(item, false));
  EXPECT_EQ(1u, checker_->checkCount);  // the loop ends at the unknown type
  ConfigItem upper = Item({{"Scripted-Detect", "ok"}});  // types are exact
  EXPECT_EQ(UnknownType, DetectItem(upper, true));
}

TEST_F(Detection, UpdatesAndFailuresCombine) {
  checker_->checks = {{"ok", Passed}, {"old", NeedsUpdate}, {"bad", Failed}, {"off", Disabled}};
  ConfigItem updates = Item({{"scripted-detect", "ok"}, {"scripted-detect", "old"}});
  EXPECT_EQ(NeedsUpdate, DetectItem(updates, true));
  ConfigItem failures = Item({{"scripted-detect", "bad"}, {"scripted-detect", "old"}, {"scripted-detect", "off"}});
  EXPECT_EQ(Disabled, DetectItem(failures, false));  // the last failure without stop
  EXPECT_EQ(Failed, DetectItem(failures, true));
  EXPECT_EQ(Passed, DetectItem(*std::make_unique<ConfigItem>(), true));  // no detect entries
}

TEST(Factory, TypesAreExactAndGroupsOfUnknownTypesAnswerZero) {
  for (const char* type : {"registry", "clsid", "file"}) EXPECT_NE(nullptr, FindCheckFix(type)) << type;
  EXPECT_EQ(FindCheckFix("registry"), FindCheckFix("registry"));  // one shared instance
  EXPECT_EQ(nullptr, FindCheckFix("Registry"));
  EXPECT_EQ(nullptr, FindCheckFix(""));
  ConfigGroup group{"no-such-type", Entries({"a"})};
  EXPECT_EQ(0, CheckGroup(group, false));
  EXPECT_EQ(0, FixGroup(group));
  EXPECT_EQ(Unchecked, group.entries[0].state);
}

bool Progress(const Network::DownloadProgress*) { return true; }

TEST(DownloadNotify, TheCallbackAndItsParameterTravelInTheEntry) {
  ConfigEntry entry;
  EXPECT_EQ(nullptr, AttachedDownloadCallback(entry));
  EXPECT_EQ(0, AttachedDownloadParameter(entry));
  AttachDownloadNotify(entry, Progress, -1);
  EXPECT_EQ(&Progress, AttachedDownloadCallback(entry));
  EXPECT_EQ(-1, AttachedDownloadParameter(entry));
  EXPECT_EQ("18446744073709551615", GetAttr(entry.attributes, "<para>"));
}

}  // namespace
}  // namespace Zentrovak::Assistant
