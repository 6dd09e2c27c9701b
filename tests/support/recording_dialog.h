// A dialog that records the page functions the program calls, in order,
// with their arguments in script order. Installed as the main dialog for
// its lifetime.
#pragma once
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "ui/bs_dialog.h"

namespace Zentrovak::Testing {

struct PageCall {
  std::u16string name;
  std::vector<UI::Variant> args;
};

class RecordingDialog : public UI::IBSDialog {
 public:
  RecordingDialog() { UI::SetMainDialog(this); }
  ~RecordingDialog() override { UI::SetMainDialog(nullptr); }

  Platform::WindowHandle GetHwnd() override { return reinterpret_cast<Platform::WindowHandle>(this); }
  Platform::HResult Resize(int32_t, int32_t) override { return Platform::kSOk; }
  Platform::HResult CallPageFunction(std::u16string_view name, const UI::Variant* args, int count,
                                     UI::Variant*) override {
    PageCall call{std::u16string(name), std::vector<UI::Variant>(args, args + count)};
    std::reverse(call.args.begin(), call.args.end());
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
    return Platform::kSOk;
  }

  std::vector<PageCall> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::vector<PageCall> CallsOf(std::u16string_view name) const {
    std::vector<PageCall> found;
    for (const PageCall& c : Calls())
      if (c.name == name) found.push_back(c);
    return found;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<PageCall> calls_;
};

}  // namespace Zentrovak::Testing
