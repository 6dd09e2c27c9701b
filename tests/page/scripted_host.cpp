// A host for the page tests that need answers the program cannot give on
// this machine (a key in, its certificate, an install's progress), or no
// answers at all. It is the posix dialog serving the program's own page
// set, with the program's settings, boxes and log; every other command is
// answered from a script (JSON):
//   "answers":  {"get_internet_state": 2, ...}  fixed answers by command name
//   "checks":   {"registry": true, ...}         do_check/do_fix of a check
//   "items":    [{"name": .., "cls": .., "status": 3, ...}, ...]
//               announced by get_config ("status" stays with the host: it
//               is what do_check of the item's number answers)
//   "plugged":  "FT_1"   announced after the items, as the program does
//   "keysIn":   ["096e0305", ...]   is_specific_key_insert answers true for these
//   "install":  {"status": 0, "steps": 10, "stepMs": 100}
//               do_install reports its download with setProgress, then the
//               item answers the new status
//   "silent":   true     every command, settings included, answers nothing
//   "undefined": ["do_check", ...]   these commands answer nothing
// Every command the page sends is appended to LOG as one JSON line
// ["name", a1, a2, a3, a4]. Prints the start address and runs until the
// page is gone.
//   scripted_host SCRIPT LOG
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/settings.h"
#include "app/single_instance.h"
#include "commands/command_ids.h"
#include "commands/command_registry.h"
#include "commands/dispatch.h"
#include "platform/message_loop.h"
#include "platform/process.h"
#include "platform/text.h"
#include "ui/posix/page_dialog.h"
#include "test_host.h"

using namespace Zentrovak;
using nlohmann::json;
using UI::Variant;

namespace {

// Read-only once the host runs.
json answers;
json install;
std::string plugged;
bool silent = false;
std::set<std::string> unanswered;
std::set<std::string> keysIn;
std::string logPath;
// Changed by installs and repairs; guarded by mutex.
std::mutex mutex;
json items;
json checks;
bool configLoaded = false;

json ToJson(const Variant& v) {
  switch (v.type()) {
    case UI::VariantType::String: return Platform::Utf16ToUtf8(v.AsString());
    case UI::VariantType::Int32: return v.AsInt();
    case UI::VariantType::Bool: return v.AsBool();
    case UI::VariantType::Double: return v.AsDouble();
    case UI::VariantType::Null: return "<null>";
    case UI::VariantType::Dispatch: return "<function>";
    default: return nullptr;
  }
}

Variant FromJson(const json& j) {
  if (j.is_boolean()) return Variant::Bool(j.get<bool>());
  if (j.is_number_integer()) return Variant::Int(j.get<int32_t>());
  if (j.is_string()) return Variant::String(Platform::Utf8ToUtf16(j.get<std::string>()));
  return {};
}

void Log(const std::string& name, const Variant& a1, const Variant& a2, const Variant& a3, const Variant& a4) {
  const json line = {name, ToJson(a1), ToJson(a2), ToJson(a3), ToJson(a4)};
  std::lock_guard<std::mutex> hold(mutex);
  std::ofstream(logPath, std::ios::app) << line.dump() << "\n";
}

Variant Announce() {
  json announced;
  {
    std::lock_guard<std::mutex> hold(mutex);
    announced = items;
  }
  for (size_t i = 0; i < announced.size(); ++i) {
    for (const auto& [name, value] : announced[i].items()) {  // ascending names, as the program announces
      if (name == "status") continue;
      UI::CallPage(u"setItemInfo", {Variant::Int(static_cast<int32_t>(i)), Variant::String(Platform::Utf8ToUtf16(name)),
                                    Variant::String(Platform::Utf8ToUtf16(value.get<std::string>()))});
    }
  }
  {
    std::lock_guard<std::mutex> hold(mutex);
    configLoaded = true;
  }
  if (!plugged.empty()) UI::CallPage(u"onKeyPlugged", {Variant::String(Platform::Utf8ToUtf16(plugged))});
  return answers.contains("get_config") ? FromJson(answers["get_config"]) : Variant::Bool(true);
}

Variant Install(const Variant& number) {
  const int steps = install.value("steps", 10);
  for (int step = 0; step <= steps; ++step) {
    UI::CallPage(u"setProgress", {Variant::Bool(true), Variant::Int(step * 100 / steps), number});
    std::this_thread::sleep_for(std::chrono::milliseconds(install.value("stepMs", 100)));
  }
  std::lock_guard<std::mutex> hold(mutex);
  if (number.IsInt() && number.AsInt() >= 0 && number.AsInt() < static_cast<int>(items.size()))
    items[number.AsInt()]["status"] = install.value("status", 0);
  return {};
}

Variant CheckOrFix(const std::string& name, const Variant& a1) {
  std::lock_guard<std::mutex> hold(mutex);
  if (a1.IsString()) {
    const std::string type = Platform::Utf16ToUtf8(a1.AsString());
    if (name == "do_fix") checks[type] = true;
    return Variant::Bool(checks.value(type, false));
  }
  if (a1.IsInt() && a1.AsInt() >= 0 && a1.AsInt() < static_cast<int>(items.size()))
    return Variant::Int(items[a1.AsInt()].value("status", 3));
  return {};
}

Variant& Handle(Variant& result, UI::IBSDialog* dialog, const Variant& nameVariant, const Variant& a1,
                const Variant& a2, const Variant& a3, const Variant& a4) {
  const std::string name = Platform::Utf16ToUtf8(nameVariant.AsString());
  Log(name, a1, a2, a3, a4);
  result = Variant();
  if (silent || unanswered.count(name)) return result;
  static const std::set<std::string> kProgramCommands = {"save_settings", "load_settings", "messagebox", "log"};
  if (kProgramCommands.count(name)) return Commands::DispatchCommand(result, dialog, nameVariant, a1, a2, a3, a4);
  if (name == "get_config") {
    result = Announce();
  } else if (name == "is_config_loaded" && !answers.contains(name)) {
    std::lock_guard<std::mutex> hold(mutex);
    result = Variant::Bool(configLoaded);
  } else if (name == "is_specific_key_insert" && !answers.contains(name)) {
    result = Variant::Bool(keysIn.count(Platform::Utf16ToUtf8(a1.AsString())) > 0);
  } else if (name == "do_install") {
    result = Install(a1);
  } else if (name == "do_check" || name == "do_fix") {
    result = CheckOrFix(name, a1);
  } else if (answers.contains(name)) {
    result = FromJson(answers[name]);
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Platform::InitializeProcess(argc, argv);
  if (argc < 3) return 2;
  std::ifstream in(argv[argc - 2]);
  std::stringstream text;
  text << in.rdbuf();
  const json script = json::parse(text.str());
  answers = script.value("answers", json::object());
  install = script.value("install", json::object());
  plugged = script.value("plugged", std::string());
  silent = script.value("silent", false);
  for (const auto& name : script.value("undefined", json::array())) unanswered.insert(name.get<std::string>());
  for (const auto& id : script.value("keysIn", json::array())) keysIn.insert(id.get<std::string>());
  items = script.value("items", json::array());
  checks = script.value("checks", json::object());
  logPath = argv[argc - 1];
  App::SetSettingsRegistryKey(u"ZentrovakPageTests");
  Commands::RegisterApplicationCommands();

  return Testing::ServePagesUntilGone(Handle, UI::Posix::ResourcePageSource());
}
