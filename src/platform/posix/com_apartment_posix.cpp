#include "platform/com_apartment.h"

namespace Zentrovak::Platform {

HResult EnterComApartment(ApartmentKind) { return kSOk; }
void LeaveComApartment(ApartmentKind) {}

}  // namespace Zentrovak::Platform
