// Readable test failures for the page's values.
#pragma once
#include <ostream>

#include "platform/text.h"
#include "ui/variant.h"

namespace Zentrovak::UI {

inline void PrintTo(const Variant& v, std::ostream* os) {
  switch (v.type()) {
    case VariantType::Empty: *os << "empty"; break;
    case VariantType::Null: *os << "null"; break;
    case VariantType::Int32: *os << "int " << v.AsInt(); break;
    case VariantType::Bool: *os << "bool " << (v.AsBool() ? "true" : "false"); break;
    case VariantType::Double: *os << "double " << v.AsDouble(); break;
    case VariantType::String: *os << "string \"" << Platform::Utf16ToUtf8(v.AsString().substr(0, 200)) << "\""; break;
    case VariantType::Dispatch: *os << "dispatch"; break;
  }
}

}  // namespace Zentrovak::UI
