// The posix host's dialog: one CPageDialog whose page is opened in a
// browser app window, or whose address is printed with --no-browser.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/message_loop.h"
#include "platform/posix/machine.h"
#include "platform/process.h"
#include "platform/text.h"
#include "system/posix/desktop_browser.h"
#include "ui/posix/app_window.h"
#include "ui/posix/page_boxes.h"
#include "ui/posix/page_dialog.h"

namespace Zentrovak::UI {

namespace {

std::shared_ptr<Posix::CPageDialog>& KeptDialog() {
  static auto* dialog = new std::shared_ptr<Posix::CPageDialog>;
  return *dialog;
}

void Forget(IBSDialog* dialog) {
  auto& open = OpenDialogs();
  open.erase(std::remove(open.begin(), open.end(), dialog), open.end());
}

bool IsExecutable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string FindChromium() {
  if (const char* chosen = std::getenv("ZENTROVAK_CHROMIUM"); chosen && *chosen) return chosen;
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
    if (IsExecutable(path)) return path;
  return {};
}

// The browser window of the page, when the program opened one itself.
std::unique_ptr<Posix::AppWindow>& KeptWindow() {
  static auto* window = new std::unique_ptr<Posix::AppWindow>;
  return *window;
}

// Chromium's app mode when it is installed, else the desktop's browser.
bool OpenAppWindow(const std::string& address) {
  const std::string chromium = FindChromium();
  if (chromium.empty()) return System::Posix::OpenInDesktopBrowser(address);
  const std::string profile = Platform::Posix::MachineDirectory() + "/browser-profile";
  KeptWindow() = Posix::AppWindow::Open(chromium, {"--app=" + address, "--user-data-dir=" + profile, "--no-first-run",
                                                   "--no-default-browser-check", "--window-size=730,600"});
  return KeptWindow() != nullptr;
}

}  // namespace

IBSDialog* CreateBSDialog(const BSDialogParams& params) {
  if (params.size != kBSDialogParamsSize) return nullptr;
  auto dialog = std::make_shared<Posix::CPageDialog>(params, Posix::ResourcePageSource());
  if (!dialog->Start()) return nullptr;
  IBSDialog* handle = dialog.get();
  // The page gone for good is the last window destroyed.
  dialog->onPageGone = [handle] {
    Forget(handle);
    if (OpenDialogs().empty()) Platform::PostQuit(0);
  };
  const std::string address = dialog->StartAddress();
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool desktop = (display && *display) || (wayland && *wayland);
  if (Platform::CurrentPlatformOptions().noBrowser || !desktop || !OpenAppWindow(address)) {
    if (!Platform::CurrentPlatformOptions().noBrowser)
      std::fprintf(stderr, "No browser window could be opened; the page is at the address below.\n");
    std::printf("%s\n", address.c_str());
    std::fflush(stdout);
  }
  KeptDialog() = dialog;
  OpenDialogs().push_back(handle);
  return handle;
}

void DestroyBSDialog() {
  auto dialog = std::move(KeptDialog());
  if (!dialog) return;
  // The page's window closes with the program.
  dialog->AnnounceClose();
  dialog->Close();
  Forget(dialog.get());
  if (MainDialog() == dialog.get()) SetMainDialog(nullptr);
}

void MinimizeDialog(IBSDialog* dialog) {
  // A page cannot minimise the browser's window; the program can when it
  // opened the window itself, through the browser's own window control.
  auto* page = dynamic_cast<Posix::CPageDialog*>(dialog);
  if (page && KeptWindow()) KeptWindow()->Minimize(page->Origin());
}

void* LoadDialogIcon(uint32_t) { return nullptr; }
void PrepareUserInterface() {}

int ShowPageBox(const PageBox& box) {
  auto* dialog = dynamic_cast<Posix::CPageDialog*>(MainDialog());
  if (!dialog || dialog->IsClosed()) {
    const std::string line = Platform::Utf16ToUtf8(box.title + u": " + box.instruction +
                                                   (box.instruction.empty() ? u"" : u" ") + box.text);
    std::fprintf(stderr, "%s\n", line.c_str());
    if (!box.yesNo) return 1;
    // The headless report asks its question on standard input, as reg.exe
    // does ("y", "yes" or "是" say yes); without a report nobody can answer.
    const Platform::PlatformOptions& options = Platform::CurrentPlatformOptions();
    if (!options.check && !options.fix) return 7;
    std::fprintf(stderr, "(%s/%s) ", Platform::Utf16ToUtf8(box.yesText.empty() ? u"是" : box.yesText).c_str(),
                 Platform::Utf16ToUtf8(box.noText.empty() ? u"否" : box.noText).c_str());
    std::fflush(stderr);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin)) return 7;
    std::string reply(answer);
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r' || reply.back() == ' ')) reply.pop_back();
    const std::string lower = Platform::AsciiLower(reply);
    return lower == "y" || lower == "yes" || reply == "是" ? 6 : 7;
  }
  nlohmann::json op = {{"op", "box"},
                       {"kind", box.kind},
                       {"title", Platform::Utf16ToUtf8(box.title)},
                       {"instruction", Platform::Utf16ToUtf8(box.instruction)},
                       {"text", Platform::Utf16ToUtf8(box.text)},
                       {"yesNo", box.yesNo},
                       {"yesText", Platform::Utf16ToUtf8(box.yesText)},
                       {"noText", Platform::Utf16ToUtf8(box.noText)}};
  return dialog->ShowBox(op);
}

}  // namespace Zentrovak::UI
