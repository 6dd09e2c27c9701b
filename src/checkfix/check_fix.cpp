#include "checkfix/check_fix.h"

#include <map>
#include <mutex>
#include <vector>

#include "checkfix/cfca_item.h"
#include "checkfix/com_item.h"
#include "checkfix/compatibility_item.h"
#include "checkfix/dns_item.h"
#include "checkfix/file_item.h"
#include "checkfix/home_page_item.h"
#include "checkfix/hosts_item.h"
#include "checkfix/install_item.h"
#include "checkfix/registry_item.h"
#include "checkfix/service_item.h"
#include "checkfix/trust_item.h"
#include "checkfix/url_item.h"

namespace Zentrovak::Assistant {

int32_t ICheckFix::CheckAll(ConfigEntry* entries, size_t count, bool stopAtFirstFailure) {
  const int32_t begin = BeginCheck();
  if (begin != Passed) return begin;
  for (size_t i = 0; i < count; ++i) entries[i].state = Unchecked;
  bool updateSeen = false;
  int32_t failure = Passed;
  for (size_t i = 0; i < count; ++i) {
    const int32_t s = CheckEntry(entries[i]);
    entries[i].state = s;
    if (s == NeedsUpdate) {
      updateSeen = true;
    } else if (s != Passed) {
      if (stopAtFirstFailure) return s;
      failure = s;
    }
  }
  if (failure != Passed) return failure;
  const int32_t end = EndCheck();
  if (end != Passed) return end;
  return updateSeen ? NeedsUpdate : Passed;
}

int32_t ICheckFix::FixAll(ConfigEntry* entries, size_t count) {
  const int32_t begin = BeginFix();
  if (begin != Passed) return begin;
  // A check that stopped at its first failure leaves the entries after it
  // unchecked. They are checked now rather than repaired blindly: an entry
  // that only has to exist has no repair, so "repairing" one that is fine
  // would fail the whole run.
  bool checkable = false;
  for (size_t i = 0; i < count && !checkable; ++i) checkable = entries[i].state == Unchecked;
  if (checkable) checkable = BeginCheck() == Passed;
  for (size_t i = 0; i < count; ++i) {
    if (checkable && entries[i].state == Unchecked) entries[i].state = CheckEntry(entries[i]);
    if (entries[i].state == Passed) continue;
    const int32_t s = FixEntry(entries[i]);
    entries[i].state = s;
    if (s != Passed) return s;
  }
  return EndFix();
}

struct CheckFixFactory::Impl {
  mutable std::mutex mutex;
  std::map<std::string, ICheckFix*, std::less<>> byType;
  // Every instance ever registered; a replaced one stays alive, since a
  // caller may still be running it.
  std::vector<std::unique_ptr<ICheckFix>> instances;
};

CheckFixFactory::CheckFixFactory() : impl_(std::make_shared<Impl>()) {
  Register("registry", std::make_unique<CheckFixRegistry>());
  Register("clsid", std::make_unique<CheckFixCOM>());
  Register("file", std::make_unique<CheckFixFile>());
  Register("host", std::make_unique<CheckFixHost>());
  Register("dns", std::make_unique<CheckFixDns>());
  Register("trust", std::make_unique<CheckFixTrust>());
  Register("url", std::make_unique<CheckFixUrl>());
  Register("service", std::make_unique<CheckFixService>());
  Register("cfca", std::make_unique<CheckFixCFCA>());
  Register("iehomepage", std::make_unique<CheckFixIEHomepage>());
  Register("compatibility", std::make_unique<CheckFixCompatibilityView>());
  Register("install", std::make_unique<ItemInstall>());
  Register("uninstall", std::make_unique<ItemUninstall>());
}

CheckFixFactory& CheckFixFactory::Instance() {
  static CheckFixFactory factory;
  return factory;
}

ICheckFix* CheckFixFactory::Find(std::string_view type) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  const auto it = impl_->byType.find(type);
  return it == impl_->byType.end() ? nullptr : it->second;
}

void CheckFixFactory::Register(std::string type, std::unique_ptr<ICheckFix> instance) {
  if (!instance) return;
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->byType[std::move(type)] = instance.get();
  impl_->instances.push_back(std::move(instance));
}

ICheckFix* FindCheckFix(std::string_view type) { return CheckFixFactory::Instance().Find(type); }

int32_t CheckGroup(ConfigGroup& group, bool stopAtFirstFailure) {
  ICheckFix* checker = FindCheckFix(group.type);
  if (!checker) return Unchecked;
  return checker->CheckAll(group.entries.data(), group.entries.size(), stopAtFirstFailure);
}

int32_t FixGroup(ConfigGroup& group) {
  ICheckFix* fixer = FindCheckFix(group.type);
  if (!fixer) return Unchecked;
  return fixer->FixAll(group.entries.data(), group.entries.size());
}

int32_t DetectItem(ConfigItem& item, bool stopAtFirstFailure) {
  int32_t result = Passed;
  bool updateSeen = false;
  for (ConfigEntry& entry : item.detect) {
    ICheckFix* checker = FindCheckFix(GetAttr(entry.attributes, "dtype"));
    if (!checker) {
      result = UnknownType;
      break;
    }
    const int32_t s = checker->CheckAll(&entry, 1, true);
    if (s == NeedsUpdate) {
      updateSeen = true;
    } else if (s != Passed) {
      result = s;
      if (stopAtFirstFailure) break;
    }
  }
  if (result != Passed) return result;
  return updateSeen ? NeedsUpdate : Passed;
}

namespace {
constexpr char kDownloadNotify[] = "<downloadnotify>";
constexpr char kDownloadPara[] = "<para>";

uint64_t ParseUnsigned(const std::string& text) {
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}
}  // namespace

void AttachDownloadNotify(ConfigEntry& entry, Network::DownloadCallback callback, int32_t parameter) {
  StoreAttribute(entry.attributes, kDownloadNotify,
                 std::to_string(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(callback))));
  // Widened with its sign, then printed unsigned.
  StoreAttribute(entry.attributes, kDownloadPara,
                 std::to_string(static_cast<uint64_t>(static_cast<int64_t>(parameter))));
}

Network::DownloadCallback AttachedDownloadCallback(const ConfigEntry& entry) {
  const uint64_t address = ParseUnsigned(GetAttr(entry.attributes, kDownloadNotify));
  return reinterpret_cast<Network::DownloadCallback>(static_cast<uintptr_t>(address));
}

int32_t AttachedDownloadParameter(const ConfigEntry& entry) {
  return static_cast<int32_t>(static_cast<uint32_t>(ParseUnsigned(GetAttr(entry.attributes, kDownloadPara))));
}

}  // namespace Zentrovak::Assistant
