// The posix resolver answers from the machine's own hosts file first, as
// Windows' resolver answers from its own.
#include <gtest/gtest.h>

#include "checkfix/dns_item.h"
#include "checkfix/hosts_item.h"
#include "platform/files.h"

namespace Zentrovak::Assistant {
namespace {

TEST(DnsCheckOnTheMachine, NamesFromTheMachinesHostsFileResolveToAllTheirAddresses) {
  std::string original;
  const bool hadFile = Platform::Succeeded(Platform::ReadWholeFile(HostsFilePath(), original));
  ASSERT_FALSE(Platform::Failed(Platform::WriteWholeFile(
      HostsFilePath(), "10.1.0.1 bank.test\r\n2001:db8::5 bank.test\r\n10.1.0.2 BANK.TEST # second\r\n")));
  struct Case {
    const char* allowed;
    int32_t expected;
  } const cases[] = {
      {"10.1.0.1|10.1.0.2", Passed},
      {"10.1.0.2|10.1.0.1", Passed},
      {"10.1.0.1", Failed},
      {"10.1.0.2", Failed},
  };
  CheckFixDns dns;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.allowed);
    ConfigEntry entry;
    entry.text = "bank.test";
    entry.attributes["ip"] = c.allowed;
    EXPECT_EQ(c.expected, dns.CheckEntry(entry));
  }
  // An address nobody names falls back to the DNS query of its text,
  // which answers the address itself, as Windows' DNS client does.
  ConfigEntry unnamed;
  unnamed.text = "192.0.2.1";
  unnamed.attributes["ip"] = "192.0.2.1";
  EXPECT_EQ(Passed, dns.CheckEntry(unnamed));
  unnamed.attributes["ip"] = "10.1.0.1";
  EXPECT_EQ(Failed, dns.CheckEntry(unnamed));
  if (hadFile) Platform::WriteWholeFile(HostsFilePath(), original);
}

}  // namespace
}  // namespace Zentrovak::Assistant
