// The DNS and URL checks against the real resolver and real connections on
// loopback.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "checkfix/dns_item.h"
#include "checkfix/engine_hooks.h"
#include "checkfix/url_item.h"
#include "platform/text.h"
#include "support/loopback_server.h"

namespace Zentrovak::Assistant {
namespace {

ConfigEntry DnsEntry(const std::string& text, const std::string& allowed) {
  ConfigEntry entry;
  entry.text = text;
  entry.attributes["ip"] = allowed;
  return entry;
}

class DnsCheck : public ::testing::Test {
 protected:
  void TearDown() override { ResetHooks(); }
};

TEST_F(DnsCheck, EveryResolvedAddressMustBeAllowed) {
  struct Case {
    const char* text;
    const char* allowed;
    int32_t expected;
  } const cases[] = {
      {"localhost", "127.0.0.1", Passed},
      {"LOCALHOST", "10.0.0.1||127.0.0.1", Passed},
      {"localhost", "10.0.0.1|", Failed},
      {"localhost", "127.0.0.10", Failed},  // exact text, not a prefix
      {"localhost", "", Failed},
      {"127.0.0.1", "127.0.0.1", Passed},  // by address: the address itself
      {"no-such-host.invalid", "127.0.0.1", Failed},
  };
  CheckFixDns dns;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + std::string(" / ") + c.allowed);
    ConfigEntry entry = DnsEntry(c.text, c.allowed);
    EXPECT_EQ(c.expected, dns.CheckEntry(entry));
  }
}

TEST_F(DnsCheck, AProxyMakesTheAnswerMeaninglessAndThereIsNoRepair) {
  Hooks().isProxyConfigured = [] { return 1; };
  CheckFixDns dns;
  ConfigEntry entry = DnsEntry("localhost", "127.0.0.1");
  EXPECT_EQ(NotSupported, dns.CheckEntry(entry));
  EXPECT_EQ(NotSupported, dns.FixEntry(entry));
}

TEST(UrlCheck, PassesWhenAConnectionCanBeMade) {
  auto server = std::make_unique<Testing::LoopbackServer>();
  ASSERT_TRUE(server->Started());
  CheckFixUrl url;
  ConfigEntry reachable;
  reachable.text = Platform::Utf16ToUtf8(server->Url("/netbank/index.html"));
  EXPECT_EQ(Passed, url.CheckEntry(reachable));
  EXPECT_EQ(NotSupported, url.FixEntry(reachable));

  server.reset();  // nobody listens on its port any more
  EXPECT_EQ(Failed, url.CheckEntry(reachable));
  ConfigEntry malformed;
  malformed.text = "not an address";
  EXPECT_EQ(Failed, url.CheckEntry(malformed));
}

}  // namespace
}  // namespace Zentrovak::Assistant
