// Setting the clock from the bank's time servers with one simple SNTP
// exchange each.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/system_clock.h"

namespace Zentrovak::Network {

class MyCSocket;

inline constexpr uint16_t kSntpPort = 123;
inline constexpr uint32_t kReplyWaitMs = 1200;
inline constexpr size_t kMaxTimeServers = 4;
// Answers dated after this year are taken for a wrong server clock.
inline constexpr uint16_t kLastAcceptedYear = 2099;

// The day this program was built (UTC). No right answer can be older: a
// server whose clock lies in the past would otherwise set the machine back
// years and make every certificate check fail.
Platform::UtcTime BuildDate();

struct TimeSyncOptions {
  uint16_t port = kSntpPort;
  uint32_t replyWaitMs = kReplyWaitMs;
  // Answers dated before this day are passed over.
  Platform::UtcTime earliest = BuildDate();
  // The clock setter; Platform::SetSystemClock when empty.
  std::function<Platform::Win32Error(const Platform::UtcTime&)> setClock;
};

// The 48-byte client request: version 3, mode 3, the rest zero.
std::vector<uint8_t> TimeRequestPacket();

// The calendar time of NTP seconds since 1900-01-01 00:00:00 UTC. The 32-bit
// count wraps in February 2036; a count below 2^31 is read in the next era.
Platform::UtcTime TimeFromNtpSeconds(uint32_t seconds);

// The time a server reply carries when the reply is acceptable: at least 48
// bytes, leap indicator 0 to 2, version 3, mode 4 (server), stratum 1 to
// 14, a non-zero transmit time on or after the day `earliest` and no later
// than kLastAcceptedYear.
std::optional<Platform::UtcTime> TimeFromReply(const uint8_t* data, size_t size,
                                               const Platform::UtcTime& earliest = BuildDate());

// Asks the servers in order (at most four; an empty name counts as a server
// that cannot be reached) and sets the clock from the first acceptable
// answer: 0 then, -1 when no server gave one.
int32_t QueryTimeServers(MyCSocket& socket, const std::vector<std::u16string>& servers,
                         const TimeSyncOptions& options = {});

// The sync_time operation: a fresh socket for one run of QueryTimeServers;
// -1 when the socket cannot be made.
int32_t SyncTime(const std::vector<std::u16string>& servers, const TimeSyncOptions& options = {});

}  // namespace Zentrovak::Network
