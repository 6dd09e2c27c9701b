// Boxes of the posix host: shown as a modal box in the page and answered
// there by the user.
#pragma once
#include <string>

namespace Zentrovak::UI {

struct PageBox {
  int kind = 0;  // 1 information, 2 warning, 3 question, 4 shield, 5 error
  std::u16string text;
  std::u16string title;
  std::u16string instruction;
  bool yesNo = false;
  std::u16string yesText;
  std::u16string noText;
};

// Shows the box in the page of the main dialog and answers the button
// (1 OK, 6 yes, 7 no). Without a page the box goes to standard error and
// answers OK, or no for a question.
int ShowPageBox(const PageBox& box);

}  // namespace Zentrovak::UI
