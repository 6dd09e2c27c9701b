// RUDivIrav.exe, the assistant's tray helper ("<assistant file> 103 102 128
// <flag>"): a notification-area icon whose tooltip is the assistant's string
// 103 and whose menu starts the assistant (the file of that name in the
// helper's own folder) or quits. Strings and icon are the assistant's own
// resources, read from its file; the hidden window that owns the icon has
// the assistant's title (string 102). One helper per session; a second
// start ends at once. The flag tells whether the assistant started the
// helper as it closed (1) or to stay from logon (0); the helper behaves the
// same. When RUDIVIRAV_LOG is set, each start appends its arguments to that
// file.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

constexpr wchar_t kWindowClass[] = L"RUDivIravTray";
constexpr wchar_t kInstanceName[] = L"RUDivIrav.{CD6857CA-84D5-41D8-907C-AECE0DE62FE7}";
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kIconId = 1;
constexpr UINT kStartCommand = 1;
constexpr UINT kQuitCommand = 2;

struct Helper {
  std::wstring assistant;  // full path
  std::wstring tooltip;
  HICON icon = nullptr;
  UINT taskbarCreated = 0;
};
Helper helper;

void RecordStart(int count, wchar_t** args) {
  wchar_t log[MAX_PATH];
  if (!::GetEnvironmentVariableW(L"RUDIVIRAV_LOG", log, MAX_PATH)) return;
  std::wstring line;
  for (int i = 1; i < count; ++i) {
    if (i > 1) line += L' ';
    line += args[i];
  }
  line += L"\r\n";
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
  HANDLE file = ::CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  ::CloseHandle(file);
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// Only a file name counts: the assistant is always the one beside us.
std::wstring FileNameOnly(const std::wstring& name) {
  const size_t separator = name.find_last_of(L"\\/:");
  return separator == std::wstring::npos ? name : name.substr(separator + 1);
}

std::wstring LoadText(HMODULE module, UINT id) {
  const wchar_t* text = nullptr;
  const int length = ::LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

void StartAssistant() {
  // The assistant asks for administrator rights: the shell starts it so.
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.lpVerb = L"open";
  info.lpFile = helper.assistant.c_str();
  info.nShow = SW_SHOWNORMAL;
  ::ShellExecuteExW(&info);
}

bool ShowIcon(HWND window, DWORD action) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = kIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = helper.icon ? helper.icon : ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  lstrcpynW(data.szTip, helper.tooltip.c_str(), ARRAYSIZE(data.szTip));
  return ::Shell_NotifyIconW(action, &data) != FALSE;
}

void ShowMenu(HWND window) {
  HMENU menu = ::CreatePopupMenu();
  if (!menu) return;
  ::AppendMenuW(menu, MF_STRING, kStartCommand, helper.tooltip.empty() ? L"启动" : helper.tooltip.c_str());
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, kQuitCommand, L"退出");
  ::SetMenuDefaultItem(menu, kStartCommand, FALSE);
  POINT at{};
  ::GetCursorPos(&at);
  // The menu closes on a click elsewhere only when its window is in front.
  ::SetForegroundWindow(window);
  ::TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
  ::PostMessageW(window, WM_NULL, 0, 0);
  ::DestroyMenu(menu);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kTrayMessage:
      switch (LOWORD(lParam)) {
        case WM_LBUTTONDBLCLK: StartAssistant(); break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU: ShowMenu(window); break;
      }
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kStartCommand) StartAssistant();
      else if (LOWORD(wParam) == kQuitCommand) ::DestroyWindow(window);
      return 0;
    case WM_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ShowIcon(window, NIM_DELETE);
      ::PostQuitMessage(0);
      return 0;
  }
  // The taskbar came back (the shell restarted) without the icon.
  if (helper.taskbarCreated && message == helper.taskbarCreated) {
    ShowIcon(window, NIM_ADD);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!args) return 1;
  RecordStart(count, args);
  if (count < 5) {
    ::LocalFree(args);
    return 2;
  }
  helper.assistant = OwnFolder() + FileNameOnly(args[1]);
  const UINT tooltipId = static_cast<UINT>(_wtoi(args[2]));
  const UINT titleId = static_cast<UINT>(_wtoi(args[3]));
  const UINT iconId = static_cast<UINT>(_wtoi(args[4]));
  ::LocalFree(args);

  HANDLE instanceMutex = ::CreateMutexW(nullptr, FALSE, kInstanceName);
  if (instanceMutex && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(instanceMutex);
    return 0;
  }

  std::wstring title;
  if (HMODULE resources = ::LoadLibraryExW(helper.assistant.c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
    helper.tooltip = LoadText(resources, tooltipId);
    title = LoadText(resources, titleId);
    helper.icon = static_cast<HICON>(::LoadImageW(resources, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                                  ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    ::FreeLibrary(resources);
  }

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  ::RegisterClassW(&windowClass);
  helper.taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
  HWND window = ::CreateWindowExW(0, kWindowClass, title.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                                  nullptr);
  int code = 3;
  if (window) {
    ShowIcon(window, NIM_ADD);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    code = 0;
  }
  if (helper.icon) ::DestroyIcon(helper.icon);
  if (instanceMutex) ::CloseHandle(instanceMutex);
  return code;
}
