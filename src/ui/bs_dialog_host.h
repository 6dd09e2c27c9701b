// Creating and ending the one dialog that shows the page. win32: CBSDialog,
// an IE WebBrowser dialog; posix: the page in a browser app window, served
// by the loopback bridge.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/window.h"
#include "ui/bs_dialog.h"

namespace Zentrovak::UI {

// Receives WM_CLOSE, WM_COMMAND, WM_COPYDATA and "AssistantNotify".
using MessageHook = std::function<intptr_t(IBSDialog* dialog, uint32_t message, uintptr_t w, intptr_t l)>;
// The popup menu of the "ui_menu" element.
using MenuProvider = std::function<void*(IBSDialog* dialog)>;

inline constexpr uint32_t kBSDialogParamsSize = 64;

struct BSDialogParams {
  uint32_t size = 0;  // must hold kBSDialogParamsSize
  Platform::WindowHandle parent = nullptr;
  std::u16string title;
  bool hasCaption = false;
  int32_t autoSize = 0;  // 1: the window follows the page; 0: resizable frame
  int32_t width = 0;
  int32_t height = 0;
  void* resourceModule = nullptr;
  void* icon = nullptr;
  void* menu = nullptr;
  MenuProvider menuProvider;
  uint32_t htmlResourceId = 0;
  std::u16string htmlResourceName;
  std::u16string url;
  // The page of the mode, for a window whose `url` names nothing it can
  // show (posix: neither a web site nor a page file of the machine).
  uint32_t fallbackResourceId = 0;
  CommandHandler commandHandler;
  MessageHook messageHook;
};

// Creates and shows the dialog; none for a wrong `size` or when the window
// cannot be made.
IBSDialog* CreateBSDialog(const BSDialogParams& params);
// Destroys the dialog kept by start-up (MainDialog) and forgets it.
void DestroyBSDialog();

// The dialogs whose window exists; the user-interface thread's list. When
// the last one goes, the quit message is posted.
std::vector<IBSDialog*>& OpenDialogs();

// Minimises the dialog's window (posix: nothing a page can do).
void MinimizeDialog(IBSDialog* dialog);

}  // namespace Zentrovak::UI

namespace Zentrovak::UI {
// The application's icon resource (win32 HICON; posix none).
void* LoadDialogIcon(uint32_t id);
// Readies the system's user-interface classes before any window exists
// (win32: the common controls of the first eight groups).
void PrepareUserInterface();
}  // namespace Zentrovak::UI
