// A host for the browser tests of the bridge: the posix dialog with the
// program's dispatcher, serving the test pages of a folder, plus a few
// commands of its own on ids that later parts own in the program:
//   get_data (7)     echoes a1, or names its type when a2 is "type"
//   get_config (2)   sleeps a1 milliseconds and answers a1
//   check_dll (26)   after a4 milliseconds, calls the page function a1 with
//                    a2 and a3 from the calling thread; answers
//                    "<hr in hex>:<result>"
//   check_update (17) asks a yes/no question and answers the button
// Prints the start address and runs until the page is gone.
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "app/settings.h"
#include "app/single_instance.h"
#include "commands/command_registry.h"
#include "commands/dispatch.h"
#include "commands/task_message.h"
#include "platform/message_loop.h"
#include "platform/process.h"
#include "platform/text.h"
#include "ui/posix/page_dialog.h"
#include "test_host.h"

using namespace Zentrovak;
using UI::Variant;

namespace {

std::string folder;
std::mutex filesMutex;
std::map<std::string, std::string> files;

std::optional<UI::ResourceData> Load(const std::string& name, std::string_view mime) {
  if (name.find("..") != std::string::npos) return std::nullopt;
  std::lock_guard<std::mutex> hold(filesMutex);
  auto it = files.find(name);
  if (it == files.end()) {
    std::ifstream in(folder + "/" + name, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream all;
    all << in.rdbuf();
    it = files.emplace(name, all.str()).first;
  }
  return UI::ResourceData{reinterpret_cast<const unsigned char*>(it->second.data()), it->second.size(), mime};
}

std::string_view MimeOf(const std::string& name) {
  const auto dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : Platform::AsciiLower(name.substr(dot));
  if (ext == ".htm" || ext == ".html") return "text/html; charset=utf-8";
  if (ext == ".js") return "application/javascript; charset=utf-8";
  if (ext == ".css") return "text/css; charset=utf-8";
  if (ext == ".png") return "image/png";
  if (ext == ".gif") return "image/gif";
  if (ext == ".jpg") return "image/jpeg";
  return "application/octet-stream";
}

const char* TypeName(const Variant& v) {
  switch (v.type()) {
    case UI::VariantType::Empty: return "Empty";
    case UI::VariantType::Null: return "Null";
    case UI::VariantType::Int32: return "Int32";
    case UI::VariantType::Bool: return "Bool";
    case UI::VariantType::String: return "String";
    case UI::VariantType::Double: return "Double";
    case UI::VariantType::Dispatch: return "Dispatch";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  Platform::InitializeProcess(argc, argv);
  folder = argc > 1 ? argv[argc - 1] : ".";
  App::SetSettingsRegistryKey(u"ZentrovakPageTests");
  Commands::RegisterApplicationCommands();

  Commands::SetCommandHandler(7, [](Variant& result, UI::IBSDialog*, const Variant& a1, const Variant& a2,
                                    const Variant&, const Variant&) {
    result = a2.AsString() == u"type" ? Variant::String(Platform::Utf8ToUtf16(TypeName(a1))) : a1;
  });
  Commands::SetCommandHandler(2, [](Variant& result, UI::IBSDialog*, const Variant& a1, const Variant&,
                                    const Variant&, const Variant&) {
    if (a1.IsInt() && a1.AsInt() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(a1.AsInt()));
    result = a1;
  });
  Commands::SetCommandHandler(26, [](Variant& result, UI::IBSDialog* dialog, const Variant& a1, const Variant& a2,
                                     const Variant& a3, const Variant& a4) {
    if (a4.IsInt() && a4.AsInt() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(a4.AsInt()));
    const Variant args[] = {a3, a2};
    Variant answer;
    const Platform::HResult hr = dialog->CallPageFunction(a1.AsString(), args, 2, &answer);
    char code[16];
    std::snprintf(code, sizeof code, "%08x", static_cast<unsigned>(hr));
    std::u16string text = Platform::Utf8ToUtf16(code) + u":";
    if (answer.IsString()) text += answer.AsString();
    else if (answer.IsInt()) text += Platform::ToU16(answer.AsInt());
    result = Variant::String(text);
  });
  Commands::SetCommandHandler(17, [](Variant& result, UI::IBSDialog*, const Variant&, const Variant&,
                                     const Variant&, const Variant&) {
    result = Variant::Int(Commands::AskYesNo(nullptr, u"应用程序有更新发布\n是否立即应用", u"澜屿银行网银助手",
                                             u"发现更新", u"立即更新", u"稍后更新"));
  });

  UI::Posix::PageSource source;
  source.html = [](uint32_t id) { return Load(std::to_string(id) + ".htm", "text/html; charset=utf-8"); };
  source.file = [](std::string_view name) { return Load(std::string(name), MimeOf(std::string(name))); };
  return Testing::ServePagesUntilGone(Commands::DispatchCommand, source);
}
