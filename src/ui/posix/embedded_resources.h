// The resources compiled into the posix program: a table generated at build
// time from the files of res/ (cmake/EmbedResources.cmake).
#pragma once
#include <cstddef>
#include <cstdint>

namespace Zentrovak::UI::Embedded {

// Types and names are upper case; numbered ones are written "#n", as
// Windows writes them ("#23" is RT_HTML, "#129" the first page).
struct File {
  const char* type;
  const char* name;
  const unsigned char* data;  // followed by one NUL byte beyond size
  size_t size;
};

// A string-table entry; the text is UTF-8.
struct Text {
  uint32_t id;
  const char* utf8;
};

extern const File kFiles[];
extern const size_t kFileCount;
extern const Text kTexts[];
extern const size_t kTextCount;

}  // namespace Zentrovak::UI::Embedded
