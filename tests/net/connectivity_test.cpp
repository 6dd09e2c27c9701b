// The connectivity state from real probes of loopback servers that answer,
// answer with an error, or never answer.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/assistant_app.h"
#include "app/settings.h"
#include "commands/command_registry.h"
#include "net/connectivity.h"
#include "net_test_support.h"
#include "support/test_support.h"

namespace Zentrovak::Network {
namespace {

using namespace Testing;

bool Requested(const std::vector<std::string>& log, const std::string& prefix) {
  return std::any_of(log.begin(), log.end(), [&](const std::string& path) { return path.rfind(prefix, 0) == 0; });
}

class ConnectivityTest : public testing::Test {
 protected:
  void SetUp() override {
    ClearServerLog(TheAssistantHttp());
    App::TheApp().internetState = -7;
  }
  ConnectivityProbes Probes(bool connected, const std::u16string& publicPath, const std::u16string& bankPath) {
    return {[connected] { return connected; }, HttpOrigin() + publicPath, HttpOrigin() + bankPath};
  }
};

TEST_F(ConnectivityTest, NoConnectionIsOfflineAtOnceWithoutTraffic) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kStateOffline, ComputeInternetState(2000, 1000, Probes(false, u"/pub0/", u"/bank0/download/itemV3.xml")));
  EXPECT_LT(ElapsedMs(start), 500u);
  EXPECT_EQ(kStateOffline, App::TheApp().internetState.load());
  EXPECT_TRUE(ServerLog(TheAssistantHttp()).empty());
}

TEST_F(ConnectivityTest, AnsweringPublicSiteIsOnlineWithoutAskingTheBank) {
  EXPECT_EQ(kStateOnline, ComputeInternetState(2000, 1000, Probes(true, u"/pub1/", u"/bank1/download/itemV3.xml")));
  EXPECT_EQ(kStateOnline, App::TheApp().internetState.load());
  const auto log = ServerLog(TheAssistantHttp());
  EXPECT_TRUE(Requested(log, "/pub1/"));
  EXPECT_FALSE(Requested(log, "/bank1/"));
}

TEST_F(ConnectivityTest, AnErrorStatusCountsAsAnAnswer) {
  EXPECT_EQ(kStateOnline, ComputeInternetState(2000, 1000, Probes(true, u"/status/404", u"/bank2/")));
  EXPECT_EQ(kStateOnline, ComputeInternetState(2000, 1000, Probes(true, u"/status/503", u"/bank2/")));
  EXPECT_EQ(1, ProbeUrl(HttpOrigin() + u"/status/500"));
  EXPECT_EQ(0, ProbeUrl(u"http://127.0.0.1:1/"));
}

TEST_F(ConnectivityTest, OnlyTheBankAnsweringIsLimitedAfterThePublicLimit) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kStateLimited, ComputeInternetState(1000, 2000, Probes(true, u"/stall/pub3", u"/bank3/download/itemV3.xml")));
  const uint32_t elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 1000u);
  EXPECT_LT(elapsed, 1000u + 2000u + 1500u);
  EXPECT_EQ(kStateLimited, App::TheApp().internetState.load());
  EXPECT_TRUE(Requested(ServerLog(TheAssistantHttp()), "/bank3/download/itemV3.xml"));
}

TEST_F(ConnectivityTest, BothSilentIsOfflineAfterBothLimits) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kStateOffline, ComputeInternetState(700, 500, Probes(true, u"/stall/pub4", u"/stall/bank4")));
  const uint32_t elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 1200u);
  EXPECT_LT(elapsed, 1200u + 1500u);
  EXPECT_EQ(kStateOffline, App::TheApp().internetState.load());
  // The abandoned probes leave the agent fit for the next request.
  EXPECT_EQ(1, ProbeUrlWithin(HttpOrigin() + u"/after-silence", 2000));
}

TEST_F(ConnectivityTest, SlowAnswerPastTheLimitCountsAsNone) {
  EXPECT_EQ(0, ProbeUrlWithin(HttpOrigin() + u"/slow/1500", 500));
  EXPECT_EQ(1, ProbeUrlWithin(HttpOrigin() + u"/slow/100", 3000));
}

TEST_F(ConnectivityTest, GetInternetStateCommandUsesTheDeploymentAddresses) {
  if (!IsInternetConnected()) GTEST_SKIP() << "this machine reports no network connection";
  const std::u16string key = Zentrovak::Testing::TestRegistryPath().substr(std::u16string(u"Software\\").size());
  App::SetSettingsRegistryKey(key);
  App::WriteSettingString(App::kSettingsSection, u"ProbeSite", HttpOrigin() + u"/status/404");
  App::WriteSettingString(App::kSettingsSection, u"DownloadServer", HttpOrigin() + u"/srv5/");
  RegisterNetworkCommands();
  UI::Variant result;
  ASSERT_TRUE(Commands::RunCommandHandler(29, result, nullptr, {}, {}, {}, {}));
  EXPECT_EQ(UI::Variant::Int(kStateOnline), result);

  App::WriteSettingString(App::kSettingsSection, u"ProbeSite", HttpOrigin() + u"/stall/cmd5");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Commands::RunCommandHandler(29, result, nullptr, {}, {}, {}, {}));
  EXPECT_EQ(UI::Variant::Int(kStateLimited), result);
  EXPECT_GE(ElapsedMs(start), 2000u);
  EXPECT_EQ(kStateLimited, App::TheApp().internetState.load());
  EXPECT_TRUE(Requested(ServerLog(TheAssistantHttp()), "/srv5/download/itemV3.xml"));
  App::SetSettingsRegistryKey(u"");
}

}  // namespace
}  // namespace Zentrovak::Network
