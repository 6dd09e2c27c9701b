// The system clock as the OS boundary offers it.
#pragma once
#include <cstdint>

#include "platform/errors.h"

namespace Zentrovak::Platform {

// A calendar time in UTC, laid out as Windows' SYSTEMTIME without the day of
// the week.
struct UtcTime {
  uint16_t year = 0;
  uint16_t month = 0;  // 1..12
  uint16_t day = 0;    // 1..31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

// Sets the system clock. win32: SetSystemTime. posix: the host clock is
// only changed when the machine allows it (a file "set-host-clock" in the
// machine directory); every time set, or that would have been set, is
// recorded in the machine directory's file "system-clock" as
// "YYYY-MM-DDTHH:MM:SSZ", so the host clock never moves in tests or demos.
Win32Error SetSystemClock(const UtcTime& time);

}  // namespace Zentrovak::Platform
