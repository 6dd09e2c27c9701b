// The application object: the process-wide state that the subsystems share.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace Zentrovak::Ukey {
class UKey;
}

namespace Zentrovak::App {

class CAssistantApp {
 public:
  CAssistantApp();

  // Command name (exact, case-sensitive) to id 1..32.
  std::map<std::u16string, int32_t> commandIds;
  // Family name ("FT_1", "FT_2", "ukey_JS") to its key binding; refers to
  // the bindings, does not own them. Filled by the key support.
  std::map<std::string, Ukey::UKey*> keyBindings;
  // Last connectivity state: 0 offline, 1 only the bank's server, 2 online.
  std::atomic<int32_t> internetState{2};

  // Page item number -> position of the item in the item configuration.
  // A number never announced maps to position 0 (and is entered so).
  int32_t PageItemPosition(int32_t pageNumber);
  void SetPageItemPosition(int32_t pageNumber, int32_t position);

 private:
  std::mutex pageItemMutex_;
  std::map<int32_t, int32_t> pageItemIndex_;
};

CAssistantApp& TheApp();

// The page mode read from the command line (0 without an argument).
int32_t PageMode();
void SetPageMode(int32_t mode);

// Numbered run-time options; a number never set reads 0. 1000: local copy of
// the downloaded configuration; 1001: relaxed certificate checks; 1002:
// encrypted configuration; 1004: downloads beside the program.
int32_t RuntimeOption(int32_t number);
void SetRuntimeOption(int32_t number, int32_t value);

}  // namespace Zentrovak::App
