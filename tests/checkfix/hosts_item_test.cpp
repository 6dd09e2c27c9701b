// The hosts check and repair against the machine's real hosts file: what
// counts as a line that sends a bank host elsewhere, and that a repair
// takes out exactly the bank's name and keeps every other byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checkfix/file_check.h"
#include "checkfix/hosts_item.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

class HostsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    RedirectionGuard off;
    hadFile_ = Platform::Succeeded(Platform::ReadWholeFile(HostsFilePath(), original_));
  }
  void TearDown() override {
    RedirectionGuard off;
    if (hadFile_) Platform::WriteWholeFile(HostsFilePath(), original_);
  }
  static void Write(const std::string& bytes) {
    RedirectionGuard off;
    ASSERT_FALSE(Platform::Failed(Platform::WriteWholeFile(HostsFilePath(), bytes)));
  }
  static std::string Read() {
    RedirectionGuard off;
    std::string bytes;
    Platform::ReadWholeFile(HostsFilePath(), bytes);
    return bytes;
  }
  static std::vector<ConfigEntry> Entries(std::initializer_list<const char*> hosts) {
    std::vector<ConfigEntry> entries;
    for (const char* host : hosts) {
      ConfigEntry entry;
      entry.text = host;
      entries.push_back(entry);
    }
    return entries;
  }

 private:
  bool hadFile_ = false;
  std::string original_;
};

struct HostsCase {
  const char* name;
  const char* host;
  std::string before;
  std::string after;  // the file after the repair; the same bytes: no redirect
};

const std::vector<HostsCase> kCases = {
    {"exact line in a CRLF file", "bank.example.cn", "127.0.0.1 localhost\r\n1.2.3.4 bank.example.cn\r\n# end\r\n",
     "127.0.0.1 localhost\r\n# end\r\n"},
    {"LF file keeps LF", "bank.example.cn", "1.2.3.4   bank.example.cn  \nkeep me\n", "keep me\n"},
    {"comment without a blank after it", "bank.example.cn", "1.2.3.4 bank.example.cn #x\r\nlast\r\n", "last\r\n"},
    {"comment glued to the name", "bank.example.cn", "1.2.3.4 bank.example.cn#x\n", ""},
    {"last line without a line end, in capitals", "bank.example.cn", "a\n1.2.3.4 BANK.Example.CN",
     "a\n"},
    {"IPv6 address", "bank.example.cn", "2001:db8::1 bank.example.cn\n::1 localhost\n", "::1 localhost\n"},
    {"among other names: only the bank's goes", "bank.example.cn",
     "1.2.3.4 other.cn bank.example.cn\tthird.cn # note\r\n", "1.2.3.4 other.cn\tthird.cn # note\r\n"},
    {"first of several names", "bank.example.cn", "1.2.3.4\tbank.example.cn other.cn\n", "1.2.3.4 other.cn\n"},
    {"neighbouring lines go in one repair", "bank.example.cn",
     "1.1.1.1 bank.example.cn\n2.2.2.2 bank.example.cn\nkeep\n", "keep\n"},
    {"regular-expression characters in the name", "bank(1)+[x].example.cn",
     "1.2.3.4 bank(1)+[x].example.cn\n5.6.7.8 bank1x.example.cn\n", "5.6.7.8 bank1x.example.cn\n"},
};

const std::vector<HostsCase> kNotRedirects = {
    {"longer name", "bank.example.cn", "1.2.3.4 bank.example.cn.evil.com\n", {}},
    {"extra label in front", "bank.example.cn", "1.2.3.4 www.bank.example.cn\n", {}},
    {"dot is no wildcard", "bank.example.cn", "1.2.3.4 bankxexample.cn\n", {}},
    {"commented out", "bank.example.cn", "# 1.2.3.4 bank.example.cn\n#1.2.3.4 bank.example.cn\r\n", {}},
    {"name in the comment only", "bank.example.cn", "1.2.3.4 other.cn # bank.example.cn\n", {}},
    {"no address first", "bank.example.cn", "bank.example.cn 1.2.3.4\n", {}},
};

TEST_F(HostsFile, ALineThatRedirectsTheBankFailsAndTheRepairTakesOutOnlyItsName) {
  for (const HostsCase& c : kCases) {
    SCOPED_TRACE(c.name);
    Write(c.before);
    CheckFixHost hosts;
    std::vector<ConfigEntry> entries = Entries({c.host});
    EXPECT_EQ(Failed, hosts.CheckAll(entries.data(), entries.size(), false));
    EXPECT_EQ(Passed, hosts.FixAll(entries.data(), entries.size()));
    EXPECT_EQ(c.after, Read());
    EXPECT_EQ(Passed, hosts.CheckAll(entries.data(), entries.size(), false));
  }
}

TEST_F(HostsFile, LinesThatDoNotRedirectTheBankPassAndStayByteForByte) {
  for (const HostsCase& c : kNotRedirects) {
    SCOPED_TRACE(c.name);
    Write(c.before);
    CheckFixHost hosts;
    std::vector<ConfigEntry> entries = Entries({c.host});
    EXPECT_EQ(Passed, hosts.CheckAll(entries.data(), entries.size(), false));
    entries[0].state = Failed;  // repair it all the same
    EXPECT_EQ(Passed, hosts.FixAll(entries.data(), entries.size()));
    EXPECT_EQ(c.before, Read());
  }
}

TEST_F(HostsFile, ARepairWithNoCheckBeforeItReadsTheFileFirst) {
  const std::string before = "127.0.0.1 localhost\r\n10.0.0.9 pay.example.cn\r\n1.2.3.4 bank.example.cn\r\n";
  Write(before);
  CheckFixHost hosts;  // no check ran in this instance
  std::vector<ConfigEntry> entries = Entries({"bank.example.cn", "pay.example.cn"});
  EXPECT_EQ(Passed, hosts.FixAll(entries.data(), entries.size()));
  EXPECT_EQ("127.0.0.1 localhost\r\n", Read());
  EXPECT_FALSE(Platform::FileExists(HostsFilePath() + u".new"));
}

TEST_F(HostsFile, ARepairKeepsWhatWasWrittenToTheFileAfterTheCheck) {
  Write("1.2.3.4 bank.example.cn\n");
  CheckFixHost hosts;
  std::vector<ConfigEntry> entries = Entries({"bank.example.cn"});
  EXPECT_EQ(Failed, hosts.CheckAll(entries.data(), entries.size(), false));
  Write("1.2.3.4 bank.example.cn\n10.1.1.1 printer.lan\n");
  EXPECT_EQ(Passed, hosts.FixAll(entries.data(), entries.size()));
  EXPECT_EQ("10.1.1.1 printer.lan\n", Read());
}

TEST_F(HostsFile, AReadOnlyFileIsLeftAsItIsAndTheRepairFails) {
  const std::string redirected = "1.2.3.4 bank.example.cn\r\n";
  Write(redirected);
  {
    RedirectionGuard off;
    ASSERT_TRUE(Testing::SetReadOnly(HostsFilePath(), true));
  }
  CheckFixHost hosts;
  std::vector<ConfigEntry> entries = Entries({"bank.example.cn"});
  EXPECT_EQ(Failed, hosts.CheckAll(entries.data(), entries.size(), false));
  EXPECT_EQ(Failed, hosts.FixAll(entries.data(), entries.size()));
  EXPECT_EQ(redirected, Read());
  RedirectionGuard off;
  EXPECT_FALSE(Platform::FileExists(HostsFilePath() + u".new"));
  ASSERT_TRUE(Testing::SetReadOnly(HostsFilePath(), false));
}

TEST_F(HostsFile, AFileThatCannotBeReadFailsTheWholeCheck) {
  RedirectionGuard off;
  ASSERT_EQ(Platform::kErrorSuccess, Platform::RemoveFile(HostsFilePath()));
  CheckFixHost hosts;
  std::vector<ConfigEntry> entries = Entries({"bank.example.cn"});
  EXPECT_EQ(Failed, hosts.CheckAll(entries.data(), entries.size(), false));
  EXPECT_EQ(Unchecked, entries[0].state);
  EXPECT_EQ(Failed, hosts.FixAll(entries.data(), entries.size()));
  EXPECT_FALSE(Platform::FileExists(HostsFilePath()));
}

}  // namespace
}  // namespace Zentrovak::Assistant
