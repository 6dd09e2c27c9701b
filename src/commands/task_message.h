// The information box and the yes/no question that commands show.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "platform/window.h"

namespace Zentrovak::Commands {

// A text given as itself or as a string-table id.
class MessageText {
 public:
  MessageText() = default;
  MessageText(const char16_t* text) : text_(text ? text : u"") {}
  MessageText(std::u16string text) : text_(std::move(text)) {}
  MessageText(uint32_t id) : id_(id) {}
  std::u16string Resolve() const;

 private:
  std::u16string text_;
  uint32_t id_ = 0;
};

inline constexpr uint32_t kTitleString = 102;  // "澜屿银行网银助手"
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// One box as the backend shows it. kind: 1 information, 2 warning,
// 3 question, 4 shield, 5 error, other none.
struct TaskMessage {
  int kind = 0;
  std::u16string text;
  std::u16string title;
  std::u16string instruction;
  Platform::WindowHandle owner = nullptr;
  bool yesNo = false;  // a question with the two answers below
  std::u16string yesText;
  std::u16string noText;
};

// Shows one information box; answers the button pressed.
int ShowTaskMessage(int kind, const MessageText& text, const MessageText& title, const MessageText& instruction,
                    Platform::WindowHandle owner);
// Asks a yes/no question; 6 for yes, 7 for no.
int AskYesNo(Platform::WindowHandle owner, const MessageText& text, const MessageText& title,
             const MessageText& instruction, const MessageText& yes, const MessageText& no);

// Who shows the boxes; the backend's own when none is set. Tests answer
// the boxes themselves this way.
using MessagePresenter = std::function<int(const TaskMessage&)>;
void SetMessagePresenter(MessagePresenter presenter);

// The backend's presenter: win32 a task dialog or a message box; posix a
// modal box in the page.
int PresentTaskMessage(const TaskMessage& message);

}  // namespace Zentrovak::Commands
