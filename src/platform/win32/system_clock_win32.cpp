#include <windows.h>

#include "platform/system_clock.h"

namespace Zentrovak::Platform {

Win32Error SetSystemClock(const UtcTime& time) {
  SYSTEMTIME st{};
  st.wYear = time.year;
  st.wMonth = time.month;
  st.wDay = time.day;
  st.wHour = time.hour;
  st.wMinute = time.minute;
  st.wSecond = time.second;
  st.wMilliseconds = time.milliseconds;
  return ::SetSystemTime(&st) ? kErrorSuccess : ::GetLastError();
}

}  // namespace Zentrovak::Platform
