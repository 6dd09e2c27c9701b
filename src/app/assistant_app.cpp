#include "app/assistant_app.h"

namespace Zentrovak::App {

namespace {
std::atomic<int32_t> pageMode{0};
std::mutex optionsMutex;
std::map<int32_t, int32_t>& Options() {
  static std::map<int32_t, int32_t> options;
  return options;
}
}  // namespace

CAssistantApp::CAssistantApp() = default;

int32_t CAssistantApp::PageItemPosition(int32_t pageNumber) {
  std::lock_guard<std::mutex> lock(pageItemMutex_);
  return pageItemIndex_[pageNumber];
}

void CAssistantApp::SetPageItemPosition(int32_t pageNumber, int32_t position) {
  std::lock_guard<std::mutex> lock(pageItemMutex_);
  pageItemIndex_[pageNumber] = position;
}

CAssistantApp& TheApp() {
  static CAssistantApp app;
  return app;
}

int32_t PageMode() { return pageMode.load(); }
void SetPageMode(int32_t mode) { pageMode = mode; }

int32_t RuntimeOption(int32_t number) {
  std::lock_guard<std::mutex> lock(optionsMutex);
  const auto it = Options().find(number);
  return it == Options().end() ? 0 : it->second;
}

void SetRuntimeOption(int32_t number, int32_t value) {
  std::lock_guard<std::mutex> lock(optionsMutex);
  Options()[number] = value;
}

}  // namespace Zentrovak::App
