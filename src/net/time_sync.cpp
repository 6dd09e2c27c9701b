#include "net/time_sync.h"

#include <cerrno>
#include <tuple>

#include "app/debug_out.h"
#include "net/datagram_socket.h"

namespace Zentrovak::Network {

namespace {

constexpr size_t kPacketSize = 48;
constexpr size_t kReceiveBufferSize = 1024;
constexpr uint64_t kSecondsPerDay = 86400;
// Days from 1900-01-01 to 1970-01-01.
constexpr int64_t kDaysFrom1900To1970 = 25567;

// Proleptic Gregorian date of a day count since 1970-01-01.
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::vector<uint8_t> TimeRequestPacket() {
  std::vector<uint8_t> packet(kPacketSize, 0);
  packet[0] = 0x1B;
  return packet;
}

Platform::UtcTime TimeFromNtpSeconds(uint32_t seconds) {
  const uint64_t total = seconds < 0x80000000u ? seconds + (uint64_t{1} << 32) : seconds;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(static_cast<int64_t>(total / kSecondsPerDay) - kDaysFrom1900To1970, year, month, day);
  const uint64_t secondOfDay = total % kSecondsPerDay;
  Platform::UtcTime time;
  time.year = static_cast<uint16_t>(year);
  time.month = static_cast<uint16_t>(month);
  time.day = static_cast<uint16_t>(day);
  time.hour = static_cast<uint16_t>(secondOfDay / 3600);
  time.minute = static_cast<uint16_t>(secondOfDay / 60 % 60);
  time.second = static_cast<uint16_t>(secondOfDay % 60);
  return time;
}

Platform::UtcTime BuildDate() {
  constexpr uint32_t kDate = ASSISTANT_BUILD_DATE;  // YYYYMMDD
  Platform::UtcTime day;
  day.year = static_cast<uint16_t>(kDate / 10000);
  day.month = static_cast<uint16_t>(kDate / 100 % 100);
  day.day = static_cast<uint16_t>(kDate % 100);
  return day;
}

std::optional<Platform::UtcTime> TimeFromReply(const uint8_t* data, size_t size, const Platform::UtcTime& earliest) {
  if (!data || size < kPacketSize) return std::nullopt;
  const unsigned leap = data[0] >> 6;
  const unsigned version = (data[0] >> 3) & 7;
  const unsigned mode = data[0] & 7;
  const unsigned stratum = data[1];
  if (leap == 3 || version != 3 || mode != 4 || stratum < 1 || stratum > 14) return std::nullopt;
  const uint32_t transmit = (uint32_t{data[40]} << 24) | (uint32_t{data[41]} << 16) | (uint32_t{data[42]} << 8) | data[43];
  if (transmit == 0) return std::nullopt;
  const Platform::UtcTime time = TimeFromNtpSeconds(transmit);
  const auto day = [](const Platform::UtcTime& t) { return std::make_tuple(t.year, t.month, t.day); };
  if (day(time) < day(earliest) || time.year > kLastAcceptedYear) return std::nullopt;
  return time;
}

int32_t QueryTimeServers(MyCSocket& socket, const std::vector<std::u16string>& servers,
                         const TimeSyncOptions& options) {
  const std::vector<uint8_t> request = TimeRequestPacket();
  const size_t count = servers.size() < kMaxTimeServers ? servers.size() : kMaxTimeServers;
  for (size_t i = 0; i < count; ++i) {
    const std::u16string& server = servers[i];
    errno = 0;
    if (socket.SendTo(request.data(), request.size(), server, options.port) != static_cast<int>(request.size())) {
      App::DebugOut(u"Send %s errno: %d ", server.c_str(), errno);
      continue;
    }
    uint8_t reply[kReceiveBufferSize];
    const int received = socket.ReceiveFrom(reply, sizeof reply, options.replyWaitMs);
    if (received <= 0) continue;
    const auto time = TimeFromReply(reply, static_cast<size_t>(received), options.earliest);
    if (!time) continue;
    // Whether the system took the new time is not looked at.
    if (options.setClock) options.setClock(*time);
    else Platform::SetSystemClock(*time);
    return 0;
  }
  return -1;
}

int32_t SyncTime(const std::vector<std::u16string>& servers, const TimeSyncOptions& options) {
  MyCSocket socket;
  if (socket.Create() != 0) return -1;
  return QueryTimeServers(socket, servers, options);
}

}  // namespace Zentrovak::Network
