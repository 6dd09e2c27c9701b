// The debugger output: the only diagnostic channel of the program.
#pragma once
#include <functional>
#include <string_view>

namespace Zentrovak::Platform {

// Writes the text as it is (no line break added). win32: the debugger
// output; posix: standard error when ZENTROVAK_DEBUG is set.
void WriteDebugString(std::u16string_view text);

// Tests read the output through a sink that sees every write; an empty
// function removes it.
using DebugSink = std::function<void(std::u16string_view)>;
void SetDebugSink(DebugSink sink);

// The backend's own writer (one per target).
void WriteDebugStringToSystem(std::u16string_view text);

}  // namespace Zentrovak::Platform
