// The headless report: the page's check pass and one-click repair, driven
// from here instead of the page script. Both follow res/check_pass.json (the
// built-in checks in pass order, their texts, the item states, the key
// types); the steps themselves are the page's: the same commands in the
// same order, the answers read the same way. The program's calls into the
// page land in a stand-in page that keeps the items as the page does.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/headless_report.h"
#include "check_pass_data.h"
#include "checkfix/check_or_fix.h"
#include "commands/dispatch.h"
#include "platform/text.h"
#include "ui/bs_dialog.h"

namespace Zentrovak::App {

namespace {

using json = nlohmann::ordered_json;
using UI::Variant;

constexpr char kNetworkMessage[] = "网络异常，请联网后启用助手！";

struct PassCheck {
  std::string type, name, passText, failText;
  bool inRepairPass = false;
  bool passed = false;
};

// An item as the page keeps it: the attributes the program announced, the
// page's status (2 until checked) and whether it is selected.
struct PageItem {
  std::map<std::string, std::string> attributes;
  Variant status = Variant::Int(2);
  bool selected = false;

  std::string Attr(const std::string& name) const {
    const auto it = attributes.find(name);
    return it == attributes.end() ? std::string() : it->second;
  }
  bool IsKey() const { return Attr("cls") == "key"; }
};

// The page the program calls while the pass runs: items and key notices
// are kept, texts and progress have no one to show them to.
class HeadlessPage : public UI::IBSDialog {
 public:
  Platform::WindowHandle GetHwnd() override { return nullptr; }
  Platform::HResult Resize(int32_t, int32_t) override { return Platform::kSOk; }

  Platform::HResult CallPageFunction(std::u16string_view name, const Variant* args, int count,
                                     Variant*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    // args come last argument first.
    if (name == u"setItemInfo" && count == 3 && args[2].IsInt() && args[1].IsString()) {
      const int32_t index = args[2].AsInt();
      if (index < 0) return Platform::kSOk;
      auto [it, added] = items_.try_emplace(index);
      if (added) it->second.selected = index < 2;
      it->second.attributes[Platform::Utf16ToUtf8(args[1].AsString())] = Platform::Utf16ToUtf8(args[0].AsString());
    } else if (name == u"onKeyPlugged" && count >= 1) {
      pluggedKey_ = Platform::Utf16ToUtf8(args[count - 1].AsString());
    } else if (name == u"onKeyUnplugged") {
      pluggedKey_.clear();
    }
    return Platform::kSOk;
  }

  // The items by page number, and the key the program reported plugged.
  std::map<int32_t, PageItem> TakeItems(std::string& pluggedKey) {
    std::lock_guard<std::mutex> lock(mutex_);
    pluggedKey = pluggedKey_;
    return std::move(items_);
  }

 private:
  std::mutex mutex_;
  std::map<int32_t, PageItem> items_;
  std::string pluggedKey_;
};

// What the page tests with "if (answer)".
bool Truthy(const Variant& v) {
  switch (v.type()) {
    case UI::VariantType::Bool: return v.AsBool();
    case UI::VariantType::Int32: return v.AsInt() != 0;
    case UI::VariantType::String: return !v.AsString().empty();
    case UI::VariantType::Double: return v.AsDouble() != 0 && v.AsDouble() == v.AsDouble();
    case UI::VariantType::Dispatch: return true;
    default: return false;
  }
}

bool IsZero(const Variant& v) { return v.IsInt() && v.AsInt() == 0; }

class Report {
 public:
  Report(ReportMode mode, bool asJson) : mode_(mode), json_(asJson) {
    const json pass = json::parse(Zentrovak::Report::kCheckPassJson);
    for (const json& c : pass.at("checks")) {
      PassCheck check;
      check.type = c.at("type").get<std::string>();
      check.name = c.at("name").get<std::string>();
      check.passText = c.at("passText").get<std::string>();
      check.failText = c.at("failText").get<std::string>();
      check.inRepairPass = c.at("inRepairPass").get<bool>();
      checks_.push_back(std::move(check));
    }
    for (const json& state : pass.at("itemStates")) itemStates_.push_back(state.at("text").get<std::string>());
    for (const json& k : pass.at("keyTypes")) keyEntries_[k.at("type").get<std::string>()] = k.at("entry").get<int32_t>();
  }

  int Run() {
    UI::SetMainDialog(&page_);
    const int code = RunPasses();
    UI::SetMainDialog(nullptr);
    return code;
  }

 private:
  Variant Command(const char16_t* name, const Variant& a1 = {}, const Variant& a2 = {}, const Variant& a3 = {}) {
    Variant result;
    Commands::DispatchCommand(result, &page_, Variant::String(name), a1, a2, a3, Variant());
    return result;
  }
  static Variant Text(const std::string& text) { return Variant::String(Platform::Utf8ToUtf16(text)); }

  static int CannotRun(const std::string& reason) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    return 2;
  }
  static std::string NetworkFault(const char* reason) { return std::string(kNetworkMessage) + "\n" + reason; }

  int RunPasses() {
    // What the page does when it loads.
    if (!Truthy(Command(u"get_config"))) return CannotRun(NetworkFault("The item configuration could not be fetched."));
    items_ = page_.TakeItems(key_);
    CheckKeyInsert();
    if (keyEntries_.count(key_)) {
      for (const auto& [type, entry] : keyEntries_)
        if (items_.count(entry)) items_[entry].selected = type == key_;
      keyInserted_ = true;
    }

    if (mode_ == ReportMode::Fix) {
      if (CheckPass() == 2) return 2;
      RepairPass();
    }
    const int code = CheckPass();
    if (code == 2) return code;
    Print();
    if (code == 1 && ConnectionLost()) return CannotRun(NetworkFault("The connection was lost during the pass."));
    return code;
  }

  void CheckKeyInsert() {
    for (auto& [index, item] : items_) {
      if (!item.IsKey()) continue;
      item.selected = Command(u"is_specific_key_insert", Text(item.Attr("keyid"))).AsBool();
      if (item.selected) keyInserted_ = true;
    }
  }

  bool ConnectionLost() {
    const Variant state = Command(u"get_internet_state");
    return state.IsInt() && state.AsInt() == 0;
  }

  // One full pass as the page runs it: 0 when every step passed, 1 when one
  // did not, 2 when the pass cannot start.
  int CheckPass() {
    if (ConnectionLost()) return CannotRun(NetworkFault("There is no connection to the network."));
    if (!Truthy(Command(u"is_config_loaded"))) return CannotRun("The configuration is not loaded.");
    const bool withKey = Command(u"load_settings", Text("other"), Variant::Int(0)).AsInt() == 1;
    Command(u"check_dll");
    steps_ = json::array();
    for (PassCheck& check : checks_) {
      const Variant type = Text(check.type);
      check.passed = Truthy(Command(u"do_check", type));
      if (check.type == "connection") Command(u"get_public_ip");
      AddStep({{"kind", "check"}, {"type", check.type}, {"name", check.name}, {"passed", check.passed},
               {"text", check.passed ? check.passText : check.failText}},
              Assistant::CheckIsAvailable(type));
    }
    for (auto& [index, item] : items_) {
      if (item.IsKey()) {
        if (!withKey) break;
        if (!item.selected) {
          if (keyInserted_) continue;
          const std::u16string saved = Command(u"load_settings", Text("KeyType"), Text(key_)).AsString();
          if (Platform::Utf16ToUtf8(saved) != item.Attr("type")) continue;
          item.selected = true;
        }
      }
      CheckItem(index, item);
    }
    for (const json& step : steps_)
      if (!step.contains("available") && !Passed(step)) return 1;
    return 0;
  }

  void CheckItem(int32_t index, PageItem& item) {
    item.status = Command(u"do_check", Variant::Int(index));
    json step = {{"kind", "item"}, {"index", index}, {"name", item.Attr("name")}, {"type", item.Attr("type")}};
    const bool known = item.status.IsInt() && item.status.AsInt() >= 0 &&
                       item.status.AsInt() < static_cast<int32_t>(itemStates_.size());
    step["status"] = item.status.IsInt() ? json(item.status.AsInt()) : json(nullptr);
    step["text"] = known ? itemStates_[item.status.AsInt()] : std::string();
    AddStep(std::move(step), Assistant::CheckIsAvailable(Variant::Int(index)));
  }

  // A step whose check the program lacks is marked, and does not count as
  // a fault of the machine.
  void AddStep(json step, bool available) {
    if (!available) step["available"] = false;
    steps_.push_back(std::move(step));
  }

  static bool Passed(const json& step) {
    return step["kind"] == "check" ? step["passed"].get<bool>() : step["status"] == 0;
  }

  // The page's one-click repair: failed checks, then the installs.
  void RepairPass() {
    Command(u"reset_ie_security_level");
    for (PassCheck& check : checks_) {
      if (check.passed || !check.inRepairPass) continue;
      const Variant type = Text(check.type);
      Command(u"do_fix", type);
      check.passed = Truthy(Command(u"do_check", type));
      Say("修复 " + check.name + "  " + (check.passed ? check.passText : check.failText));
    }
    for (auto& [index, item] : items_) {
      if (item.IsKey()) {
        if (!item.selected) continue;
        Command(u"start_manager_tool", Text(item.Attr("type")));
      }
      if (IsZero(item.status)) continue;
      Command(u"do_install", Variant::Int(index));
      item.status = Command(u"do_check", Variant::Int(index));
      Say("安装 " + item.Attr("name") + "  " + (IsZero(item.status) ? "安装成功" : "安装失败"));
    }
  }

  void Say(const std::string& line) {
    if (!json_) std::printf("%s\n", line.c_str());
  }

  void Print() {
    if (json_) {
      std::printf("[");
      for (size_t i = 0; i < steps_.size(); ++i)
        std::printf("%s\n%s", i ? "," : "", steps_[i].dump(-1, ' ', false, json::error_handler_t::replace).c_str());
      std::printf("\n]\n");
    } else {
      for (const json& step : steps_) {
        const char* mark = step.contains("available") ? "-" : Passed(step) ? "✓" : "✗";
        std::printf("%s  %s  %s%s\n", step["name"].get<std::string>().c_str(), step["text"].get<std::string>().c_str(),
                    mark, step.contains("available") ? "  (此项检测尚不可用)" : "");
      }
    }
    std::fflush(stdout);
  }

  ReportMode mode_;
  bool json_;
  HeadlessPage page_;
  std::vector<PassCheck> checks_;
  std::vector<std::string> itemStates_;
  std::map<std::string, int32_t> keyEntries_;
  std::map<int32_t, PageItem> items_;
  std::string key_;
  bool keyInserted_ = false;
  json steps_;
};

}  // namespace

int RunHeadlessReport(ReportMode mode, bool asJson) { return Report(mode, asJson).Run(); }

}  // namespace Zentrovak::App
