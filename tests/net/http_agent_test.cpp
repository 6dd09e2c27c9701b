// The HTTP agent against real HTTP servers on loopback: the same tests run
// on libcurl natively and on WinHTTP under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/assistant_app.h"
#include "net/bounded_worker.h"
#include "net/http.h"
#include "net/http_agent.h"
#include "net_test_support.h"
#include "platform/files.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace Zentrovak::Network {
namespace {

using namespace Testing;
using Platform::Failed;
using Platform::kEFail;
using Platform::kSOk;

struct Notice {
  int32_t kind;
  uint32_t a;
  uint32_t b;
};

struct NoticeLog {
  std::vector<Notice> notices;
  int32_t stopAfterBlocks = -1;  // answer 0 to this block notice
  static int32_t Record(void* self, int32_t kind, uint32_t a, uint32_t b) {
    auto* log = static_cast<NoticeLog*>(self);
    log->notices.push_back({kind, a, b});
    if (kind == NoticeKind::kBlockWritten && log->stopAfterBlocks >= 0 &&
        static_cast<int32_t>(log->notices.size()) > log->stopAfterBlocks)
      return 0;
    return 1;
  }
};

std::string ReadFile(const std::u16string& path) {
  std::string bytes;
  EXPECT_EQ(kSOk, Platform::ReadWholeFile(path, bytes));
  return bytes;
}

class HttpAgentTest : public testing::Test {
 protected:
  Echo GetEcho(std::u16string_view url, std::string_view query = {}) {
    std::string body;
    EXPECT_EQ(kSOk, agent_.Get(url, query, body)) << Platform::Utf16ToUtf8(url);
    return ParseEcho(body);
  }
  std::u16string TempFile(const char16_t* name) { return folder_ + u"\\" + name; }

  AssistantHttp agent_;
  std::u16string folder_ = Zentrovak::Testing::NewTempFolder();
};

TEST_F(HttpAgentTest, ReusesTheConnectionUntilHostPortOrLetterCaseChange) {
  const uint16_t port = HttpPort();
  const uint16_t otherPort = ServerPort("ZT_HTTP_PORT2");
  const Echo first = GetEcho(Origin(port) + u"/a");
  EXPECT_EQ("/a", first.path);
  EXPECT_EQ("Mozilla/5.0", first.userAgent);
  const Echo samePlace = GetEcho(Origin(port) + u"/b");
  EXPECT_EQ("/b", samePlace.path);
  EXPECT_EQ(first.connection, samePlace.connection) << "same host and port: one TCP connection";

  EXPECT_EQ("/c", GetEcho(Origin(otherPort) + u"/c").path);
  EXPECT_EQ(otherPort, agent_.Snapshot().connectedPort);
  // Back on the first port the agent connects anew; whether the system
  // hands out its pooled socket again is the system's affair.
  const Echo back = GetEcho(Origin(port) + u"/d");
  EXPECT_EQ(port, agent_.Snapshot().connectedPort);

  const Echo otherHost = GetEcho(Origin(port, u"localhost") + u"/e");
  EXPECT_EQ("/e", otherHost.path);
  EXPECT_NE(back.connection, otherHost.connection);
  EXPECT_EQ(u"localhost", agent_.Snapshot().connectedHost);
  // The host is compared with its letter case: a new connection object
  // (the system's own socket pool may still hand out the same socket).
  GetEcho(Origin(port, u"LocalHost") + u"/f");
  EXPECT_EQ(u"LocalHost", agent_.Snapshot().connectedHost);
}

TEST_F(HttpAgentTest, RelativeUrlsFollowTheLastAbsolutePath) {
  EXPECT_EQ("/dir/", GetEcho(HttpOrigin() + u"/dir/").path);
  EXPECT_EQ(u"/dir/", agent_.Snapshot().currentPath);
  EXPECT_EQ(0u, agent_.Snapshot().requestFlags);
  EXPECT_EQ("/dir/a/b.xml", GetEcho(u"a/b.xml").path);
  // A relative request leaves the base as it was.
  EXPECT_EQ("/dir/c.xml", GetEcho(u"c.xml").path);
}

TEST_F(HttpAgentTest, QueryTextAndTheUrlsOwnQueryAreSent) {
  EXPECT_EQ("/p?a=1", GetEcho(HttpOrigin() + u"/p", "a=1").path);
  EXPECT_EQ("/q?x=1", GetEcho(HttpOrigin() + u"/q?x=1#part").path) << "the fragment stays with the client";
  EXPECT_EQ("/q", GetEcho(HttpOrigin() + u"/q#part?x=1").path) << "a \"?\" in the fragment starts no query";
  EXPECT_EQ("/q?y=2", GetEcho(HttpOrigin() + u"/q#part?x=1", "y=2").path);
  EXPECT_EQ("/q?x=1&y=2", GetEcho(HttpOrigin() + u"/q?x=1", "y=2").path);
  EXPECT_EQ(u"/q", agent_.Snapshot().currentPath);
}

TEST_F(HttpAgentTest, ErrorStatusIsAnAnswerWithoutBody) {
  std::string body = "kept";
  EXPECT_EQ(kSOk, agent_.Get(HttpOrigin() + u"/status/404", {}, body));
  EXPECT_EQ("kept", body);
  EXPECT_EQ(kSOk, agent_.Get(HttpOrigin() + u"/status/204", {}, body));
  EXPECT_EQ("", body);

  NoticeLog log;
  const std::u16string target = TempFile(u"missing.bin");
  EXPECT_EQ(kSOk, agent_.Download(HttpOrigin() + u"/status/404", target, NoticeLog::Record, &log));
  ASSERT_EQ(1u, log.notices.size());
  EXPECT_EQ(NoticeKind::kHttpError, log.notices[0].kind);
  EXPECT_EQ(404u, log.notices[0].a);
  EXPECT_EQ(0u, log.notices[0].b);
  EXPECT_FALSE(Platform::FileExists(target)) << "no file for an error status";
}

TEST_F(HttpAgentTest, ShortBodyFailsAndLeavesNoFile) {
  NoticeLog log;
  const std::u16string target = TempFile(u"short.bin");
  Platform::WriteWholeFile(target, "an older file");
  EXPECT_EQ(kEFail, agent_.Download(HttpOrigin() + u"/short", target, NoticeLog::Record, &log));
  ASSERT_FALSE(log.notices.empty());
  const Notice last = log.notices.back();
  EXPECT_EQ(NoticeKind::kFailed, last.kind);
  EXPECT_EQ(static_cast<uint32_t>(kEFail), last.a);
  EXPECT_EQ(1000u, last.b);
  for (size_t i = 0; i + 1 < log.notices.size(); ++i) {
    EXPECT_EQ(NoticeKind::kBlockWritten, log.notices[i].kind);
    EXPECT_EQ(1000u, log.notices[i].b);
  }
  EXPECT_FALSE(Platform::FileExists(target)) << "a cut-off download must not look complete";

  // Into memory the body is taken as it came.
  std::string body;
  EXPECT_EQ(kSOk, agent_.Get(HttpOrigin() + u"/short", {}, body));
  EXPECT_EQ(900u, body.size());
}

TEST_F(HttpAgentTest, BodyWithoutLengthIsWrittenWhole) {
  NoticeLog log;
  const std::u16string target = TempFile(u"nolength.bin");
  EXPECT_EQ(kSOk, agent_.Download(HttpOrigin() + u"/nolength/70000", target, NoticeLog::Record, &log));
  ASSERT_FALSE(log.notices.empty());
  EXPECT_EQ(NoticeKind::kFinished, log.notices.back().kind);
  EXPECT_EQ(70000u, log.notices.back().a);
  EXPECT_EQ(0u, log.notices.back().b);
  const std::string bytes = ReadFile(target);
  EXPECT_EQ(70000u, bytes.size());
  EXPECT_TRUE(FollowsPattern(bytes));
}

TEST_F(HttpAgentTest, NotifyCanStopADownload) {
  NoticeLog log;
  log.stopAfterBlocks = 0;
  const std::u16string target = TempFile(u"stopped.bin");
  EXPECT_EQ(kEFail, agent_.Download(HttpOrigin() + u"/bytes/3000000", target, NoticeLog::Record, &log));
  ASSERT_EQ(2u, log.notices.size());
  EXPECT_EQ(NoticeKind::kBlockWritten, log.notices[0].kind);
  EXPECT_EQ(NoticeKind::kFailed, log.notices[1].kind);
  EXPECT_FALSE(Platform::FileExists(target));
}

// The progress record of the process-wide entry point.
std::vector<DownloadProgress> progressSeen;
bool RecordProgress(const DownloadProgress* progress) {
  progressSeen.push_back(*progress);
  return false;  // the answer is not looked at
}

TEST_F(HttpAgentTest, DownloadReportsProgressAndWritesEveryByte) {
  progressSeen.clear();
  const std::u16string url = HttpOrigin() + u"/bytes/30000000";
  const std::u16string target = TempFile(u"large.bin");
  EXPECT_EQ(kSOk, HttpDownloadToFile(url, target, RecordProgress, 77));
  ASSERT_GE(progressSeen.size(), 2u);
  bool sawHalf = false;
  uint32_t previous = 0;
  for (const DownloadProgress& p : progressSeen) {
    EXPECT_EQ(url, p.requestUrl);
    EXPECT_EQ(target, p.fileName);
    EXPECT_EQ(77, p.userValue);
    EXPECT_EQ(30000000u, p.totalBytes);
    EXPECT_TRUE(p.inProgress);
    EXPECT_EQ(static_cast<int32_t>(uint64_t{p.bytesDone} * 100 / 30000000), p.percent);
    EXPECT_GE(p.bytesDone, previous);
    previous = p.bytesDone;
    sawHalf = sawHalf || p.percent == 50;
  }
  EXPECT_TRUE(sawHalf);
  EXPECT_EQ(30000000u, progressSeen.back().bytesDone);
  EXPECT_EQ(100, progressSeen.back().percent);

  const std::string bytes = ReadFile(target);
  ASSERT_EQ(30000000u, bytes.size());
  EXPECT_TRUE(FollowsPattern(bytes));

  progressSeen.clear();
  EXPECT_EQ(kSOk, HttpDownloadToFile(HttpOrigin() + u"/status/403", target, RecordProgress, 5));
  ASSERT_EQ(1u, progressSeen.size());
  EXPECT_FALSE(progressSeen[0].inProgress);
  EXPECT_EQ(0, progressSeen[0].percent);
  EXPECT_EQ(0u, progressSeen[0].bytesDone);
  EXPECT_EQ(0u, progressSeen[0].totalBytes);

  // A download cut short fails, and its last notice is no progress: the
  // error is not passed off as a count of bytes.
  Zentrovak::Testing::LoopbackServer shortServer;
  ASSERT_TRUE(shortServer.Started());
  shortServer.ServeWithLength("/short", std::string(900, 'x'), 1000);
  progressSeen.clear();
  EXPECT_TRUE(Platform::Failed(HttpDownloadToFile(shortServer.Url("/short"), target, RecordProgress, 6)));
  ASSERT_FALSE(progressSeen.empty());
  const DownloadProgress& last = progressSeen.back();
  EXPECT_FALSE(last.inProgress);
  EXPECT_EQ(0u, last.bytesDone);
  EXPECT_EQ(0, last.percent);
  EXPECT_EQ(6, last.userValue);
}

TEST_F(HttpAgentTest, MalformedUrlsFailCleanly) {
  const std::u16string longHost(100, u'h');
  const std::u16string longPath(600, u'p');
  const std::u16string cases[] = {
      u"http://",
      u"http:///nohost",
      u"ftp://127.0.0.1/x",
      u"gopher://127.0.0.1/",
      u"http://" + longHost + u"/x",
      HttpOrigin() + u"/" + longPath,
      u"http://127.0.0.1:99999/",
      u"http://127.0.0.1:12ab/",
      u"http://[::1/",
      u"http://host with blanks.invalid/",
      u"http://name.invalid/",
  };
  for (const std::u16string& url : cases) {
    std::string body = "untouched";
    EXPECT_TRUE(Failed(agent_.Get(url, {}, body))) << Platform::Utf16ToUtf8(url);
    EXPECT_EQ("untouched", body);
  }
  // A relative URL before any connection has nowhere to go.
  AssistantHttp fresh;
  std::string body;
  EXPECT_TRUE(Failed(fresh.Get(u"relative/x", {}, body)));
  NoticeLog log;
  EXPECT_TRUE(Failed(fresh.Download(u"", TempFile(u"none.bin"), NoticeLog::Record, &log)));
  EXPECT_TRUE(log.notices.empty());
  EXPECT_FALSE(Platform::FileExists(TempFile(u"none.bin")));

  // A long relative path after a connection is just a long request.
  GetEcho(HttpOrigin() + u"/base/");
  const std::u16string longRelative(4000, u'r');
  EXPECT_EQ("/base/" + std::string(4000, 'r'), GetEcho(longRelative).path);
}

TEST_F(HttpAgentTest, AFileThatCannotBeCreatedGetsNoNotice) {
  NoticeLog log;
  const std::u16string target = folder_ + u"\\no such folder\\x.bin";
  EXPECT_TRUE(Failed(agent_.Download(HttpOrigin() + u"/bytes/10", target, NoticeLog::Record, &log)));
  EXPECT_TRUE(log.notices.empty());
}

TEST_F(HttpAgentTest, EndlessBodyIsBoundedInMemory) {
  std::string body = "kept";
  EXPECT_EQ(Platform::kEOutOfMemory, agent_.Get(HttpOrigin() + u"/forever", {}, body));
  EXPECT_EQ("kept", body);
  // The agent goes on serving.
  EXPECT_EQ("/after", GetEcho(HttpOrigin() + u"/after").path);
}

TEST_F(HttpAgentTest, AbandonedRequestsDoNotHoldUpTheNextOnes) {
  // The process-wide agent: an abandoned worker may outlive this test.
  AssistantHttp& agent = TheAssistantHttp();
  const auto start = std::chrono::steady_clock::now();
  for (const char16_t* path : {u"/stall/a", u"/trickle"}) {
    const std::u16string url = HttpOrigin() + path;
    const auto answer = RunBounded(
        [&agent, url](const std::atomic<bool>&) {
          std::string body;
          return agent.Get(url, {}, body);
        },
        300);
    EXPECT_FALSE(answer.has_value());
  }
  // The workers are cancelled or still waiting; the agent serves the next
  // requests at once, and its members are the new requests' alone.
  std::string body;
  EXPECT_EQ(kSOk, agent.Get(HttpOrigin() + u"/dir/", {}, body));
  EXPECT_EQ("/dir/", ParseEcho(body).path);
  EXPECT_EQ(kSOk, agent.Get(u"y", {}, body));
  EXPECT_EQ("/dir/y", ParseEcho(body).path);
  EXPECT_LT(ElapsedMs(start), 10000u);
}

TEST_F(HttpAgentTest, OverlappingRequestsFromSeveralThreads) {
  constexpr int kThreads = 6;
  constexpr int kRequests = 15;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRequests; ++i) {
        const std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i);
        std::string body;
        if (agent_.Get(HttpOrigin() + Platform::Utf8ToUtf16(path), {}, body) != kSOk || ParseEcho(body).path != path)
          ++wrong;
        if (i % 5 == 0) {
          const std::u16string target = folder_ + u"\\t" + Platform::ToU16(t) + u".bin";
          if (agent_.Download(HttpOrigin() + u"/bytes/200000", target, nullptr, nullptr) != kSOk ||
              ReadFile(target).size() != 200000u)
            ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, wrong.load());
}

TEST_F(HttpAgentTest, CertificateChecksAreRelaxedByOption1001) {
  const std::u16string url = Origin(ServerPort("ZT_HTTPS_PORT"), u"127.0.0.1", u"https") + u"/secure";
  std::string body = "none";
  App::SetRuntimeOption(1001, 0);
  EXPECT_TRUE(Failed(HttpGetToMemory(url, body))) << "a self-signed certificate is refused";
  EXPECT_EQ("none", body);
  App::SetRuntimeOption(1001, 1);
  EXPECT_EQ(kSOk, HttpGetToMemory(url, body));
  EXPECT_EQ("/secure", ParseEcho(body).path);
  EXPECT_EQ(kWinHttpFlagSecure, TheAssistantHttp().Snapshot().requestFlags);
  App::SetRuntimeOption(1001, 0);
}

TEST_F(HttpAgentTest, RedirectsAreFollowedButNeverFromHttpsDownToHttp) {
  App::SetRuntimeOption(1001, 1);  // the TLS server's certificate is self-signed
  const std::u16string http = u"http/" + Platform::ToU16(HttpPort());
  const std::u16string https = u"https/" + Platform::ToU16(ServerPort("ZT_HTTPS_PORT"));
  const auto hop = [](const std::u16string& to) { return u"redirect/302/" + to + u"/"; };
  struct Case {
    const char* name;
    std::u16string url;
    std::string landed;  // the path reached, or "moved": the redirect is the answer
  } const cases[] = {
      {"http to http", HttpOrigin() + u"/" + hop(http) + u"landed", "/landed"},
      {"http to https", HttpOrigin() + u"/" + hop(https) + u"landed", "/landed"},
      {"https to https", Origin(ServerPort("ZT_HTTPS_PORT"), u"127.0.0.1", u"https") + u"/" + hop(https) + u"landed",
       "/landed"},
      {"https to http", Origin(ServerPort("ZT_HTTPS_PORT"), u"127.0.0.1", u"https") + u"/" + hop(http) + u"landed",
       "moved"},
      {"http to https to http", HttpOrigin() + u"/" + hop(https) + hop(http) + u"landed", "moved"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string body;
    EXPECT_EQ(kSOk, HttpGetToMemory(c.url, body));
    EXPECT_EQ(c.landed, c.landed == "moved" ? body : ParseEcho(body).path);
    // A download sees the same answer.
    const std::u16string target = TempFile(u"redirected.bin");
    EXPECT_EQ(kSOk, HttpDownloadToFile(c.url, target, nullptr, 0));
    EXPECT_EQ(c.landed, c.landed == "moved" ? ReadFile(target) : ParseEcho(ReadFile(target)).path);
  }
  App::SetRuntimeOption(1001, 0);
}

TEST_F(HttpAgentTest, UsersProxySettingsAreHonoured) {
  const std::string proxy = "127.0.0.1:" + std::to_string(HttpPort());
  {
    ConnectionSettingsOverride settings(ConnectionSettingsOverride::Blob(2, proxy, "*.bypass.invalid;127.0.0.1", ""));
    AssistantHttp agent;
    std::string body;
    EXPECT_EQ(kSOk, agent.Get(u"http://far.invalid/item?x=1", {}, body));
    // WinHTTP names the default port in the request target, curl does not.
    EXPECT_TRUE(body == "proxied http://far.invalid/item?x=1" || body == "proxied http://far.invalid:80/item?x=1")
        << body;
    // The bypass list sends loopback straight to the server.
    EXPECT_EQ(kSOk, agent.Get(HttpOrigin() + u"/direct", {}, body));
    EXPECT_EQ("/direct", ParseEcho(body).path);
    EXPECT_TRUE(Failed(agent.Get(u"http://x.bypass.invalid/", {}, body)));
  }
  {
    // A settings blob cut short is ignored: no proxy.
    auto blob = ConnectionSettingsOverride::Blob(2, proxy, "", "");
    blob.resize(14);
    ConnectionSettingsOverride settings(blob);
    AssistantHttp agent;
    std::string body;
    EXPECT_TRUE(Failed(agent.Get(u"http://far.invalid/item", {}, body)));
  }
}

TEST_F(HttpAgentTest, AutomaticConfigurationScriptIsFollowed) {
  const std::string script = Platform::Utf16ToUtf8(HttpOrigin()) + "/pac/constant";
  ConnectionSettingsOverride settings(ConnectionSettingsOverride::Blob(4, "", "", script));
  AssistantHttp agent;
  EXPECT_EQ(Platform::Utf8ToUtf16(script), agent.Snapshot().autoConfigUrl);
  if (Zentrovak::Testing::RunningUnderWine())
    GTEST_SKIP() << "Wine evaluates the script but ignores a request's proxy option";
  std::string body;
  EXPECT_EQ(kSOk, agent.Get(u"http://pac.invalid/through", {}, body));
  EXPECT_EQ("proxied http://pac.invalid/through", body);
}

}  // namespace
}  // namespace Zentrovak::Network
