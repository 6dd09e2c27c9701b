// The assistant's own update end to end, with real processes: a copy of
// this test program stands for the installed assistant. It finds a newer
// program announced by the loopback server, confirms (or is told, when the
// update is mandatory), downloads it with progress to the page, puts it in
// its own place, starts it and quits; the new program takes the
// single-instance lock the old one gave up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/single_instance.h"
#include "checkfix/app_update.h"
#include "checkfix/engine_hooks.h"
#include "checkfix/install_item.h"
#include "checkfix/pending_operations.h"
#include "commands/engine_commands.h"
#include "install_support.h"
#include "support/loopback_server.h"
#include "support/recording_dialog.h"
#include "system/process_launch.h"

namespace Zentrovak::Assistant {
namespace {

using namespace Testing;
using Platform::Utf16ToUtf8;
using Platform::Utf8ToUtf16;

// What the test handed down (the posix machine's own environment does not
// show the host's).
std::u16string Variable(const char* name) {
  const char* value = std::getenv(name);
  return Utf8ToUtf16(value ? value : "");
}

void Report(const std::u16string& file, const std::string& text) { Platform::WriteWholeFile(file, text); }

// The installed assistant: the old one updates itself, the new one (told
// apart by its own digest) only shows that it took the lock.
int UpdatingAssistant() {
  const std::u16string report = Variable("ZT_UPDATE_REPORT");
  const bool isNew = FileDigest(Platform::ModuleFilePath(), DigestMd5) == Utf16ToUtf8(Variable("ZT_UPDATE_NEW_MD5"));
  if (App::acquire_single_instance(Variable("ZT_UPDATE_MUTEX")) != 0) {
    Report(report + (isNew ? u".new" : u".old"), "lock held by another instance\n");
    return 3;
  }
  if (isNew) {
    Report(report + u".new", "lock taken\n");
    return 0;
  }
  if (const Platform::HResult loaded = LoadItemConfiguration(Variable("ZT_UPDATE_CONFIG")); Platform::Failed(loaded)) {
    Report(report + u".old", "no configuration: " + std::to_string(static_cast<uint32_t>(loaded)) + "\n");
    return 4;
  }
  RecordingDialog page;
  std::string lines;
  Hooks().askYesNo = [&](Platform::WindowHandle, uint32_t text, uint32_t, uint32_t, uint32_t, uint32_t) {
    lines += "asked " + std::to_string(text) + "\n";
    return 6;  // yes
  };
  Hooks().showTaskMessage = [&](int32_t, uint32_t text, uint32_t, uint32_t, Platform::WindowHandle) {
    lines += "told " + std::to_string(text) + "\n";
    return 1;
  };
  Hooks().runApplicationUpdate = RunApplicationUpdate;
  App::ApplicationRunning() = true;
  CheckUpdate(1, &page);
  for (const PageCall& call : page.Calls()) {
    lines += Utf16ToUtf8(call.name);
    for (const UI::Variant& arg : call.args) lines += " " + (arg.IsInt() ? std::to_string(arg.AsInt()) : std::string("-"));
    lines += "\n";
  }
  lines += App::ApplicationRunning() ? "running\n" : "quitting\n";
  Report(report + u".old", lines);
  return 0;
}

const bool registered = RegisterRole("updating-assistant", UpdatingAssistant);

std::string WaitForFile(const std::u16string& path) {
  for (int i = 0; i < 400; ++i) {
    std::string text = ReadBytes(path);
    if (!text.empty()) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return {};
}

TEST(SelfUpdate, TheNewProgramTakesThePlaceOfTheRunningOneWhichStartsItAndQuits) {
  ASSERT_TRUE(registered);
  LoopbackServer server;
  ASSERT_TRUE(server.Started());
  PendingOperationsKeeper pending;  // Windows deletes the set-aside program at the next restart
  const std::string oldProgram = ReadBytes(Platform::ModuleFilePath());
  ASSERT_FALSE(oldProgram.empty());

  for (const char* imperative : {"TRUE", "0"}) {
    SCOPED_TRACE(imperative);
    const std::u16string folder = NewTempFolder();
    const std::u16string installed = folder + u"\\NetBankAssistant.exe";
    ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(installed, oldProgram));
    // A newer build: the same program with other trailing bytes.
    const std::string newProgram = oldProgram + "newer build " + Utf16ToUtf8(folder);
    const std::string newDigest = DigestOf(newProgram, DigestMd5);
    const std::string newPath = "/new/" + Utf16ToUtf8(Platform::FileNamePart(folder)) + "/NetBankAssistant.exe";
    server.Serve(newPath, newProgram);
    server.Serve("/download/itemV3.xml",
                 "<?xml version=\"1.0\" encoding=\"utf-8\"?><checkitems><appinfo imperative=\"" +
                     std::string(imperative) + "\"><detect dtype=\"file\" md5=\"" + newDigest +
                     "\" remote=\"" + Utf16ToUtf8(server.Url(newPath)) + "\">" +
                     Utf16ToUtf8(installed) + "</detect></appinfo></checkitems>");

    Platform::WriteEnvironmentVariable(u"ZENTROVAK_TEST_ROLE", u"updating-assistant");
    Platform::WriteEnvironmentVariable(u"ZT_UPDATE_CONFIG", server.Url("/download/itemV3.xml"));
    Platform::WriteEnvironmentVariable(u"ZT_UPDATE_REPORT", folder + u"\\report");
    Platform::WriteEnvironmentVariable(u"ZT_UPDATE_MUTEX", u"ZentrovakUpdateTest" + Platform::FileNamePart(folder));
    Platform::WriteEnvironmentVariable(u"ZT_UPDATE_NEW_MD5", Utf8ToUtf16(newDigest));
    const int32_t exitCode = System::launch_process(u"\"" + installed + u"\"", false, true, false);
    const std::string newReport = WaitForFile(folder + u"\\report.new");
    for (const char16_t* name : {u"ZENTROVAK_TEST_ROLE", u"ZT_UPDATE_CONFIG", u"ZT_UPDATE_REPORT", u"ZT_UPDATE_MUTEX",
                                 u"ZT_UPDATE_NEW_MD5"})
      Platform::WriteEnvironmentVariable(name, u"");

    EXPECT_EQ(0, exitCode);
    const std::vector<std::string> old = Lines(ReadBytes(folder + u"\\report.old"));
    ASSERT_GE(old.size(), 4u) << ReadBytes(folder + u"\\report.old");
    EXPECT_EQ(std::string(imperative) == "TRUE" ? "told 105" : "asked 104", old.front());
    EXPECT_EQ("onUpdateConfirmed", old[1]);
    // setProgress(success, percent, -1), the percentages rising.
    int32_t last = -1;
    for (size_t i = 2; i + 1 < old.size(); ++i) {
      int32_t percent = -1, item = 0;
      ASSERT_EQ(2, std::sscanf(old[i].c_str(), "setProgress - %d %d", &percent, &item)) << old[i];
      EXPECT_EQ(-1, item);
      EXPECT_GE(percent, last);
      last = percent;
    }
    EXPECT_EQ("quitting", old.back());
    EXPECT_EQ("lock taken\n", newReport);
    EXPECT_TRUE(ReadBytes(installed) == newProgram) << "the new program is in place";
    EXPECT_EQ(1, server.Requests(newPath));
#ifdef _WIN32
    // The running program could not be deleted: it was set aside.
    EXPECT_TRUE(ReadBytes(installed + u".old") == oldProgram);
#endif
  }
}

}  // namespace
}  // namespace Zentrovak::Assistant
