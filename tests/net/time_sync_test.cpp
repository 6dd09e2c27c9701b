// Time synchronisation against a scripted SNTP responder and a real NTP
// server (chronyd) on loopback. The clock setter is replaced by a recorder:
// no test moves the host's clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/time_sync.h"
#include "net_test_support.h"
#include "support/debug_lines.h"

namespace Zentrovak::Network {
namespace {

using namespace Testing;
using Platform::UtcTime;

std::string Text(const UtcTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

// Seconds since 1970 of a calendar time.
int64_t SecondsOf(const UtcTime& t) {
  const int64_t y = t.month <= 2 ? t.year - 1 : t.year;
  const int64_t era = y / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (t.month > 2 ? t.month - 3 : t.month + 9) + 2) / 5 + t.day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const int64_t days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

// The tables below are about the shape of a reply, not its date: they
// accept any day from this one on.
constexpr UtcTime kOldestTestDay{2013, 1, 1};

uint32_t NtpSecondsOf(const UtcTime& t) { return static_cast<uint32_t>(SecondsOf(t) + 2208988800LL); }

TEST(TimeFromNtpSeconds, ReadsBothSidesOfThe2036Wrap) {
  const struct {
    uint32_t seconds;
    const char* time;
  } cases[] = {
      {3600000000u, "2014-01-29 16:00:00"},
      {4000000000u, "2026-10-03 07:06:40"},
      {3565987200u, "2013-01-01 00:00:00"},
      {0xFFFFFFFFu, "2036-02-07 06:28:15"},
      {1u, "2036-02-07 06:28:17"},  // the next era
      {2016466303u, "2099-12-31 23:59:59"},
      {0x80000000u, "1968-01-20 03:14:08"},
      {0x7FFFFFFFu, "2104-02-26 09:42:23"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.time, Text(TimeFromNtpSeconds(c.seconds))) << c.seconds;
}

TEST(TimeFromReply, AcceptsOnlySynchronisedServerAnswersOfPlausibleYears) {
  const struct {
    std::vector<uint8_t> reply;
    const char* time;  // null: rejected
  } cases[] = {
      {Reply(0x1C, 2, 3600000000u), "2014-01-29 16:00:00"},
      {Reply(0x1C, 2, 4000000000u), "2026-10-03 07:06:40"},  // past the old 2020 limit
      {Reply(0x1C, 1, 1u), "2036-02-07 06:28:17"},
      {Reply(0x1C, 14, 2016466303u), "2099-12-31 23:59:59"},
      {Reply(0x5C, 3, 3600000000u), "2014-01-29 16:00:00"},  // leap 1
      {Reply(0x9C, 3, 3600000000u), "2014-01-29 16:00:00"},  // leap 2
      {Reply(0x1C, 2, 3600000000u, 1024), "2014-01-29 16:00:00"},
      {Reply(0xDC, 2, 3600000000u), nullptr},  // leap 3: not synchronised
      {Reply(0x24, 2, 3600000000u), nullptr},  // version 4
      {Reply(0x14, 2, 3600000000u), nullptr},  // version 2
      {Reply(0x1B, 2, 3600000000u), nullptr},  // mode 3, a client
      {Reply(0x1D, 2, 3600000000u), nullptr},  // mode 5, broadcast
      {Reply(0x1C, 0, 3600000000u), nullptr},  // stratum 0, kiss of death
      {Reply(0x1C, 15, 3600000000u), nullptr},
      {Reply(0x1C, 2, 0u), nullptr},
      {Reply(0x1C, 2, 3565987199u), nullptr},  // 2012
      {Reply(0x1C, 2, 2016466304u), nullptr},  // 2100
      {Reply(0x1C, 2, 3600000000u, 47), nullptr},
      {Reply(0x1C, 2, 3600000000u, 1), nullptr},
      {{}, nullptr},
  };
  for (const auto& c : cases) {
    const auto time = TimeFromReply(c.reply.data(), c.reply.size(), kOldestTestDay);
    if (c.time) {
      ASSERT_TRUE(time.has_value()) << Hex(c.reply);
      EXPECT_EQ(c.time, Text(*time));
    } else {
      EXPECT_FALSE(time.has_value()) << Hex(c.reply);
    }
  }
}

TEST(TimeFromReply, NothingOlderThanTheProgramsOwnBuildDayIsAccepted) {
  const UtcTime built = BuildDate();
  ASSERT_GE(built.year, 2026) << Text(built);
  const uint32_t builtAt = NtpSecondsOf(built);
  const struct {
    uint32_t seconds;
    bool accepted;
  } cases[] = {
      {builtAt, true},
      {builtAt + 86400u * 365, true},
      {builtAt - 1, false},          // the last second of the day before
      {3600000000u, false},          // 2014: a server whose clock lies years back
      {NtpSecondsOf({2015, 6, 1}), false},
  };
  for (const auto& c : cases) {
    const auto reply = Reply(0x1C, 2, c.seconds);
    EXPECT_EQ(c.accepted, TimeFromReply(reply.data(), reply.size()).has_value()) << Text(TimeFromNtpSeconds(c.seconds));
  }
}

class TimeSyncTest : public testing::Test {
 protected:
  TimeSyncOptions Options(uint16_t port) {
    TimeSyncOptions options;
    options.port = port;
    options.earliest = kOldestTestDay;
    options.setClock = [this](const UtcTime& time) {
      std::lock_guard<std::mutex> lock(mutex_);
      set_.push_back(time);
      return Platform::kErrorSuccess;
    };
    return options;
  }
  std::vector<UtcTime> ClockSets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
  }

  SntpResponder responder_;
  std::mutex mutex_;
  std::vector<UtcTime> set_;
};

TEST_F(TimeSyncTest, SilentFirstServerThenTheSecondSetsTheClock) {
  responder_.Plan("silent hex:" + Hex(Reply(0x1C, 3, 4000000000u)));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, SyncTime({u"127.0.0.1", u"127.0.0.1", u"127.0.0.1", u"127.0.0.1"}, Options(responder_.port())));
  const uint32_t elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 1150u) << "the first server is waited for 1200 ms";
  EXPECT_LT(elapsed, 6000u);
  ASSERT_EQ(1u, ClockSets().size());
  EXPECT_EQ("2026-10-03 07:06:40", Text(ClockSets()[0]));
  EXPECT_EQ(2, responder_.RequestCount()) << "no server is asked after the first good answer";
  EXPECT_EQ(Hex(TimeRequestPacket()), responder_.LastRequestHex());
  EXPECT_EQ("1b" + std::string(94, '0'), responder_.LastRequestHex());
}

TEST_F(TimeSyncTest, MalformedAnswersAndGarbageDatagramsArePassedOver) {
  const std::string cases[] = {
      "hex:" + Hex(Reply(0x24, 2, 3600000000u)),  // version 4
      "hex:" + Hex(Reply(0x1C, 0, 3600000000u)),  // stratum 0
      "hex:" + Hex(Reply(0xDC, 2, 3600000000u)),  // leap 3
      "hex:" + Hex(Reply(0x1C, 2, 0u)),           // zero timestamp
      "hex:" + Hex(Reply(0x1C, 2, 3600000000u, 47)),
      "fill:0:00",
      "fill:1:1c",
      "fill:48:ff",
      "fill:1025:1c",  // larger than the receive buffer
      "fill:65000:1c",
  };
  for (const std::string& answer : cases) {
    responder_.Plan(answer);
    EXPECT_EQ(-1, SyncTime({u"127.0.0.1"}, Options(responder_.port()))) << answer;
    EXPECT_EQ(1, responder_.RequestCount()) << answer;
  }
  EXPECT_TRUE(ClockSets().empty());

  // After the rejects, a good answer from the next server still counts.
  responder_.Plan("fill:5:00 hex:" + Hex(Reply(0x1C, 2, 3600000000u)));
  EXPECT_EQ(0, SyncTime({u"127.0.0.1", u"127.0.0.1"}, Options(responder_.port())));
  ASSERT_EQ(1u, ClockSets().size());
  EXPECT_EQ("2014-01-29 16:00:00", Text(ClockSets()[0]));
}

TEST_F(TimeSyncTest, AServerDatedBeforeTheBuildIsPassedOverForTheNext) {
  const uint32_t builtAt = NtpSecondsOf(BuildDate());
  responder_.Plan("hex:" + Hex(Reply(0x1C, 2, NtpSecondsOf({2015, 6, 1}))) + " hex:" +
                  Hex(Reply(0x1C, 2, builtAt + 86400u)));
  TimeSyncOptions options = Options(responder_.port());
  options.earliest = BuildDate();
  EXPECT_EQ(0, SyncTime({u"127.0.0.1", u"127.0.0.1"}, options));
  ASSERT_EQ(1u, ClockSets().size());
  EXPECT_EQ(Text(TimeFromNtpSeconds(builtAt + 86400u)), Text(ClockSets()[0]));
  EXPECT_EQ(2, responder_.RequestCount());
}

TEST_F(TimeSyncTest, MissingServersAreReportedAndNothingIsSent) {
  Zentrovak::Testing::DebugLines debug;
  responder_.Plan("");
  EXPECT_EQ(-1, SyncTime({u"", u"", u"", u""}, Options(responder_.port())));
  EXPECT_EQ(-1, SyncTime({}, Options(responder_.port())));
  const std::vector<std::u16string> lines = debug.Lines();
  ASSERT_EQ(4u, lines.size());
  for (const auto& line : lines) EXPECT_EQ(0u, line.rfind(u"Send  errno: ", 0)) << Platform::Utf16ToUtf8(line);
  EXPECT_EQ(0, responder_.RequestCount());
  EXPECT_TRUE(ClockSets().empty());
}

TEST_F(TimeSyncTest, UnresolvableAndOddNamesAreSkipped) {
  Zentrovak::Testing::DebugLines debug;
  responder_.Plan("hex:" + Hex(Reply(0x1C, 2, 3600000000u)));
  const std::u16string withNul(u"127.0.0.1\0x", 11);
  EXPECT_EQ(0, SyncTime({u"no-such-host.invalid", std::u16string(300, u'n'), withNul, u"127.0.0.1"},
                        Options(responder_.port())));
  const std::vector<std::u16string> lines = debug.Lines();
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(0u, lines[0].rfind(u"Send no-such-host.invalid errno: ", 0));
  EXPECT_EQ(1, responder_.RequestCount());
}

TEST_F(TimeSyncTest, ARealNtpServerSetsTheClock) {
  const char* chrony = std::getenv("ZT_CHRONY_PORT");
  if (!chrony) GTEST_SKIP() << "chronyd is not available";
  const uint16_t port = static_cast<uint16_t>(std::atoi(chrony));
  EXPECT_EQ(0, SyncTime({u"127.0.0.1"}, Options(port)));
  ASSERT_EQ(1u, ClockSets().size());
  // chronyd serves this machine's clock: the time set is now.
  const std::time_t now = std::time(nullptr);
  const UtcTime expected = TimeFromNtpSeconds(static_cast<uint32_t>(now + 2208988800LL));
  const UtcTime set = ClockSets()[0];
  EXPECT_LE(std::llabs(SecondsOf(set) - SecondsOf(expected)), 5) << Text(set) << " vs " << Text(expected);
}

}  // namespace
}  // namespace Zentrovak::Network
