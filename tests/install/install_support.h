// What the install tests share: the fake installer (a small program of
// this target, see tests/fixtures/installer) served as a package from a
// loopback server, and what it leaves behind when it runs.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checkfix/file_check.h"
#include "checkfix/install_item.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/fixture_paths.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>

#include "platform/posix/host_paths.h"
#endif

namespace Zentrovak::Testing {

// A Windows path as the fake installer, a program of the host, opens it.
inline std::string NativePath(const std::u16string& windowsPath) {
#ifdef _WIN32
  return Platform::Utf16ToUtf8(windowsPath);
#else
  return Platform::Posix::ToHostPath(windowsPath).path;
#endif
}

inline std::u16string FakeInstallerPath() {
#ifdef _WIN32
  return BuildTreePath("fixtures/fake_installer.exe");
#else
  return BuildTreePath("fixtures/fake_installer");
#endif
}

inline std::string ReadBytes(const std::u16string& path) {
  std::string bytes;
  Platform::ReadWholeFile(path, bytes);
  return bytes;
}

// Lower-case hex digest of some bytes (kind as for FileDigest).
inline std::string DigestOf(const std::string& bytes, int32_t kind) {
  auto digester = Assistant::Digester::Create(kind);
  std::string raw;
  if (!digester || !digester->Update(bytes.data(), bytes.size()) || !digester->Finish(raw)) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : raw) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

inline void SetVariable(const char16_t* name, const std::string& value) {
  Platform::WriteEnvironmentVariable(name, Platform::Utf8ToUtf16(value));
}

// Ends a process the test started (an installer that never ends).
inline void KillProcess(long pid) {
#ifdef _WIN32
  if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid))) {
    ::TerminateProcess(process, 9);
    ::WaitForSingleObject(process, 10000);
    ::CloseHandle(process);
  }
#else
  ::kill(static_cast<pid_t>(pid), SIGKILL);
#endif
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace Zentrovak::Testing
