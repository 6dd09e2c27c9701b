// The benchmarks fetch nothing over the network. Until the HTTP agent is
// part of the core, these weak stand-ins let them link; the agent's own
// definitions take their place once it is there.
#pragma once
#include "net/http.h"

namespace Zentrovak::Network {

__attribute__((weak)) Platform::HResult HttpGetToMemory(const std::u16string&, std::string&) {
  return Platform::kENotImpl;
}
__attribute__((weak)) Platform::HResult HttpDownloadToFile(const std::u16string&, const std::u16string&,
                                                           DownloadCallback, int32_t) {
  return Platform::kENotImpl;
}

}  // namespace Zentrovak::Network
