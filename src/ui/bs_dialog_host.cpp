#include "ui/bs_dialog_host.h"

namespace Zentrovak::UI {

std::vector<IBSDialog*>& OpenDialogs() {
  static auto* dialogs = new std::vector<IBSDialog*>;
  return *dialogs;
}

}  // namespace Zentrovak::UI
