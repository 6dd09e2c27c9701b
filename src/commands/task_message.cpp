#include "commands/task_message.h"

#include <mutex>

#include "ui/resources.h"

namespace Zentrovak::Commands {

namespace {
std::mutex presenterMutex;
MessagePresenter& Presenter() {
  static MessagePresenter presenter;
  return presenter;
}

int Present(const TaskMessage& message) {
  MessagePresenter presenter;
  {
    std::lock_guard<std::mutex> hold(presenterMutex);
    presenter = Presenter();
  }
  return presenter ? presenter(message) : PresentTaskMessage(message);
}
}  // namespace

std::u16string MessageText::Resolve() const { return id_ ? UI::LoadStringResource(id_) : text_; }

void SetMessagePresenter(MessagePresenter presenter) {
  std::lock_guard<std::mutex> hold(presenterMutex);
  Presenter() = std::move(presenter);
}

int ShowTaskMessage(int kind, const MessageText& text, const MessageText& title, const MessageText& instruction,
                    Platform::WindowHandle owner) {
  TaskMessage message;
  message.kind = kind;
  message.text = text.Resolve();
  message.title = title.Resolve();
  message.instruction = instruction.Resolve();
  message.owner = owner;
  return Present(message);
}

int AskYesNo(Platform::WindowHandle owner, const MessageText& text, const MessageText& title,
             const MessageText& instruction, const MessageText& yes, const MessageText& no) {
  TaskMessage message;
  message.text = text.Resolve();
  message.title = title.Resolve();
  message.instruction = instruction.Resolve();
  message.owner = owner;
  message.yesNo = true;
  message.yesText = yes.Resolve();
  message.noText = no.Resolve();
  return Present(message) == kIdYes ? kIdYes : kIdNo;
}

}  // namespace Zentrovak::Commands
