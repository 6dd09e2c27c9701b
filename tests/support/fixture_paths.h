// Windows paths (drive Z:, the host's root, on both backends) of the test
// fixtures in the source tree and of files the build made for the tests.
// Header-only: the locations are given to each test program by the build.
#pragma once
#include <string>
#include <string_view>

#include "platform/text.h"

namespace Zentrovak::Testing {

// A host path as the Windows path Z:\... that names it.
inline std::u16string HostToWindowsPath(std::string_view hostPath) {
  std::u16string path = u"Z:" + Platform::Utf8ToUtf16(hostPath);
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  return path;
}

#ifdef TEST_FIXTURES_DIR
// tests/fixtures/<relative>
inline std::u16string FixturePath(std::string_view relative) {
  return HostToWindowsPath(std::string(TEST_FIXTURES_DIR) + "/" + std::string(relative));
}
#endif

#ifdef TEST_BINARY_DIR
// <build tree>/<relative>
inline std::u16string BuildTreePath(std::string_view relative) {
  return HostToWindowsPath(std::string(TEST_BINARY_DIR) + "/" + std::string(relative));
}
#endif

}  // namespace Zentrovak::Testing
