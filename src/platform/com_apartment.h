// COM for a thread. win32: OLE on the user-interface thread (the browser
// control needs it), an apartment on worker threads; posix has no COM and
// answers S_OK.
#pragma once
#include "platform/errors.h"

namespace Zentrovak::Platform {

enum class ApartmentKind { UserInterface, Worker };

// Initialises COM for the calling thread; answers the system's result.
HResult EnterComApartment(ApartmentKind kind);
// Undoes one successful EnterComApartment of the calling thread.
void LeaveComApartment(ApartmentKind kind);

class ComApartmentScope {
 public:
  explicit ComApartmentScope(ApartmentKind kind) : kind_(kind), result_(EnterComApartment(kind)) {}
  ~ComApartmentScope() {
    if (Succeeded(result_)) LeaveComApartment(kind_);
  }
  ComApartmentScope(const ComApartmentScope&) = delete;
  ComApartmentScope& operator=(const ComApartmentScope&) = delete;
  HResult result() const { return result_; }

 private:
  ApartmentKind kind_;
  HResult result_;
};

}  // namespace Zentrovak::Platform
