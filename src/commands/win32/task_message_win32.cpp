#include <windows.h>
#include <commctrl.h>

#include "commands/task_message.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Commands {

namespace {

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Task dialogs exist from Vista on, and only in the version 6 controls.
TaskDialogIndirectFn TaskDialogFunction() {
  HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
  if (!comctl) comctl = ::LoadLibraryW(L"comctl32.dll");
  if (!comctl) return nullptr;
  return reinterpret_cast<TaskDialogIndirectFn>(
      reinterpret_cast<void*>(::GetProcAddress(comctl, "TaskDialogIndirect")));
}

PCWSTR TaskIcon(int kind) {
  switch (kind) {
    case 1: return TD_INFORMATION_ICON;
    case 2: return TD_WARNING_ICON;
    case 4: return TD_SHIELD_ICON;
    case 5: return TD_ERROR_ICON;
    default: return nullptr;
  }
}

UINT BoxIcon(int kind) {
  switch (kind) {
    case 1: return MB_ICONINFORMATION;
    case 2: return MB_ICONEXCLAMATION;
    case 3: return MB_ICONQUESTION;
    case 5: return MB_ICONSTOP;
    default: return 0;
  }
}

}  // namespace

int PresentTaskMessage(const TaskMessage& message) {
  const std::wstring text = Platform::Win32::Wide(message.text);
  const std::wstring title = Platform::Win32::Wide(message.title);
  const std::wstring instruction = Platform::Win32::Wide(message.instruction);
  const std::wstring yes = Platform::Win32::Wide(message.yesText);
  const std::wstring no = Platform::Win32::Wide(message.noText);
  HWND owner = static_cast<HWND>(message.owner);
  if (TaskDialogIndirectFn taskDialog = TaskDialogFunction()) {
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    // Hyperlinks, command links, footer area expanded.
    config.dwFlags = static_cast<TASKDIALOG_FLAGS>(0x51);
    config.pszWindowTitle = title.c_str();
    config.pszMainInstruction = instruction.c_str();
    config.pszContent = text.c_str();
    const TASKDIALOG_BUTTON buttons[] = {{IDYES, yes.c_str()}, {IDNO, no.c_str()}};
    if (message.yesNo) {
      config.pButtons = buttons;
      config.cButtons = 2;
    } else {
      config.pszMainIcon = TaskIcon(message.kind);
    }
    int button = 0;
    if (SUCCEEDED(taskDialog(&config, &button, nullptr, nullptr))) return button;
  }
  if (message.yesNo) return ::MessageBoxW(owner, text.c_str(), title.c_str(), MB_YESNO);
  return ::MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | BoxIcon(message.kind));
}

}  // namespace Zentrovak::Commands
