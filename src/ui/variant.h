// The values that cross between the page script and the program, with the
// types the script engine gives them: string (VT_BSTR), 32-bit integer
// (VT_I4), boolean (VT_BOOL, true kept as -1), empty (undefined), null,
// double, and a script function or object (VT_DISPATCH). Nothing is
// converted on the way; each command checks its own arguments.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace Zentrovak::UI {

class Variant;

// A script function or object held by the program: on Windows an
// IDispatch, on the posix host a handle to an object living in the page.
// Every method runs on the user-interface thread.
class ScriptObject {
 public:
  virtual ~ScriptObject() = default;
  // Invokes the object's method `name` with the arguments in script order
  // (first argument first).
  virtual Platform::HResult InvokeMethod(const std::u16string& name, const std::vector<Variant>& args,
                                         Variant* result) = 0;
};

enum class VariantType { Empty, Null, Int32, Bool, String, Double, Dispatch };

class Variant {
 public:
  Variant() = default;
  static Variant Null() { Variant v; v.type_ = VariantType::Null; return v; }
  static Variant Int(int32_t value) { Variant v; v.type_ = VariantType::Int32; v.int_ = value; return v; }
  static Variant Bool(bool value) { Variant v; v.type_ = VariantType::Bool; v.int_ = value ? -1 : 0; return v; }
  static Variant String(std::u16string value) {
    Variant v; v.type_ = VariantType::String; v.text_ = std::move(value); return v;
  }
  static Variant Double(double value) { Variant v; v.type_ = VariantType::Double; v.double_ = value; return v; }
  static Variant Dispatch(std::shared_ptr<ScriptObject> object) {
    Variant v; v.type_ = VariantType::Dispatch; v.object_ = std::move(object); return v;
  }

  VariantType type() const { return type_; }
  bool IsEmpty() const { return type_ == VariantType::Empty; }
  bool IsString() const { return type_ == VariantType::String; }
  bool IsInt() const { return type_ == VariantType::Int32; }
  bool IsBool() const { return type_ == VariantType::Bool; }
  bool IsDispatch() const { return type_ == VariantType::Dispatch && object_ != nullptr; }

  // Accessors answer the stored value of their own type and a neutral value
  // (0, false, empty text, none) for any other type.
  int32_t AsInt() const { return type_ == VariantType::Int32 ? int_ : 0; }
  // VT_BOOL's 16-bit value: -1 for true, 0 for false.
  int16_t AsBoolBits() const { return type_ == VariantType::Bool ? static_cast<int16_t>(int_) : 0; }
  bool AsBool() const { return type_ == VariantType::Bool && int_ != 0; }
  const std::u16string& AsString() const { static const std::u16string none; return type_ == VariantType::String ? text_ : none; }
  double AsDouble() const { return type_ == VariantType::Double ? double_ : 0.0; }
  const std::shared_ptr<ScriptObject>& AsDispatch() const { static const std::shared_ptr<ScriptObject> none; return type_ == VariantType::Dispatch ? object_ : none; }
  // The 32-bit value a Windows variant carries in its data field, whatever
  // its type (integers and booleans; 0 for the rest).
  int32_t RawInt32() const { return (type_ == VariantType::Int32 || type_ == VariantType::Bool) ? int_ : 0; }

  bool operator==(const Variant& other) const {
    return type_ == other.type_ && int_ == other.int_ && text_ == other.text_ &&
           double_ == other.double_ && object_ == other.object_;
  }
  bool operator!=(const Variant& other) const { return !(*this == other); }

 private:
  VariantType type_ = VariantType::Empty;
  int32_t int_ = 0;
  double double_ = 0.0;
  std::u16string text_;
  std::shared_ptr<ScriptObject> object_;
};

}  // namespace Zentrovak::UI
