// Variants on the bridge's wire, keeping their types: {"t":"s","v":text},
// {"t":"i","v":n} (32-bit), {"t":"b","v":bool}, {"t":"e"} (undefined),
// {"t":"n"} (null), {"t":"d","v":x or "NaN"/"Infinity"/"-Infinity"},
// {"t":"f","h":handle} (a script function or object living in the page).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include <nlohmann/json.hpp>

#include "ui/variant.h"

namespace Zentrovak::UI::Posix {

// A page object the program holds: the handle of the page's object table.
class PageObject : public ScriptObject {
 public:
  using Invoker = std::function<Platform::HResult(int64_t handle, const std::u16string& name,
                                                  const std::vector<Variant>& args, Variant* result)>;
  using Releaser = std::function<void(int64_t handle)>;
  PageObject(int64_t handle, Invoker invoker, Releaser releaser)
      : handle_(handle), invoker_(std::move(invoker)), releaser_(std::move(releaser)) {}
  ~PageObject() override {
    if (releaser_) releaser_(handle_);
  }
  Platform::HResult InvokeMethod(const std::u16string& name, const std::vector<Variant>& args,
                                 Variant* result) override {
    return invoker_ ? invoker_(handle_, name, args, result) : Platform::kEFail;
  }
  int64_t handle() const { return handle_; }

 private:
  int64_t handle_;
  Invoker invoker_;
  Releaser releaser_;
};

// Makes the program's object for a page handle.
using PageObjectFactory = std::function<std::shared_ptr<ScriptObject>(int64_t handle)>;

nlohmann::json EncodeVariant(const Variant& value);
// Anything malformed decodes as empty; a handle needs the factory.
Variant DecodeVariant(const nlohmann::json& wire, const PageObjectFactory& objects);

}  // namespace Zentrovak::UI::Posix
