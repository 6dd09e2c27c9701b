// The dialog window's messages for work that must run on its thread.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "ui/variant.h"

namespace Zentrovak::UI::Win32 {

// wParam: the operation code; lParam: its arguments; the result is the
// operation's HRESULT.
inline constexpr UINT kPageCallMessage = WM_USER + 1;
// lParam: an IDispatch whose last reference a worker dropped.
inline constexpr UINT kReleaseObjectMessage = WM_USER + 2;

enum PageCallCode : WPARAM {
  kCodeCallFunction = 1,
  kCodeInvokeObject = 2,
  kCodeSetVariable = 3,
  kCodeGetVariable = 4,
  kCodeExecScript = 5,
  kCodeNewObject = 6,
};

class DispatchObject;

struct ObjectCall {
  DispatchObject* object;
  const std::u16string* name;
  const std::vector<Variant>* args;
  Variant* result;
};

}  // namespace Zentrovak::UI::Win32
