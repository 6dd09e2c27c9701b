#include "ui/bs_dialog.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace Zentrovak::UI {

namespace {
std::atomic<IBSDialog*> mainDialog{nullptr};
}

IBSDialog* MainDialog() { return mainDialog.load(); }
void SetMainDialog(IBSDialog* dialog) { mainDialog = dialog; }

Platform::HResult CallPage(std::u16string_view name, std::initializer_list<Variant> args, Variant* result) {
  IBSDialog* dialog = MainDialog();
  if (!dialog) return Platform::kEPointer;
  std::vector<Variant> reversed(args.begin(), args.end());
  std::reverse(reversed.begin(), reversed.end());
  return dialog->CallPageFunction(name, reversed.data(), static_cast<int>(reversed.size()), result);
}

}  // namespace Zentrovak::UI
