// The check-fix classes: one shared instance per check type, each checking
// and repairing one configuration entry at a time, and the drivers that run
// a list of entries through a class.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "checkfix/item_configuration.h"
#include "net/http.h"

namespace Zentrovak::Assistant {

// Result codes of every check and repair, kept in ConfigEntry::state.
enum CheckCode : int32_t {
  Passed = 2,
  NeedsUpdate = 1,
  Unchecked = 0,
  NotSupported = -1,
  Failed = -2,
  Disabled = -3,
  Cancelled = -4,
  UnknownType = -5,
};

class ICheckFix {
 public:
  virtual ~ICheckFix() = default;
  // Anything but Passed from a begin operation ends the run with that code.
  virtual int32_t BeginCheck() { return Passed; }
  // Entry operations read the entry (and may add run-time attributes); the
  // drivers store the answer as the entry's state.
  virtual int32_t CheckEntry(ConfigEntry& entry) = 0;
  virtual int32_t EndCheck() { return Passed; }
  virtual int32_t BeginFix() { return Passed; }
  virtual int32_t FixEntry(ConfigEntry& entry) = 0;
  virtual int32_t EndFix() { return Passed; }

  // Checks every entry. With stopAtFirstFailure the first code other than
  // Passed/NeedsUpdate is returned at once; without it the last such code
  // is returned (EndCheck is then not run). Otherwise EndCheck's failure,
  // or NeedsUpdate when any entry needed an update, or Passed.
  int32_t CheckAll(ConfigEntry* entries, size_t count, bool stopAtFirstFailure);
  // Repairs the entries whose state is not Passed, stopping at the first
  // repair that fails; EndFix runs only when all succeeded. An entry still
  // Unchecked is checked first (after BeginCheck) and repaired only when
  // its check fails.
  int32_t FixAll(ConfigEntry* entries, size_t count);
};

// Check type name (exact) to the one instance of its class. Built on first
// use; the instances live until the process ends.
class CheckFixFactory {
 public:
  static CheckFixFactory& Instance();
  ICheckFix* Find(std::string_view type) const;
  // Adds or replaces the class of a type.
  void Register(std::string type, std::unique_ptr<ICheckFix> instance);

 private:
  CheckFixFactory();
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

ICheckFix* FindCheckFix(std::string_view type);

// 0 (not passed) when the factory does not know the group's type.
int32_t CheckGroup(ConfigGroup& group, bool stopAtFirstFailure);
int32_t FixGroup(ConfigGroup& group);
// The combined answer of the item's detect entries; UnknownType at once for
// a detect entry whose dtype the factory does not know.
int32_t DetectItem(ConfigItem& item, bool stopAtFirstFailure);

// The download progress hand-over from an install to the class that
// downloads: the callback address and its parameter, kept in the entry as
// the run-time attributes "<downloadnotify>" and "<para>".
void AttachDownloadNotify(ConfigEntry& entry, Network::DownloadCallback callback, int32_t parameter);
// The attached callback (none when absent) and its parameter (0).
Network::DownloadCallback AttachedDownloadCallback(const ConfigEntry& entry);
int32_t AttachedDownloadParameter(const ConfigEntry& entry);

}  // namespace Zentrovak::Assistant
