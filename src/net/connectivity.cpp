#include "net/connectivity.h"

#include "app/assistant_app.h"
#include "app/settings.h"
#include "commands/command_ids.h"
#include "commands/command_registry.h"
#include "net/bounded_worker.h"
#include "net/http.h"

namespace Zentrovak::Network {

namespace {
constexpr uint32_t kCommandPublicLimitMs = 2000;
constexpr uint32_t kCommandBankLimitMs = 1000;
}  // namespace

int32_t ProbeUrl(const std::u16string& url) {
  std::string body;
  return Platform::Succeeded(HttpGetToMemory(url, body)) ? 1 : 0;
}

int32_t ProbeUrlWithin(const std::u16string& url, uint32_t timeoutMs) {
  // The worker's request picks up the worker's cancel signal, so a late
  // probe stops its transfer instead of holding on to the agent.
  return RunBounded([url](const std::atomic<bool>&) { return ProbeUrl(url); }, timeoutMs).value_or(0) == 1 ? 1 : 0;
}

int32_t ProbePublicSite(uint32_t timeoutMs) { return ProbeUrlWithin(App::PublicProbeSite(), timeoutMs); }

int32_t ProbeDownloadServer(uint32_t timeoutMs) {
  return ProbeUrlWithin(App::DefaultConfigurationUrl(), timeoutMs);
}

ConnectivityProbes DeploymentProbes() {
  return {[] { return IsInternetConnected(nullptr); }, App::PublicProbeSite(), App::DefaultConfigurationUrl()};
}

int32_t ComputeInternetState(uint32_t publicTimeoutMs, uint32_t bankTimeoutMs, const ConnectivityProbes& probes) {
  int32_t state = kStateOffline;
  if (probes.isConnected && probes.isConnected()) {
    if (ProbeUrlWithin(probes.publicSite, publicTimeoutMs) == 1)
      state = kStateOnline;
    else if (ProbeUrlWithin(probes.downloadServerUrl, bankTimeoutMs) == 1)
      state = kStateLimited;
  }
  App::TheApp().internetState = state;
  return state;
}

int32_t ComputeInternetState(uint32_t publicTimeoutMs, uint32_t bankTimeoutMs) {
  return ComputeInternetState(publicTimeoutMs, bankTimeoutMs, DeploymentProbes());
}

void RegisterNetworkCommands() {
  Commands::SetCommandHandler(Commands::kGetInternetState,
                              [](UI::Variant& result, UI::IBSDialog*, const UI::Variant&, const UI::Variant&,
                                 const UI::Variant&, const UI::Variant&) {
                                result = UI::Variant::Int(ComputeInternetState(kCommandPublicLimitMs, kCommandBankLimitMs));
                              });
}

}  // namespace Zentrovak::Network
