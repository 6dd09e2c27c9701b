// The posix program as a user starts it (--no-browser): which page it
// serves, when it ends silently, the recycle bin at start, the tray helper
// at the end, and the bridge's refusals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_support.h"
#include "ui/resources.h"

extern char** environ;

namespace Zentrovak::App {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kProgram = std::string(TEST_BINARY_DIR) + "/NetBankAssistant";
constexpr char16_t kSettingsKey[] = u"Software\\Zentrovak\\NetBankAssistant\\Settings";

// One run of the program on the test machine, in a folder of its own.
class ProgramRun {
 public:
  ProgramRun(const std::string& folder, std::vector<std::string> args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<std::string> all = {kProgram, "--machine", Testing::TestMachineDirectory(), "--no-browser"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, kProgram.c_str(), &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    output_ = pipeFds[0];
  }
  ~ProgramRun() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) ::close(output_);
  }

  // The first line of standard output, or "" when the program ended first.
  std::string ReadLine(int timeoutMs = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
      const auto nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0) {
        char chunk[512];
        const ssize_t n = ::read(output_, chunk, sizeof chunk);
        if (n <= 0) return {};
        buffer_.append(chunk, static_cast<size_t>(n));
      }
    }
    return {};
  }
  std::string RemainingOutput() {
    std::string rest = buffer_;
    char chunk[512];
    ssize_t n;
    while ((n = ::read(output_, chunk, sizeof chunk)) > 0) rest.append(chunk, static_cast<size_t>(n));
    return rest;
  }

  // The exit code, or -1 when it has not ended in time.
  int WaitExit(int timeoutMs = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  bool exited_ = false;
  std::string buffer_;
};

// The page address split into what a client needs.
struct Address {
  std::string origin;  // http://127.0.0.1:port
  int port = 0;
  std::string secret;
};

Address Parse(const std::string& line) {
  Address a;
  const auto open = line.find("/open?key=");
  if (open == std::string::npos) return a;
  a.origin = line.substr(0, open);
  a.port = std::stoi(a.origin.substr(a.origin.rfind(':') + 1));
  a.secret = line.substr(open + 10);
  return a;
}

// The page token the program hands its own documents in the shim.
std::string PageToken(const Address& a) {
  httplib::Client client("127.0.0.1", a.port);
  client.set_read_timeout(10, 0);
  auto shim = client.Get("/bridge/shim.js", {{"X-Zentrovak-Secret", a.secret}, {"Origin", a.origin}});
  if (!shim) return {};
  const std::string marker = "ZENTROVAK_TOKEN=\"";
  const size_t start = shim->body.find(marker);
  if (start == std::string::npos) return {};
  const size_t from = start + marker.size();
  return shim->body.substr(from, shim->body.find('"', from) - from);
}

// What the program's own page sends.
httplib::Headers Trusted(const Address& a) {
  return {{"X-Zentrovak-Secret", a.secret}, {"Origin", a.origin}, {"X-Zentrovak-Token", PageToken(a)}};
}

std::string Callc(const Address& a, const std::string& argsJson, const httplib::Headers& headers, int* status) {
  httplib::Client client("127.0.0.1", a.port);
  client.set_read_timeout(10, 0);
  auto response = client.Post("/bridge/callc", headers, "{\"args\":" + argsJson + "}", "application/json");
  *status = response ? response->status : 0;
  return response ? response->body : std::string();
}

void ShutDown(const Address& a) {
  int status = 0;
  Callc(a, R"([{"t":"s","v":"shut_down"}])", Trusted(a), &status);
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("zentrovak-run-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_ / "runtime");
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) oldRuntime_ = old;
    ::setenv("XDG_RUNTIME_DIR", (folder_ / "runtime").c_str(), 1);
    ::setenv("RUDIVIRAV_LOG", (folder_ / "tray.log").c_str(), 1);
    Platform::RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, u"Software\\Zentrovak", Platform::RegView::Default);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    ::unsetenv("RUDIVIRAV_LOG");
    if (oldRuntime_.empty()) ::unsetenv("XDG_RUNTIME_DIR");
    else ::setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
  }
  void SetSetting(const char16_t* name, const std::u16string* text, uint32_t number) {
    Platform::RegistryKey key;
    ASSERT_EQ(Platform::RegistryKey::Create(Platform::kHkeyCurrentUser, kSettingsKey, Platform::RegAccess::ReadWrite,
                                            Platform::RegView::Default, key),
              0u);
    if (text) key.WriteString(name, *text);
    else key.WriteDword(name, number);
  }
  std::string TrayLog() {
    std::ifstream in(folder_ / "tray.log");
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  std::string Folder() const { return folder_.string(); }

  fs::path folder_;
  std::string oldRuntime_;
};

TEST_F(Program, TwoArgumentsEndSilently) {
  ProgramRun run(Folder(), {"1", "2"});
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.WaitExit(), 0);
  EXPECT_EQ(run.RemainingOutput(), "");
}

TEST_F(Program, ASecondInstanceEndsSilentlyAndTheFirstRunsOn) {
  ProgramRun first(Folder(), {});
  const Address a = Parse(first.ReadLine());
  ASSERT_FALSE(a.secret.empty());
  EXPECT_GE(a.secret.size(), 32u) << "at least 128 bits";
  ProgramRun second(Folder(), {"2"});
  EXPECT_EQ(second.WaitExit(), 0);
  EXPECT_EQ(second.RemainingOutput(), "");
  int status = 0;
  EXPECT_NE(Callc(a, R"([{"t":"s","v":"get_command"}])", Trusted(a), &status).find(R"({"t":"i","v":0})"),
            std::string::npos);
  ShutDown(a);
  EXPECT_EQ(first.WaitExit(), 0);
}

TEST_F(Program, ServesThePageOfItsArgumentOrTheResUrl) {
  {
    ProgramRun run(Folder(), {"2"});
    const Address a = Parse(run.ReadLine());
    ASSERT_FALSE(a.secret.empty());
    httplib::Client client("127.0.0.1", a.port);
    auto page = client.Get("/page", Trusted(a));
    ASSERT_TRUE(page);
    const auto expected = UI::FindHtmlResource(130);
    ASSERT_TRUE(expected);
    const std::string body(reinterpret_cast<const char*>(expected->data), expected->size);
    // The served page is the resource with the bridge's script put in.
    EXPECT_NE(page->body.find("/bridge/shim.js"), std::string::npos);
    EXPECT_EQ(page->body.size(), body.size() + std::string("<script src=\"/bridge/shim.js\"></script>").size());
    ShutDown(a);
    EXPECT_EQ(run.WaitExit(), 0);
  }
  {
    ProgramRun run(Folder(), {"7"});
    const Address a = Parse(run.ReadLine());
    httplib::Client client("127.0.0.1", a.port);
    auto page = client.Get("/page", Trusted(a));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("ui_title"), std::string::npos) << "no page for mode 7";
    ShutDown(a);
    EXPECT_EQ(run.WaitExit(), 0);
  }
  {
    // The "ResUrl" site: its pages come through the program with the bridge.
    httplib::Server site;
    site.Get("/pages/index.html", [](const httplib::Request&, httplib::Response& r) {
      r.set_content("<html><head><title>site</title></head><body>远程页面</body></html>", "text/html; charset=utf-8");
    });
    site.Get("/pages/moved", [](const httplib::Request&, httplib::Response& r) { r.set_redirect("/pages/index.html"); });
    site.Get("/pages/away", [](const httplib::Request&, httplib::Response& r) { r.set_redirect("http://elsewhere.example/"); });
    const int sitePort = site.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { site.listen_after_bind(); });
    const std::u16string url =
        u"http://127.0.0.1:" + Platform::Utf8ToUtf16(std::to_string(sitePort)) + u"/pages/index.html#top";
    SetSetting(u"ResUrl", &url, 0);
    ProgramRun run(Folder(), {"2"});
    const Address a = Parse(run.ReadLine());
    httplib::Client client("127.0.0.1", a.port);
    auto start = client.Get("/page", Trusted(a));
    ASSERT_TRUE(start);
    EXPECT_EQ(start->status, 302);
    EXPECT_EQ(start->get_header_value("Location"), "/resurl/pages/index.html");
    auto page = client.Get("/resurl/pages/index.html", Trusted(a));
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("<script src=\"/bridge/shim.js\"></script>"), std::string::npos);
    EXPECT_NE(page->body.find("远程页面"), std::string::npos);
    auto moved = client.Get("/resurl/pages/moved", Trusted(a));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->get_header_value("Location"), "/resurl/pages/index.html");
    auto away = client.Get("/resurl/pages/away", Trusted(a));
    ASSERT_TRUE(away);
    EXPECT_EQ(away->get_header_value("Location"), "http://elsewhere.example/") << "leaves the bridge's origin";
    int status = 0;
    EXPECT_NE(Callc(a, R"([{"t":"s","v":"get_command"}])", Trusted(a), &status).find(R"({"t":"i","v":2})"),
              std::string::npos)
        << "the argument still sets the page mode";
    ShutDown(a);
    EXPECT_EQ(run.WaitExit(), 0);
    site.stop();
    serving.join();
  }
}

TEST_F(Program, AResUrlThatCannotBeHadStillGivesAPageThatCanBeClosed) {
  const fs::path pages = fs::path(Testing::TestMachineDirectory()) / "drive_c/pages";
  fs::create_directories(pages / "img");
  std::ofstream(pages / "index.html") << "<html><head></head><body>本机页面</body></html>";
  std::ofstream(pages / "img/logo.png") << "PNG";
  std::ofstream(fs::path(Testing::TestMachineDirectory()) / "drive_c/secret.txt") << "secret";
  const auto served = [&](const std::u16string& resUrl, const std::vector<std::pair<std::string, std::string>>& expected) {
    SetSetting(u"ResUrl", &resUrl, 0);
    ProgramRun run(Folder(), {"2"});
    const Address a = Parse(run.ReadLine());
    httplib::Client client("127.0.0.1", a.port);
    for (const auto& [path, want] : expected) {
      auto answer = client.Get(path.c_str(), Trusted(a));
      ASSERT_TRUE(answer) << path;
      const std::string got = answer->status == 302 ? "-> " + answer->get_header_value("Location")
                                                    : std::to_string(answer->status) + " " + answer->body;
      EXPECT_NE(got.find(want), std::string::npos) << Platform::Utf16ToUtf8(resUrl) << " " << path << ": " << got;
    }
    ShutDown(a);
    EXPECT_EQ(run.WaitExit(), 0);
  };
  const std::string bridge = "<script src=\"/bridge/shim.js\"></script>";
  // A site that does not answer: the program's own page, with the bridge.
  served(u"http://127.0.0.1:9/index.html", {{"/page", "-> /resurl/index.html"}, {"/resurl/index.html", "502 "},
                                            {"/resurl/index.html", bridge}});
  // A page file of the machine, as a path or a file address: served from
  // its folder and nowhere else.
  for (const std::u16string& file : {std::u16string(u"C:\\pages\\index.html"), std::u16string(u"file:///C:/pages/index.html")})
    served(file, {{"/page", "-> /resurl/index.html"},
                  {"/resurl/index.html", "本机页面"},
                  {"/resurl/index.html", bridge},
                  {"/resurl/img/logo.png", "200 PNG"},
                  {"/resurl/../secret.txt", "404 "},
                  {"/resurl/%2e%2e/secret.txt", "404 "}});
  // Nothing the window could show: the built-in page of the mode.
  served(u"C:\\nowhere\\index.html", {{"/page", "200 "}, {"/page", bridge}, {"/page", "ui_title"}});
  const std::u16string none;
  SetSetting(u"ResUrl", &none, 0);
}

TEST_F(Program, AStartAddressNoPageFollowsEndsTheProgram) {
  ProgramRun run(Folder(), {});
  const Address a = Parse(run.ReadLine());
  httplib::Client client("127.0.0.1", a.port);
  auto open = client.Get(("/open?key=" + a.secret).c_str());  // and nothing after it
  ASSERT_TRUE(open);
  EXPECT_EQ(run.WaitExit(30000), 0);
}

TEST_F(Program, MovesTheLegacyFolderToTheTrashAtStart) {
  const fs::path legacy = fs::path(Testing::TestMachineDirectory()) / "drive_c/Program Files/澜屿银行网上银行安全组件";
  fs::create_directories(legacy);
  std::ofstream(legacy / "old.ocx") << "old";
  ProgramRun run(Folder(), {});
  const Address a = Parse(run.ReadLine());
  ASSERT_FALSE(a.secret.empty());
  EXPECT_FALSE(fs::exists(legacy));
  const fs::path trash = fs::path(std::getenv("XDG_DATA_HOME")) / "Trash";
  EXPECT_TRUE(fs::exists(trash / "files/澜屿银行网上银行安全组件/old.ocx"));
  std::ifstream info(trash / "info/澜屿银行网上银行安全组件.trashinfo");
  std::string header;
  std::getline(info, header);
  EXPECT_EQ(header, "[Trash Info]");
  EXPECT_TRUE(fs::exists(fs::path(Folder()) / "Assist_FT_InterPass3000_QVTR.dll"));
  ShutDown(a);
  EXPECT_EQ(run.WaitExit(), 0);
}

TEST_F(Program, StartsTheTrayHelperAtTheEndWhenCloseChoiceIsOne) {
  {
    ProgramRun run(Folder(), {});
    const Address a = Parse(run.ReadLine());
    ShutDown(a);
    EXPECT_EQ(run.WaitExit(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(TrayLog(), "") << "closechose absent: nothing starts";
  }
  SetSetting(u"closechose", nullptr, 1);
  {
    ProgramRun run(Folder(), {});
    const Address a = Parse(run.ReadLine());
    int status = 0;
    // The page's close with the tray kept: flag 0 now, flag 1 at the end.
    Callc(a, R"([{"t":"s","v":"shut_downmini"},{"t":"i","v":1}])", Trusted(a), &status);
    EXPECT_EQ(run.WaitExit(), 0);
  }
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (TrayLog().size() < 2 * std::string("NetBankAssistant 103 102 128 0\n").size() && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::string log = TrayLog();
  EXPECT_NE(log.find("NetBankAssistant 103 102 128 0\n"), std::string::npos) << log;
  EXPECT_NE(log.find("NetBankAssistant 103 102 128 1\n"), std::string::npos) << log;
}

TEST_F(Program, EndsCleanlyWhileAnAsynchronousCommandStillRuns) {
  ProgramRun run(Folder(), {});
  const Address a = Parse(run.ReadLine());
  ASSERT_FALSE(a.secret.empty());
  httplib::Client client("127.0.0.1", a.port);
  auto started = client.Post("/bridge/async", Trusted(a),
                             R"({"queued":false,"args":[{"t":"e"},{"t":"s","v":"delay_ms"},{"t":"i","v":60000}]})",
                             "application/json");
  ASSERT_TRUE(started);
  EXPECT_EQ(started->status, 200);
  const auto start = Clock::now();
  ShutDown(a);
  EXPECT_EQ(run.WaitExit(15000), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

TEST_F(Program, TheBridgeRefusesRequestsWithoutTheSecretOrFromElsewhereAndRunsNothing) {
  ProgramRun run(Folder(), {});
  const Address a = Parse(run.ReadLine());
  ASSERT_FALSE(a.secret.empty());
  const std::string save = R"([{"t":"s","v":"save_settings"},{"t":"s","v":"probe"},{"t":"i","v":1}])";
  const std::string host = "127.0.0.1:" + std::to_string(a.port);
  const struct {
    const char* what;
    httplib::Headers headers;
  } refused[] = {
      {"no secret", {{"Origin", a.origin}}},
      {"a wrong secret", {{"X-Zentrovak-Secret", std::string(a.secret.size(), '0')}, {"Origin", a.origin}}},
      {"a foreign origin", {{"X-Zentrovak-Secret", a.secret}, {"Origin", "http://evil.example"}}},
      {"a foreign host name", {{"X-Zentrovak-Secret", a.secret}, {"Origin", a.origin}, {"Host", "evil.example:" + std::to_string(a.port)}}},
      {"localhost as host", {{"X-Zentrovak-Secret", a.secret}, {"Host", "localhost:" + std::to_string(a.port)}}},
      {"the secret in a foreign cookie name", {{"Cookie", "zentrovak_session_1=" + a.secret}, {"Origin", a.origin}}},
  };
  for (const auto& r : refused) {
    int status = 0;
    Callc(a, save, r.headers, &status);
    EXPECT_EQ(status, 403) << r.what;
    httplib::Client client("127.0.0.1", a.port);
    auto page = client.Get("/page", r.headers);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 403) << r.what;
  }
  Platform::RegistryKey key;
  uint32_t value = 0;
  const bool saved = Platform::RegistryKey::Open(Platform::kHkeyCurrentUser, kSettingsKey, Platform::RegAccess::Read,
                                                 Platform::RegView::Default, key) == 0 &&
                     key.ReadDword(u"probe", value) == 0;
  EXPECT_FALSE(saved) << "a refused call ran";

  // The first address sets the cookie that every later request carries.
  httplib::Client client("127.0.0.1", a.port);
  auto open = client.Get(("/open?key=" + a.secret).c_str());
  ASSERT_TRUE(open);
  EXPECT_EQ(open->status, 302);
  const std::string cookie = open->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  int status = 0;
  Callc(a, save, {{"Cookie", cookie.substr(0, cookie.find(';'))}, {"Origin", a.origin}}, &status);
  EXPECT_EQ(status, 403) << "the cookie alone does not reach the bridge";
  Callc(a, save,
        {{"Cookie", cookie.substr(0, cookie.find(';'))}, {"Origin", a.origin}, {"X-Zentrovak-Token", PageToken(a)}},
        &status);
  EXPECT_EQ(status, 200);
  ASSERT_EQ(Platform::RegistryKey::Open(Platform::kHkeyCurrentUser, kSettingsKey, Platform::RegAccess::Read,
                                        Platform::RegView::Default, key),
            0u);
  EXPECT_EQ(key.ReadDword(u"probe", value), 0u);
  EXPECT_EQ(value, 1u);
  ShutDown(a);
  EXPECT_EQ(run.WaitExit(), 0);
}

}  // namespace
}  // namespace Zentrovak::App
