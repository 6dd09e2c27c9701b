#include <windows.h>
#include <ole2.h>

#include "platform/com_apartment.h"

namespace Zentrovak::Platform {

HResult EnterComApartment(ApartmentKind kind) {
  return kind == ApartmentKind::UserInterface ? ::OleInitialize(nullptr)
                                              : ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

void LeaveComApartment(ApartmentKind kind) {
  if (kind == ApartmentKind::UserInterface) ::OleUninitialize();
  else ::CoUninitialize();
}

}  // namespace Zentrovak::Platform
