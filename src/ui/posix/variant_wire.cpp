#include "ui/posix/variant_wire.h"

#include <cmath>
#include <limits>

#include "platform/text.h"

namespace Zentrovak::UI::Posix {

using nlohmann::json;

json EncodeVariant(const Variant& value) {
  switch (value.type()) {
    case VariantType::Empty: return {{"t", "e"}};
    case VariantType::Null: return {{"t", "n"}};
    case VariantType::Int32: return {{"t", "i"}, {"v", value.AsInt()}};
    case VariantType::Bool: return {{"t", "b"}, {"v", value.AsBool()}};
    case VariantType::String: return {{"t", "s"}, {"v", Platform::Utf16ToUtf8(value.AsString())}};
    case VariantType::Double: {
      const double d = value.AsDouble();
      if (std::isnan(d)) return {{"t", "d"}, {"v", "NaN"}};
      if (std::isinf(d)) return {{"t", "d"}, {"v", d > 0 ? "Infinity" : "-Infinity"}};
      return {{"t", "d"}, {"v", d}};
    }
    case VariantType::Dispatch:
      if (const auto* page = dynamic_cast<const PageObject*>(value.AsDispatch().get()))
        return {{"t", "f"}, {"h", page->handle()}};
      // An object of the program has no counterpart in the page.
      return {{"t", "n"}};
  }
  return {{"t", "e"}};
}

Variant DecodeVariant(const json& wire, const PageObjectFactory& objects) {
  if (!wire.is_object()) return {};
  const auto t = wire.find("t");
  if (t == wire.end() || !t->is_string()) return {};
  const std::string& type = t->get_ref<const std::string&>();
  const auto v = wire.find("v");
  const bool hasValue = v != wire.end();
  if (type == "n") return Variant::Null();
  if (type == "s" && hasValue && v->is_string()) return Variant::String(Platform::Utf8ToUtf16(v->get_ref<const std::string&>()));
  if (type == "i" && hasValue && v->is_number_integer()) {
    const int64_t n = v->get<int64_t>();
    if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max())
      return Variant::Int(static_cast<int32_t>(n));
    return Variant::Double(static_cast<double>(n));
  }
  if (type == "b" && hasValue && v->is_boolean()) return Variant::Bool(v->get<bool>());
  if (type == "d" && hasValue) {
    if (v->is_number()) return Variant::Double(v->get<double>());
    if (v->is_string()) {
      const std::string& s = v->get_ref<const std::string&>();
      if (s == "Infinity") return Variant::Double(std::numeric_limits<double>::infinity());
      if (s == "-Infinity") return Variant::Double(-std::numeric_limits<double>::infinity());
      return Variant::Double(std::numeric_limits<double>::quiet_NaN());
    }
  }
  if (type == "f" && objects) {
    const auto h = wire.find("h");
    if (h != wire.end() && h->is_number_integer() && h->get<int64_t>() > 0) {
      auto object = objects(h->get<int64_t>());
      if (object) return Variant::Dispatch(std::move(object));
    }
  }
  return {};
}

}  // namespace Zentrovak::UI::Posix
