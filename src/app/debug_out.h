// Diagnostic output: formatted lines for the debugger output.
#pragma once
#include <cstdarg>
#include <string>
#include <string_view>

namespace Zentrovak::App {

// printf-style formatting of the program's own formats: %d %i %u %x %X %c,
// %s for a UTF-16 string (const char16_t*), %S for a UTF-8 one
// (const char*), %%, with the flags '-' and '0' and a width.
std::u16string FormatText(const char16_t* format, va_list args);

// Formats into a buffer of 3072 characters (longer output is cut at 3071)
// and writes it; no line break is added.
void DebugOut(const char16_t* format, ...);

// Writes the text exactly as given.
void DebugWrite(std::u16string_view text);

// The trace channel: takes a format and writes nothing.
inline void Trace(const char16_t*, ...) {}

}  // namespace Zentrovak::App
