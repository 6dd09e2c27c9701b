// The user's proxy on the posix machine: the browser settings in the
// machine's registry, as Windows keeps them, and the usual proxy
// environment variables.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::Network::Posix {

// How one request goes out: directly, or through `proxy` ("host:port"),
// except for the hosts of `noProxy` (curl's no_proxy form).
struct ProxyChoice {
  bool viaProxy = false;
  std::string proxy;
  std::string noProxy;
};

// From a WinHTTP proxy list ("host:port", or per scheme "http=h:p;https=h:p")
// and bypass list ("<local>", wildcards such as "*.example.com"), for one
// request.
ProxyChoice ChooseNamedProxy(std::u16string_view proxyList, std::u16string_view bypassList, bool secure,
                             std::u16string_view host);

// From http_proxy / https_proxy / all_proxy and no_proxy (lower case first).
ProxyChoice ChooseEnvironmentProxy(bool secure);

// The automatic-configuration script's answer for `url`. There is no script
// engine here: the script is fetched and its answer honoured when every
// return of the script gives the same plain text ("PROXY host:port",
// "DIRECT", or a list of them whose first usable entry wins). A script that
// decides by conditions cannot be answered (kAutoProxyServiceError), and the
// request then goes out as it would without the script.
Platform::Win32Error AnswerFromAutoConfigScript(std::u16string_view autoConfigUrl, const std::atomic<bool>& cancelled,
                                                ProxyChoice& choice);

// The script's single answer, or empty when it has none.
std::string ConstantScriptAnswer(std::string_view script);
// One answer list ("PROXY a:1; DIRECT") as a choice; false when no entry
// is usable.
bool ParseScriptAnswer(std::string_view answer, ProxyChoice& choice);

}  // namespace Zentrovak::Network::Posix
