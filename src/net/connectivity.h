// Whether the PC is online, and whether at least the bank's download server
// answers: the connectivity state 0 (offline), 1 (limited), 2 (online).
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace Zentrovak::Network {

inline constexpr int32_t kStateOffline = 0;
inline constexpr int32_t kStateLimited = 1;
inline constexpr int32_t kStateOnline = 2;

// The system's connected-state flag. win32: InternetGetConnectedState;
// posix: some interface other than loopback is up, running and has a route.
// `flags` (may be null) receives the connection description (0x02 LAN).
bool IsInternetConnected(uint32_t* flags = nullptr);

// 1 when the address gives any HTTP answer (whatever its status), else 0.
int32_t ProbeUrl(const std::u16string& url);
// ProbeUrl on a worker thread, waited for at most `timeoutMs`; a probe that
// runs late counts as 0 and has its transfer cancelled.
int32_t ProbeUrlWithin(const std::u16string& url, uint32_t timeoutMs);
// The deployment's public web site and its bank download server (the
// built-in configuration address, not the "ConfigUrl" setting).
int32_t ProbePublicSite(uint32_t timeoutMs);
int32_t ProbeDownloadServer(uint32_t timeoutMs);

// What ComputeInternetState looks at.
struct ConnectivityProbes {
  std::function<bool()> isConnected;
  std::u16string publicSite;
  std::u16string downloadServerUrl;
};
ConnectivityProbes DeploymentProbes();

// 0 at once when the system reports no connection; else 2 when the public
// site answers within its limit, else 1 when the bank's server answers
// within its own, else 0. The probes run one after the other. The state is
// also stored in the application's `internetState`.
int32_t ComputeInternetState(uint32_t publicTimeoutMs, uint32_t bankTimeoutMs);
int32_t ComputeInternetState(uint32_t publicTimeoutMs, uint32_t bankTimeoutMs, const ConnectivityProbes& probes);

// Registers the command handlers of the network services (get_internet_state).
void RegisterNetworkCommands();

}  // namespace Zentrovak::Network
