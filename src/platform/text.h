// Text conversions between the UTF-16 of the page and the Windows calls and
// the UTF-8 byte strings of the configuration model.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace Zentrovak::Platform {

// Invalid sequences become U+FFFD; nothing is dropped silently.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Letter case as the registry and the file system compare names: every
// UTF-16 unit mapped to its upper-case form (ASCII, Latin-1, Greek, Cyrillic
// and the other simple one-to-one mappings).
char16_t FoldCaseUnit(char16_t c);
std::u16string FoldCase(std::u16string_view text);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// ASCII-only helpers for names that are ASCII by definition.
std::string AsciiLower(std::string_view text);
std::u16string AsciiLower(std::u16string_view text);
bool AsciiEqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
bool AsciiEqualsIgnoreCase(std::string_view a, std::string_view b);
bool AsciiStartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix);

// %XX escapes decoded as the bytes of UTF-8 text (an address the browser
// escaped reads as the text it names); a "%" without two hexadecimal
// digits stays as written.
std::u16string PercentDecoded(std::u16string_view text);

// Decimal number as the C runtime's atoi reads it: leading blanks, a sign,
// digits up to the first non-digit; no digits give 0. Values beyond 32 bits
// are clamped to the nearest 32-bit limit.
int32_t ParseDecimalPrefix(std::u16string_view text);
int32_t ParseDecimalPrefix(std::string_view text);

std::u16string ToU16(int32_t value);

}  // namespace Zentrovak::Platform
