#include "commands/task_message.h"
#include "ui/posix/page_boxes.h"

namespace Zentrovak::Commands {

int PresentTaskMessage(const TaskMessage& message) {
  UI::PageBox box;
  box.kind = message.kind;
  box.text = message.text;
  box.title = message.title;
  box.instruction = message.instruction;
  box.yesNo = message.yesNo;
  box.yesText = message.yesText;
  box.noText = message.noText;
  return UI::ShowPageBox(box);
}

}  // namespace Zentrovak::Commands
