// The typical request through the Windows host: the page's asyncallc of
// "do_check" with "registry" reaches the dispatcher and the engine on the
// shared worker, a failing value is repaired at once, and the answer comes
// back to the page's callback on the window's thread.
#include <windows.h>

#include <gtest/gtest.h>

#include "checkfix/item_configuration.h"
#include "commands/dispatch.h"
#include "commands/engine_commands.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_support.h"
#include "ui/bs_dialog_host.h"
#include "ui/script_jobs.h"
#include "ui/win32/bs_dialog_win32.h"
#include "window/external_calls.h"

namespace Zentrovak::UI {
namespace {

TEST(EngineThroughTheDialog, DoCheckOfRegistryRepairsAndAnswersTheCallback) {
  const std::u16string key = Testing::TestRegistryPath() + u"\\EngineE2E";
  const std::string document = "<checkitems><config type=\"registry\"><entry type=\"reg_dword\" name=\"Level\" "
                               "value=\"7\">HKCU\\" + Platform::Utf16ToUtf8(key) + "</entry></config></checkitems>";
  const std::u16string file = Testing::NewTempFolder() + u"\\itemV3.xml";
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(file, document));
  ASSERT_EQ(Platform::kSOk, Assistant::LoadItemConfiguration(file));
  Assistant::RegisterEngineCommands();

  BSDialogParams params;
  params.size = kBSDialogParamsSize;
  params.autoSize = 1;
  params.commandHandler = Commands::DispatchCommand;
  IBSDialog* dialog = CreateBSDialog(params);
  if (!dialog) GTEST_SKIP() << "no window could be made (no display)";
  auto* host = dynamic_cast<Win32::CBSDialog*>(dialog);
  host->SetDocumentUrlForTesting([] { return u"res://" + Platform::ModuleFilePath() + u"/129"; });

  VARIANT answer;
  ::VariantInit(&answer);
  DWORD answerThread = 0;
  FakeScript callback;
  callback.Add(L"call", [&](WORD, DISPPARAMS* p, VARIANT*) {
    ::VariantCopy(&answer, &p->rgvarg[0]);
    answerThread = ::GetCurrentThreadId();
    return S_OK;
  });
  VARIANT out;
  ::VariantInit(&out);
  ASSERT_EQ(S_OK, CallExternal(host->ExternalDispatch(), L"asyncallc",
                               {Dispatch(&callback), Text(L"do_check", 8), Text(L"registry", 8)}, &out));
  ASSERT_TRUE(PumpUntil([&] { return answer.vt != VT_EMPTY; }));
  EXPECT_EQ(VT_BOOL, answer.vt);
  EXPECT_EQ(VARIANT_TRUE, answer.boolVal);
  EXPECT_EQ(::GetCurrentThreadId(), answerThread);

  Platform::RegistryKey repaired;
  ASSERT_EQ(0u, Platform::RegistryKey::Open(Platform::kHkeyCurrentUser, key, Platform::RegAccess::Read,
                                            Platform::RegView::Default, repaired));
  uint32_t level = 0;
  EXPECT_EQ(0u, repaired.ReadDword(u"Level", level));
  EXPECT_EQ(7u, level);

  ASSERT_TRUE(PumpUntil([] { return RunningJobs() == 0; }));
  PumpPending();  // the job's release of `callback`
  ::DestroyWindow(static_cast<HWND>(dialog->GetHwnd()));
  PumpUntil([] { return false; }, 200);
  Assistant::InstallConfiguration(nullptr);
}

}  // namespace
}  // namespace Zentrovak::UI
