// What only the Linux build has: proxies from the environment and from the
// separate registry values, the script reader without a script engine, and
// the machine's recorded clock.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "net/posix/proxy_posix.h"
#include "net/time_sync.h"
#include "net_test_support.h"
#include "platform/system_clock.h"
#include "support/test_support.h"

namespace Zentrovak::Network {
namespace {

using namespace Testing;

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
  ~ScopedEnvironment() { ::unsetenv(name_); }

 private:
  const char* name_;
};

TEST(PosixProxy, EnvironmentProxyAndItsExceptions) {
  const std::string proxy = "http://127.0.0.1:" + std::to_string(HttpPort());
  ScopedEnvironment http("http_proxy", proxy);
  {
    AssistantHttp agent;
    std::string body;
    EXPECT_EQ(Platform::kSOk, agent.Get(u"http://env.invalid/p", {}, body));
    EXPECT_EQ("proxied http://env.invalid/p", body);
  }
  ScopedEnvironment noProxy("no_proxy", "env.invalid,127.0.0.1");
  AssistantHttp agent;
  std::string body;
  EXPECT_TRUE(Platform::Failed(agent.Get(u"http://env.invalid/p", {}, body)));
  EXPECT_EQ(Platform::kSOk, agent.Get(HttpOrigin() + u"/straight", {}, body));
  EXPECT_EQ("/straight", ParseEcho(body).path);
}

TEST(PosixProxy, SeparateRegistryValuesWithoutTheBlob) {
  using Platform::RegistryKey;
  RegistryKey settings;
  ASSERT_EQ(0u, RegistryKey::Create(Platform::kHkeyCurrentUser,
                                    u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                                    Platform::RegAccess::ReadWrite, Platform::RegView::Default, settings));
  settings.WriteDword(u"ProxyEnable", 1);
  settings.WriteString(u"ProxyServer", u"http=127.0.0.1:" + Platform::ToU16(HttpPort()) + u";ftp=elsewhere:21");
  settings.WriteString(u"ProxyOverride", u"<local>;127.*");
  {
    AssistantHttp agent;
    std::string body;
    EXPECT_EQ(Platform::kSOk, agent.Get(u"http://values.invalid/v", {}, body));
    EXPECT_EQ("proxied http://values.invalid/v", body);
    EXPECT_TRUE(Platform::Failed(agent.Get(u"http://dotless/v", {}, body))) << "<local> goes direct";
    EXPECT_EQ(Platform::kSOk, agent.Get(HttpOrigin() + u"/loop", {}, body));
    EXPECT_EQ("/loop", ParseEcho(body).path);
  }
  settings.WriteDword(u"ProxyEnable", 0);
  AssistantHttp agent;
  std::string body;
  EXPECT_TRUE(Platform::Failed(agent.Get(u"http://values.invalid/v", {}, body)));
  settings.DeleteValue(u"ProxyEnable");
  settings.DeleteValue(u"ProxyServer");
  settings.DeleteValue(u"ProxyOverride");
}

TEST(PosixProxy, ScriptThatDecidesByConditionsIsNotGuessed) {
  const std::string script = Platform::Utf16ToUtf8(HttpOrigin()) + "/pac/conditional";
  ConnectionSettingsOverride settings(ConnectionSettingsOverride::Blob(4, "", "", script));
  AssistantHttp agent;
  std::string body;
  EXPECT_TRUE(Platform::Failed(agent.Get(u"http://pac.invalid/through", {}, body)));
  EXPECT_EQ(Platform::kSOk, agent.Get(HttpOrigin() + u"/still", {}, body));
}

TEST(PosixProxy, ScriptAnswers) {
  const struct {
    const char* script;
    const char* answer;
  } cases[] = {
      {"function FindProxyForURL(u, h) { return \"PROXY a:1\"; }", "PROXY a:1"},
      {"function FindProxyForURL(u, h) {return 'DIRECT';}", "DIRECT"},
      {"function FindProxyForURL(u,h){ if (h == 'x') return \"DIRECT\"; return \"PROXY a:1\"; }", ""},
      {"function FindProxyForURL(u,h){ if (h == 'x') return \"PROXY a:1\"; return \"PROXY a:1\"; }", "PROXY a:1"},
      {"function FindProxyForURL(u,h){ return pick(h); }", ""},
      {"function FindProxyForURL(u,h){ return \"unterminated", ""},
      {"var returned = 1; function FindProxyForURL(u,h){ return \"PROXY a:1\"; }", "PROXY a:1"},
      {"", ""},
      {"\x01\x02 return", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.answer, Posix::ConstantScriptAnswer(c.script)) << c.script;

  Posix::ProxyChoice choice;
  EXPECT_TRUE(Posix::ParseScriptAnswer("SOCKS s:1; PROXY p:2; DIRECT", choice));
  EXPECT_TRUE(choice.viaProxy);
  EXPECT_EQ("p:2", choice.proxy);
  EXPECT_TRUE(Posix::ParseScriptAnswer(" DIRECT ", choice));
  EXPECT_FALSE(choice.viaProxy);
  EXPECT_FALSE(Posix::ParseScriptAnswer("SOCKS s:1", choice));
  EXPECT_FALSE(Posix::ParseScriptAnswer("PROXY", choice));
  EXPECT_FALSE(Posix::ParseScriptAnswer(";;", choice));
}

std::string RecordedClock() {
  std::ifstream file(Zentrovak::Testing::TestMachineDirectory() + "/system-clock");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(PosixClock, TheMachineRecordsTheTimeItWouldSet) {
  EXPECT_EQ(0u, Platform::SetSystemClock({2014, 1, 29, 16, 0, 0, 0}));
  EXPECT_EQ("2014-01-29T16:00:00Z\n", RecordedClock());
  EXPECT_EQ(Platform::kErrorInvalidParameter, Platform::SetSystemClock({2014, 13, 29, 16, 0, 0, 0}));
  EXPECT_EQ("2014-01-29T16:00:00Z\n", RecordedClock());
}

TEST(PosixClock, ARealNtpServerSetsTheRecordedClock) {
  const char* chrony = std::getenv("ZT_CHRONY_PORT");
  if (!chrony) GTEST_SKIP() << "chronyd is not available";
  TimeSyncOptions options;
  options.port = static_cast<uint16_t>(std::atoi(chrony));
  EXPECT_EQ(0, SyncTime({u"127.0.0.1"}, options));
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y-%m-%d", std::gmtime(&now));
  EXPECT_EQ(0u, RecordedClock().rfind(today, 0)) << RecordedClock();
}

}  // namespace
}  // namespace Zentrovak::Network
