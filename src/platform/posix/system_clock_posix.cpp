// The posix machine stands in for a Windows PC whose clock the program may
// set. Moving the host's clock is a decision for the host's administrator,
// so it happens only when the machine directory holds the file
// "set-host-clock"; otherwise the time is only recorded.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/posix/machine.h"
#include "platform/system_clock.h"

namespace Zentrovak::Platform {

namespace {

bool HostClockAllowed() {
  struct stat st {};
  return ::stat((Posix::MachineDirectory() + "/set-host-clock").c_str(), &st) == 0;
}

// Written to a new file and moved over the old one, so a reader never sees
// half a line.
Win32Error RecordClock(const UtcTime& time) {
  char line[64];
  std::snprintf(line, sizeof line, "%04u-%02u-%02uT%02u:%02u:%02uZ\n", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  const std::string path = Posix::MachineDirectory() + "/system-clock";
  const std::string temp = path + ".new";
  FILE* file = std::fopen(temp.c_str(), "w");
  if (!file) return kErrorAccessDenied;
  const bool written = std::fputs(line, file) >= 0;
  if (std::fclose(file) != 0 || !written || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return kErrorAccessDenied;
  }
  return kErrorSuccess;
}

}  // namespace

Win32Error SetSystemClock(const UtcTime& time) {
  if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 || time.hour > 23 ||
      time.minute > 59 || time.second > 59 || time.milliseconds > 999)
    return kErrorInvalidParameter;
  const Win32Error recorded = RecordClock(time);
  if (!HostClockAllowed()) return recorded;
  tm calendar{};
  calendar.tm_year = time.year - 1900;
  calendar.tm_mon = time.month - 1;
  calendar.tm_mday = time.day;
  calendar.tm_hour = time.hour;
  calendar.tm_min = time.minute;
  calendar.tm_sec = time.second;
  const time_t seconds = ::timegm(&calendar);
  if (seconds == static_cast<time_t>(-1)) return kErrorInvalidParameter;
  const timespec value{seconds, static_cast<long>(time.milliseconds) * 1000000L};
  if (::clock_settime(CLOCK_REALTIME, &value) != 0) return errno == EPERM ? 1314u : kErrorAccessDenied;
  return kErrorSuccess;
}

}  // namespace Zentrovak::Platform
