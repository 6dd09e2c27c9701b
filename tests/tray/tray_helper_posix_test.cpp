// The tray helper on Linux, a real process on a private session bus where
// this test plays the desktop's status notifier: the item it registers
// shows the assistant's texts, its menu starts the assistant and quits.
// Without a notifier it starts the assistant only when asked to.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/text.h"
#include "support/test_support.h"
#include "ui/resources.h"

extern char** environ;

namespace Zentrovak::Testing {
namespace {

namespace fs = std::filesystem;

std::string HostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

pid_t Spawn(const std::vector<std::string>& args, int outputFd = -1) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);  // the daemon's complaints
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit code, or -1 when the process did not end in time.
int WaitExit(pid_t pid, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

// A session bus of the test's own (dbus-daemon), and the test on it as the
// desktop's StatusNotifierWatcher.
class StatusNotifierDesktop {
 public:
  StatusNotifierDesktop() {
    int out[2];
    if (::pipe(out) != 0) return;
    daemon_ = Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"}, out[1]);
    ::close(out[1]);
    std::string address;
    char c;
    while (daemon_ > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') address += c;
    ::close(out[0]);
    if (address.empty()) return;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    static const sd_bus_vtable kWatcher[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", OnRegister, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};
    ready_ = sd_bus_open_user(&bus_) >= 0 &&
             sd_bus_add_object_vtable(bus_, nullptr, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                                      kWatcher, this) >= 0 &&
             sd_bus_request_name(bus_, "org.kde.StatusNotifierWatcher", 0) >= 0;
  }
  ~StatusNotifierDesktop() {
    if (bus_) sd_bus_flush_close_unref(bus_);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    Stop(daemon_);
  }
  bool Ready() const { return ready_; }
  sd_bus* Bus() { return bus_; }

  // The bus name of the first item registered within the time.
  std::string WaitForItem(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (items_.empty() && std::chrono::steady_clock::now() < end) {
      if (sd_bus_process(bus_, nullptr) > 0) continue;
      sd_bus_wait(bus_, 100000);
    }
    return items_.empty() ? std::string() : items_.front();
  }

  std::string StringProperty(const std::string& item, const char* name) {
    char* value = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_get_property_string(bus_, item.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", name, &error,
                               &value);
    sd_bus_error_free(&error);
    std::string text = value ? value : "";
    std::free(value);
    return text;
  }

  std::string ToolTipText(const std::string& item) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::string text;
    const char *icon = nullptr, *title = nullptr, *body = nullptr;
    if (sd_bus_get_property(bus_, item.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "ToolTip", &error,
                            &reply, "(sa(iiay)ss)") >= 0 &&
        sd_bus_message_enter_container(reply, 'r', "sa(iiay)ss") >= 0 && sd_bus_message_read(reply, "s", &icon) >= 0 &&
        sd_bus_message_skip(reply, "a(iiay)") >= 0 && sd_bus_message_read(reply, "ss", &title, &body) >= 0)
      text = title;
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return text;
  }

  // The labels of the menu's top level, in order.
  std::vector<std::string> MenuLabels(const std::string& item) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::vector<std::string> labels;
    uint32_t revision = 0;
    int32_t id = 0;
    if (sd_bus_call_method(bus_, item.c_str(), "/MenuBar", "com.canonical.dbusmenu", "GetLayout", &error, &reply,
                           "iias", 0, -1, 0) >= 0 &&
        sd_bus_message_read(reply, "u", &revision) >= 0 && sd_bus_message_enter_container(reply, 'r', "ia{sv}av") >= 0 &&
        sd_bus_message_read(reply, "i", &id) >= 0 && sd_bus_message_skip(reply, "a{sv}") >= 0 &&
        sd_bus_message_enter_container(reply, 'a', "v") >= 0) {
      while (sd_bus_message_enter_container(reply, 'v', "(ia{sv}av)") > 0) {
        sd_bus_message_enter_container(reply, 'r', "ia{sv}av");
        sd_bus_message_read(reply, "i", &id);
        sd_bus_message_enter_container(reply, 'a', "{sv}");
        while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
          const char* key = nullptr;
          sd_bus_message_read(reply, "s", &key);
          const char* label = nullptr;
          if (std::string(key) == "label" && sd_bus_message_read(reply, "v", "s", &label) >= 0) labels.push_back(label);
          else sd_bus_message_skip(reply, "v");
          sd_bus_message_exit_container(reply);
        }
        sd_bus_message_exit_container(reply);
        sd_bus_message_skip(reply, "av");
        sd_bus_message_exit_container(reply);
        sd_bus_message_exit_container(reply);
      }
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return labels;
  }

  bool Call(const std::string& item, const char* path, const char* interface, const char* method,
            const char* signature, int32_t first) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = std::string(signature) == "ii"
                      ? sd_bus_call_method(bus_, item.c_str(), path, interface, method, &error, nullptr, "ii", first, 0)
                      : sd_bus_call_method(bus_, item.c_str(), path, interface, method, &error, nullptr, "isvu", first,
                                           "clicked", "s", "", 0u);
    sd_bus_error_free(&error);
    return r >= 0;
  }

 private:
  static int OnRegister(sd_bus_message* message, void* self, sd_bus_error*) {
    const char* service = nullptr;
    if (sd_bus_message_read(message, "s", &service) >= 0)
      static_cast<StatusNotifierDesktop*>(self)->items_.push_back(service);
    return sd_bus_reply_method_return(message, "");
  }

  pid_t daemon_ = -1;
  sd_bus* bus_ = nullptr;
  bool ready_ = false;
  std::vector<std::string> items_;
};

class TrayHelper : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(TestMachineDirectory()) / ("tray-" + std::to_string(counter_++));
    fs::create_directories(folder_);
    // The helper and, beside it, an assistant that records its start.
    fs::copy_file(fs::path(TEST_BINARY_DIR) / "RUDivIrav.exe", folder_ / "RUDivIrav.exe");
    fs::copy_file(fs::path(TEST_BINARY_DIR) / "fixtures" / "fake_installer", folder_ / "NetBankAssistant");
    ::setenv("ZT_INSTALL_LOG", (folder_ / "assistant.log").c_str(), 1);
  }
  void TearDown() override {
    Stop(helper_);
    ::unsetenv("ZT_INSTALL_LOG");
  }
  pid_t StartHelper(const std::string& extra = "") {
    std::vector<std::string> args = {(folder_ / "RUDivIrav.exe").string(), "NetBankAssistant", "103", "102", "128", "0"};
    if (!extra.empty()) args.push_back(extra);
    return Spawn(args);
  }
  // The assistant's start record, once there.
  std::string AssistantStarts(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
      const std::string text = HostFile(folder_ / "assistant.log");
      if (!text.empty()) return text;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return HostFile(folder_ / "assistant.log");
  }

  static inline int counter_ = 0;
  fs::path folder_;
  pid_t helper_ = -1;
};

TEST_F(TrayHelper, ItsStatusNotifierItemShowsTheAssistantsTextsAndItsMenuStartsItAndQuits) {
  StatusNotifierDesktop desktop;
  ASSERT_TRUE(desktop.Ready()) << "no private session bus (dbus-daemon)";
  helper_ = StartHelper();
  const std::string item = desktop.WaitForItem(10000);
  ASSERT_FALSE(item.empty()) << "the helper registered no item";

  const std::string start = Platform::Utf16ToUtf8(UI::LoadStringResource(103));
  EXPECT_EQ("启动澜屿银行网银助手", start);
  EXPECT_EQ(start, desktop.ToolTipText(item));
  EXPECT_EQ("澜屿银行网银助手", desktop.StringProperty(item, "Title"));
  EXPECT_EQ((std::vector<std::string>{start, "退出"}), desktop.MenuLabels(item));

  // A second helper leaves the item to the first and ends.
  pid_t second = StartHelper();
  EXPECT_EQ(0, WaitExit(second, 10000));
  Stop(second);

  EXPECT_TRUE(desktop.Call(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", "ii", 0));
  EXPECT_EQ("\n", AssistantStarts(10000)) << "the assistant, started without arguments";
  EXPECT_TRUE(desktop.Call(item, "/MenuBar", "com.canonical.dbusmenu", "Event", "isvu", 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ("\n\n", AssistantStarts(10000));
  EXPECT_TRUE(desktop.Call(item, "/MenuBar", "com.canonical.dbusmenu", "Event", "isvu", 2));
  EXPECT_EQ(0, WaitExit(helper_, 10000)) << "quit from the menu";
  helper_ = -1;
}

TEST_F(TrayHelper, WithoutANotifierItStartsTheAssistantOnlyWhenAsked) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (folder_ / "no-bus").string()).c_str(), 1);
  helper_ = StartHelper();
  EXPECT_EQ(0, WaitExit(helper_, 10000));
  helper_ = StartHelper("--start");
  EXPECT_EQ(0, WaitExit(helper_, 10000));
  helper_ = -1;
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_EQ("\n", AssistantStarts(5000));
}

}  // namespace
}  // namespace Zentrovak::Testing
