// RUDivIrav.exe, the tray helper that the assistant starts when it closes
// ("<program file> 103 102 128 <flag>"). This build of it only records how
// it was started: one line with its arguments, appended to the file named
// by RUDIVIRAV_LOG when that is set. Then it ends.
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t log[MAX_PATH];
  if (!::GetEnvironmentVariableW(L"RUDIVIRAV_LOG", log, MAX_PATH)) return 0;
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!args) return 1;
  std::wstring line;
  for (int i = 1; i < count; ++i) {
    if (i > 1) line += L' ';
    line += args[i];
  }
  ::LocalFree(args);
  line += L"\r\n";
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
  HANDLE file = ::CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  ::CloseHandle(file);
  return 0;
}
#else
int main(int argc, char** argv) {
  const char* log = std::getenv("RUDIVIRAV_LOG");
  if (!log || !*log) return 0;
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  line += '\n';
  std::FILE* file = std::fopen(log, "a");
  if (!file) return 1;
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
  return 0;
}
#endif
