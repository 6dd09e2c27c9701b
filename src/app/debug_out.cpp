#include "app/debug_out.h"

#include <cstdint>

#include "platform/debug_output.h"
#include "platform/text.h"

namespace Zentrovak::App {

namespace {
constexpr size_t kDebugBufferChars = 3072;

std::u16string Digits(uint32_t value, unsigned base, bool upper) {
  const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
  std::u16string out;
  do {
    out.insert(out.begin(), digits[value % base]);
    value /= base;
  } while (value);
  return out;
}
}  // namespace

std::u16string FormatText(const char16_t* format, va_list args) {
  std::u16string out;
  if (!format) return out;
  for (const char16_t* p = format; *p; ++p) {
    if (*p != u'%') {
      out.push_back(*p);
      continue;
    }
    ++p;
    if (*p == u'%') {
      out.push_back(u'%');
      continue;
    }
    bool left = false, zero = false;
    for (;; ++p) {
      if (*p == u'-') left = true;
      else if (*p == u'0') zero = true;
      else break;
    }
    size_t width = 0;
    while (*p >= u'0' && *p <= u'9') width = width * 10 + static_cast<size_t>(*p++ - u'0');
    while (*p == u'l' || *p == u'h') ++p;
    std::u16string piece;
    switch (*p) {
      case u'd': case u'i': {
        const int v = va_arg(args, int);
        piece = (v < 0 ? u"-" : u"") + Digits(v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v), 10, false);
        break;
      }
      case u'u': piece = Digits(va_arg(args, unsigned), 10, false); break;
      case u'x': piece = Digits(va_arg(args, unsigned), 16, false); break;
      case u'X': piece = Digits(va_arg(args, unsigned), 16, true); break;
      case u'c': piece.push_back(static_cast<char16_t>(va_arg(args, int))); break;
      case u's': {
        const char16_t* s = va_arg(args, const char16_t*);
        piece = s ? s : u"(null)";
        break;
      }
      case u'S': {
        const char* s = va_arg(args, const char*);
        piece = s ? Platform::Utf8ToUtf16(s) : u"(null)";
        break;
      }
      case u'\0': return out;
      default: piece.push_back(*p); break;
    }
    if (piece.size() < width) {
      const std::u16string pad(width - piece.size(), zero && !left ? u'0' : u' ');
      piece = left ? piece + pad : pad + piece;
    }
    out += piece;
  }
  return out;
}

void DebugOut(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string text = FormatText(format, args);
  va_end(args);
  if (text.size() > kDebugBufferChars - 1) text.resize(kDebugBufferChars - 1);
  Platform::WriteDebugString(text);
}

void DebugWrite(std::u16string_view text) { Platform::WriteDebugString(text); }

}  // namespace Zentrovak::App
