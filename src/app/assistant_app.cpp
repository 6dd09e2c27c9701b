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

CAssistantApp::CAssistantApp() {
  // The command table: names are matched exactly, ids follow the order
  // the page script and the handlers agree on.
  static const char16_t* const kCommandNames[] = {
      u"get_public_ip",  // 1
      u"get_config",  // 2
      u"save_settings",  // 3
      u"load_settings",  // 4
      u"messagebox",  // 5
      u"open_ie",  // 6
      u"get_data",  // 7
      u"is_key_connect",  // 8
      u"do_check",  // 9
      u"do_fix",  // 10
      u"do_install",  // 11
      u"get_version",  // 12
      u"debug_print",  // 13
      u"delay_ms",  // 14
      u"call_js",  // 15
      u"do_extra_startup",  // 16
      u"check_update",  // 17
      u"update_key_info",  // 18
      u"log",  // 19
      u"shut_down",  // 20
      u"shut_downmini",  // 21
      u"is_config_loaded",  // 22
      u"check_ie_home_page",  // 23
      u"sync_time",  // 24
      u"change_pin",  // 25
      u"check_dll",  // 26
      u"Tray",  // 27
      u"get_command",  // 28
      u"get_internet_state",  // 29
      u"minimize_window",  // 30
      u"is_specific_key_insert",  // 31
      u"start_manager_tool",  // 32
  };
  int32_t id = 1;
  for (const char16_t* name : kCommandNames) commandIds.emplace(name, id++);
}

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
