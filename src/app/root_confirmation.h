// The question the posix machine asks before a certificate joins the
// user's trusted roots, in the page's own box, worded as Windows' security
// warning. (On Windows, Windows asks itself.)
#pragma once
#include "platform/cert_store.h"

namespace Zentrovak::App {

// Asks through the yes/no box; true for yes.
bool AskToTrustRoot(const Platform::RootAdditionRequest& request);

}  // namespace Zentrovak::App
