// The check tab's certificate, home-page and compatibility-view rows
// through the Windows dialog's external object: do_check, do_fix and
// do_check again on the shared worker, against CryptoAPI's stores and the
// registry. Wine adds to the root store without asking, so the carried root
// goes in unasked here.
#include <windows.h>

#include <gtest/gtest.h>

#include "checkfix/certificates.h"
#include "checkfix/item_configuration.h"
#include "commands/dispatch.h"
#include "commands/engine_commands.h"
#include "platform/cert_store.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_certificates.h"
#include "support/test_support.h"
#include "ui/bs_dialog_host.h"
#include "ui/script_jobs.h"
#include "ui/win32/bs_dialog_win32.h"
#include "window/external_calls.h"

namespace Zentrovak::UI {
namespace {

using Platform::CertificateStore;
using Platform::CertStoreAccess;
using Platform::CertStoreLocation;
using Platform::RegistryKey;

constexpr char16_t kPolicy[] = u"Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
constexpr char16_t kListKey[] = u"Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData";

std::vector<uint8_t> CarriedRoot() {
  for (const Assistant::BankCertificate& c : Assistant::CarriedCertificates())
    if (c.name == u"CFCA Root CA" && c.der) return std::vector<uint8_t>(c.der, c.der + c.derSize);
  return {};
}

// Puts back what the test changed: its certificates, the carried root, the
// lock and the list.
void CleanUp() {
  for (const char16_t* name : {u"ROOT", u"CA"}) {
    CertificateStore store;
    if (CertificateStore::Open(CertStoreLocation::CurrentUser, name, CertStoreAccess::ReadWrite, store)) continue;
    std::vector<Platform::EncodedCertificate> ours;
    store.FindBySubject(Platform::Utf8ToUtf16(Testing::kTestCertificateUnit), ours);
    for (const auto& der : ours) store.Remove(der);
    if (!CarriedRoot().empty()) store.Remove(CarriedRoot());
  }
  RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, kPolicy, Platform::RegView::Default);
  RegistryKey list;
  if (RegistryKey::Open(Platform::kHkeyCurrentUser, kListKey, Platform::RegAccess::ReadWrite,
                        Platform::RegView::Default, list) == 0)
    list.DeleteValue(u"UserFilter");
}

// Runs one command through asyncallc and serves the window's messages until
// its callback has the answer and the job has let go of the callback.
VARIANT AsyncCommand(IDispatch* external, const wchar_t* command, const wchar_t* name) {
  VARIANT answer;
  ::VariantInit(&answer);
  FakeScript callback;
  callback.Add(L"call", [&](WORD, DISPPARAMS* p, VARIANT*) { return ::VariantCopy(&answer, &p->rgvarg[0]); });
  VARIANT out;
  ::VariantInit(&out);
  EXPECT_EQ(S_OK, CallExternal(external, L"asyncallc",
                               {Dispatch(&callback), Text(command, static_cast<UINT>(wcslen(command))),
                                Text(name, static_cast<UINT>(wcslen(name)))},
                               &out));
  EXPECT_TRUE(PumpUntil([&] { return answer.vt != VT_EMPTY; }, 20000)) << command;
  PumpUntil([] { return RunningJobs() == 0; });
  PumpPending();
  return answer;
}

bool AnswerIs(const VARIANT& answer, bool expected) {
  return answer.vt == VT_BOOL && (answer.boolVal == VARIANT_TRUE) == expected;
}

TEST(CertItemsThroughTheDialog, CheckFixCheckOfCfcaHomePageAndCompatibility) {
  CleanUp();
  const std::string document =
      "<checkitems><config type=\"cfca\"></config>"
      "<config type=\"compatibility\"><entry>bank.example.cn</entry></config></checkitems>";
  const std::u16string file = Testing::NewTempFolder() + u"\\itemV3.xml";
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(file, document));
  ASSERT_EQ(Platform::kSOk, Assistant::LoadItemConfiguration(file));
  Assistant::RegisterEngineCommands();

  // Everything "cfca" checks but the CFCA Root CA, as test certificates.
  for (const Assistant::BankCertificate& c : Assistant::CarriedCertificates()) {
    if (c.name == u"CFCA Root CA") continue;
    const std::string name = Platform::Utf16ToUtf8(c.name);
    CertificateStore store;
    ASSERT_EQ(0u, CertificateStore::Open(CertStoreLocation::CurrentUser, c.store, CertStoreAccess::ReadWrite, store));
    ASSERT_EQ(0u, store.Add(c.match == Assistant::NameMatch::CommonName ? Testing::CommonNameCertificate(name)
                                                                         : Testing::OrganizationCertificate(name)));
  }
  RegistryKey policy;
  ASSERT_EQ(0u, RegistryKey::Create(Platform::kHkeyCurrentUser, kPolicy, Platform::RegAccess::ReadWrite,
                                    Platform::RegView::Default, policy));
  ASSERT_EQ(0u, policy.WriteDword(u"HomePage", 1));

  BSDialogParams params;
  params.size = kBSDialogParamsSize;
  params.autoSize = 1;
  params.commandHandler = Commands::DispatchCommand;
  IBSDialog* dialog = CreateBSDialog(params);
  if (!dialog) {
    CleanUp();
    GTEST_SKIP() << "no window could be made (no display)";
  }
  auto* host = dynamic_cast<Win32::CBSDialog*>(dialog);
  host->SetDocumentUrlForTesting([] { return u"res://" + Platform::ModuleFilePath() + u"/129"; });
  IDispatch* external = host->ExternalDispatch();

  const bool rootCarried = !CarriedRoot().empty();
  const struct {
    const wchar_t* name;
    bool check, fix, checkAgain;
  } rows[] = {
      {L"cfca", false, rootCarried, rootCarried},
      {L"home_page", false, true, true},
      {L"compatibility", true, true, true},  // repaired as soon as it is checked
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(AnswerIs(AsyncCommand(external, L"do_check", row.name), row.check)) << row.name;
    EXPECT_TRUE(AnswerIs(AsyncCommand(external, L"do_fix", row.name), row.fix)) << row.name;
    EXPECT_TRUE(AnswerIs(AsyncCommand(external, L"do_check", row.name), row.checkAgain)) << row.name;
  }
  if (rootCarried) EXPECT_EQ(Platform::kSOk, Assistant::FindCertificate(u"CFCA Root CA", u"ROOT",
                                                                        Assistant::NameMatch::Organization));
  uint32_t lock = 1;
  EXPECT_EQ(0u, policy.ReadDword(u"HomePage", lock));
  EXPECT_EQ(0u, lock);

  ::DestroyWindow(static_cast<HWND>(dialog->GetHwnd()));
  PumpUntil([] { return false; }, 200);
  Assistant::InstallConfiguration(nullptr);
  policy.Close();
  CleanUp();
}

}  // namespace
}  // namespace Zentrovak::UI
