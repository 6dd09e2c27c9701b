// No line of the hosts file may send a bank host name elsewhere (check type
// "host"); the repair takes the bank's names out of such lines.
#pragma once
#include <mutex>
#include <string>

#include "checkfix/check_fix.h"

namespace Zentrovak::Assistant {

// "%windir%\system32\drivers\etc\hosts", expanded; read and written with
// file-system redirection off, so that 64-bit Windows' own file is used.
std::u16string HostsFilePath();

class CheckFixHost : public ICheckFix {
 public:
  // Reads the file; Failed when it cannot be read.
  int32_t BeginCheck() override;
  // Failed when a line maps the entry's host name (letter case aside).
  int32_t CheckEntry(ConfigEntry& entry) override;
  // Reads the file afresh, so that a repair never writes back an older
  // text than the file holds now, nor an empty one when no check ran.
  int32_t BeginFix() override;
  // Takes the host name out of the text read; always Passed.
  int32_t FixEntry(ConfigEntry& entry) override;
  // Writes the text back when it changed, through a new file that then
  // replaces the old one, so the file is never left half written. Failed
  // when that fails; the repaired text is kept.
  int32_t EndFix() override;

 private:
  int32_t ReadFile();

  std::mutex mutex_;
  std::string content_;  // the file as read, byte for byte
  bool changed_ = false;
};

}  // namespace Zentrovak::Assistant
