// RUDivIrav.exe on Linux, the assistant's tray helper ("<assistant file> 103
// 102 128 <flag>"): an item of the desktop's status notifier (the
// StatusNotifierItem protocol on the session bus) whose tooltip is the
// assistant's string 103 and whose menu (com.canonical.dbusmenu) starts the
// assistant (the file of that name in the helper's own folder) or quits;
// activating the item starts the assistant too. The strings are the
// assistant's string table, which this program carries as well. Without a
// status notifier there is nothing to show: the helper starts the assistant
// only when its command line ends in "--start", and ends. When
// RUDIVIRAV_LOG is set, each start appends its arguments to that file.
#include <signal.h>
#include <spawn.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "ui/resources.h"

extern char** environ;

namespace {

constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kMenuPath[] = "/MenuBar";
constexpr int32_t kStartItem = 1;
constexpr int32_t kQuitItem = 2;

struct Helper {
  std::string assistant;  // host path
  std::string tooltip;    // string 103
  std::string title;      // string 102
  std::string quitText = "退出";
  bool quit = false;
};

void RecordStart(int argc, char** argv) {
  const char* log = std::getenv("RUDIVIRAV_LOG");
  if (!log || !*log) return;
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  line += '\n';
  if (std::FILE* file = std::fopen(log, "a")) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }
}

std::string OwnFolder() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  const std::string self(path, static_cast<size_t>(n));
  return self.substr(0, self.rfind('/') + 1);
}

// Only a file name counts: the assistant is always the one beside us.
std::string FileNameOnly(const std::string& name) {
  const size_t separator = name.find_last_of("\\/:");
  return separator == std::string::npos ? name : name.substr(separator + 1);
}

std::string Text(uint32_t id) { return Zentrovak::Platform::Utf16ToUtf8(Zentrovak::UI::LoadStringResource(id)); }

void StartAssistant(const Helper& helper) {
  std::string program = helper.assistant;
  char* argv[] = {program.data(), nullptr};
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The assistant lives on after the helper quits.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
}

// The item.

int ItemProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void* data,
                 sd_bus_error*) {
  const auto* helper = static_cast<const Helper*>(data);
  const std::string name = property;
  if (name == "Category") return sd_bus_message_append(reply, "s", "ApplicationStatus");
  if (name == "Id") return sd_bus_message_append(reply, "s", "RUDivIrav");
  if (name == "Title") return sd_bus_message_append(reply, "s", helper->title.c_str());
  if (name == "Status") return sd_bus_message_append(reply, "s", "Active");
  if (name == "WindowId") return sd_bus_message_append(reply, "i", 0);
  if (name == "IconName") return sd_bus_message_append(reply, "s", "applications-internet");
  if (name == "ItemIsMenu") return sd_bus_message_append(reply, "b", 0);
  if (name == "Menu") return sd_bus_message_append(reply, "o", kMenuPath);
  if (name == "ToolTip") {
    // (icon name, icon pixmaps, title, text)
    return sd_bus_message_append(reply, "(sa(iiay)ss)", "", 0, helper->tooltip.c_str(), "");
  }
  return -ENOENT;
}

int OnActivate(sd_bus_message* message, void* data, sd_bus_error*) {
  StartAssistant(*static_cast<Helper*>(data));
  return sd_bus_reply_method_return(message, "");
}

int OnNothing(sd_bus_message* message, void*, sd_bus_error*) { return sd_bus_reply_method_return(message, ""); }

const sd_bus_vtable kItemTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("WindowId", "i", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ItemIsMenu", "b", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Menu", "o", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("Activate", "ii", "", OnActivate, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", OnActivate, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ContextMenu", "ii", "", OnNothing, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Scroll", "is", "", OnNothing, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

// The menu: the root (0) with "start the assistant" (1) and "quit" (2).

int AppendMenuItem(sd_bus_message* reply, int32_t id, const std::string& label, bool withChildren,
                   const Helper& helper) {
  int r = sd_bus_message_open_container(reply, 'r', "ia{sv}av");
  if (r >= 0) r = sd_bus_message_append(reply, "i", id);
  if (r >= 0) {
    if (id == 0) r = sd_bus_message_append(reply, "a{sv}", 1, "children-display", "s", "submenu");
    else r = sd_bus_message_append(reply, "a{sv}", 2, "label", "s", label.c_str(), "enabled", "b", 1);
  }
  if (r >= 0) r = sd_bus_message_open_container(reply, 'a', "v");
  if (r >= 0 && withChildren) {
    const std::pair<int32_t, const std::string*> children[] = {{kStartItem, &helper.tooltip},
                                                               {kQuitItem, &helper.quitText}};
    for (const auto& [child, text] : children) {
      if (r >= 0) r = sd_bus_message_open_container(reply, 'v', "(ia{sv}av)");
      if (r >= 0) r = AppendMenuItem(reply, child, *text, false, helper);
      if (r >= 0) r = sd_bus_message_close_container(reply);
    }
  }
  if (r >= 0) r = sd_bus_message_close_container(reply);
  if (r >= 0) r = sd_bus_message_close_container(reply);
  return r;
}

int OnGetLayout(sd_bus_message* message, void* data, sd_bus_error*) {
  const auto* helper = static_cast<const Helper*>(data);
  int32_t parent = 0, depth = 0;
  int r = sd_bus_message_read(message, "ii", &parent, &depth);
  if (r >= 0) r = sd_bus_message_skip(message, "as");
  if (r < 0) return r;
  sd_bus_message* reply = nullptr;
  r = sd_bus_message_new_method_return(message, &reply);
  if (r >= 0) r = sd_bus_message_append(reply, "u", 1u);
  if (r >= 0) {
    const std::string& label = parent == kStartItem ? helper->tooltip : helper->quitText;
    r = AppendMenuItem(reply, parent == kStartItem || parent == kQuitItem ? parent : 0, label, parent == 0 && depth != 0,
                       *helper);
  }
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r;
}

int OnEvent(sd_bus_message* message, void* data, sd_bus_error*) {
  auto* helper = static_cast<Helper*>(data);
  int32_t id = 0;
  const char* event = nullptr;
  int r = sd_bus_message_read(message, "is", &id, &event);
  if (r < 0) return r;
  if (std::strcmp(event, "clicked") == 0) {
    if (id == kStartItem) StartAssistant(*helper);
    if (id == kQuitItem) helper->quit = true;
  }
  return sd_bus_reply_method_return(message, "");
}

int OnAboutToShow(sd_bus_message* message, void*, sd_bus_error*) { return sd_bus_reply_method_return(message, "b", 0); }

int MenuProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void*,
                 sd_bus_error*) {
  const std::string name = property;
  if (name == "Version") return sd_bus_message_append(reply, "u", 3u);
  if (name == "TextDirection") return sd_bus_message_append(reply, "s", "ltr");
  if (name == "Status") return sd_bus_message_append(reply, "s", "normal");
  if (name == "IconThemePath") return sd_bus_message_append(reply, "as", 0);
  return -ENOENT;
}

const sd_bus_vtable kMenuTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "u", MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("TextDirection", "s", MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "as", MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", OnGetLayout, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Event", "isvu", "", OnEvent, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShow", "i", "b", OnAboutToShow, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
    SD_BUS_VTABLE_END};

// Shows the item until the user quits; false when there is no status
// notifier to show it.
bool RunStatusNotifierItem(Helper& helper) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return false;
  // One helper per session: while another one shows its item, this one ends.
  if (sd_bus_request_name(bus, "com.zentrovak.RUDivIrav", 0) < 0) {
    sd_bus_flush_close_unref(bus);
    return true;
  }
  const std::string service = "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-1";
  bool shown = sd_bus_add_object_vtable(bus, nullptr, kItemPath, "org.kde.StatusNotifierItem", kItemTable, &helper) >= 0 &&
               sd_bus_add_object_vtable(bus, nullptr, kMenuPath, "com.canonical.dbusmenu", kMenuTable, &helper) >= 0 &&
               sd_bus_request_name(bus, service.c_str(), 0) >= 0 &&
               sd_bus_call_method(bus, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                  "org.kde.StatusNotifierWatcher", "RegisterStatusNotifierItem", nullptr, nullptr, "s",
                                  service.c_str()) >= 0;
  while (shown && !helper.quit) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) break;
    if (r == 0 && sd_bus_wait(bus, UINT64_MAX) < 0) break;
  }
  sd_bus_flush_close_unref(bus);
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  RecordStart(argc, argv);
  if (argc < 5) return 2;
  // Started assistants are not waited for.
  ::signal(SIGCHLD, SIG_IGN);
  Helper helper;
  helper.assistant = OwnFolder() + FileNameOnly(argv[1]);
  helper.tooltip = Text(static_cast<uint32_t>(std::atoi(argv[2])));
  helper.title = Text(static_cast<uint32_t>(std::atoi(argv[3])));
  if (RunStatusNotifierItem(helper)) return 0;
  if (argc > 6 && std::strcmp(argv[argc - 1], "--start") == 0) StartAssistant(helper);
  return 0;
}
