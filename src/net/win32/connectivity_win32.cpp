#include <windows.h>
#include <wininet.h>

#include "net/connectivity.h"

namespace Zentrovak::Network {

bool IsInternetConnected(uint32_t* flags) {
  DWORD description = 0;
  const bool connected = ::InternetGetConnectedState(&description, 0) != FALSE;
  if (flags) *flags = description;
  return connected;
}

}  // namespace Zentrovak::Network
