// The page server behind the bridge gate. It listens nowhere itself: the
// gate accepts each connection, reads its head within limits, and hands it
// here, where the HTTP server library answers it as if it had read the
// head itself.
#pragma once
#include <httplib.h>

#include "ui/posix/bridge_gate.h"

namespace Zentrovak::UI::Posix {

class GatedServer : public httplib::Server {
 public:
  // Until Shut the server counts as running: the library ends an answer
  // written piece by piece (the event stream) when it does not.
  GatedServer();
  void Shut();
  // Answers the connection's one request; the caller closes the socket.
  void Serve(const AdmittedConnection& connection);
};

}  // namespace Zentrovak::UI::Posix
