// HTTPS with full certificate checks, the way the bank's server is reached
// by default: a server whose issuer is unknown is refused, and trusted once
// the issuer is in the machine's Root store (the Windows store, or the posix
// machine's registry in the same layout, beside the system's CA bundle).
#include <gtest/gtest.h>

#include <cctype>

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#endif

#include "app/assistant_app.h"
#include "checkfix/file_check.h"
#include "install/install_support.h"
#include "net/http.h"
#include "net_test_support.h"
#include "platform/files.h"
#include "support/fixture_paths.h"
#include "support/test_support.h"
#include "system/process_launch.h"

namespace Zentrovak::Network {
namespace {

using namespace Testing;

// The run's throw-away CA in the machine's Root store while it lives.
class TrustedRoot {
 public:
  explicit TrustedRoot(const std::string& der) : der_(der) {
#ifdef _WIN32
    store_ = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    EXPECT_NE(nullptr, store_);
    EXPECT_TRUE(::CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING,
                                                   reinterpret_cast<const BYTE*>(der_.data()),
                                                   static_cast<DWORD>(der_.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                   &added_));
    // Written to the registry now, for the processes started after.
    ::CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
#else
    std::string thumbprint = Zentrovak::Testing::DigestOf(der_, Assistant::DigestSha1);
    for (char& c : thumbprint) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    key_ = u"Software\\Microsoft\\SystemCertificates\\ROOT\\Certificates\\" + Platform::Utf8ToUtf16(thumbprint);
    std::vector<uint8_t> blob;
    for (uint32_t field : {32u, 1u, static_cast<uint32_t>(der_.size())})
      for (int i = 0; i < 4; ++i) blob.push_back(static_cast<uint8_t>(field >> (8 * i)));
    blob.insert(blob.end(), der_.begin(), der_.end());
    Platform::RegistryKey key;
    EXPECT_EQ(0u, Platform::RegistryKey::Create(Platform::kHkeyCurrentUser, key_, Platform::RegAccess::ReadWrite,
                                                Platform::RegView::Default, key));
    EXPECT_EQ(0u, key.WriteBinary(u"Blob", blob));
#endif
  }
  ~TrustedRoot() {
#ifdef _WIN32
    if (added_) ::CertDeleteCertificateFromStore(added_);
    if (store_) {
      // Wine writes a deletion back only when asked to.
      ::CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
      ::CertCloseStore(store_, 0);
    }
#else
    Platform::RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, key_, Platform::RegView::Default);
#endif
  }

 private:
#ifndef _WIN32
  std::u16string key_;
#else
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT added_ = nullptr;
#endif
  std::string der_;
};

std::string TestCaCertificate() {
  const char* path = std::getenv("ZT_TEST_CA_DER");
  std::string der;
  if (path) Platform::ReadWholeFile(Zentrovak::Testing::HostToWindowsPath(path), der);
  return der;
}

std::u16string IssuedOrigin() { return Origin(ServerPort("ZT_HTTPS_CA_PORT"), u"localhost", u"https"); }

// A download from the CA's server in a process of its own: Windows' chain
// engine reads the Root store as it starts, so the root the test added
// counts in a process started after it. 0 when the bytes came and the
// self-signed server was still refused.
int DownloadFromIssuedServer() {
  App::SetRuntimeOption(1001, 0);
  const std::u16string file = Zentrovak::Testing::NewTempFolder() + u"\\package.bin";
  AssistantHttp agent;
  if (agent.Download(IssuedOrigin() + u"/bytes/70000", file, nullptr, nullptr) != Platform::kSOk) return 1;
  std::string bytes;
  Platform::ReadWholeFile(file, bytes);
  if (bytes.size() != 70000u || !FollowsPattern(bytes)) return 2;
  // Trusting one issuer is not trusting everyone.
  std::string body;
  const std::u16string selfSigned = Origin(ServerPort("ZT_HTTPS_PORT"), u"127.0.0.1", u"https");
  return Platform::Failed(agent.Get(selfSigned + u"/self-signed", {}, body)) ? 0 : 3;
}
const bool registered = Zentrovak::Testing::RegisterRole("issued-download", DownloadFromIssuedServer);

TEST(TrustedRoots, AServerIsTrustedOnlyOnceItsIssuerIsInTheMachinesRootStore) {
  ASSERT_TRUE(registered);
  App::SetRuntimeOption(1001, 0);
  const std::string der = TestCaCertificate();
  ASSERT_FALSE(der.empty()) << "ZT_TEST_CA_DER names no certificate";
  const std::u16string file = Zentrovak::Testing::NewTempFolder() + u"\\package.bin";
  {
    AssistantHttp agent;
    std::string body = "none";
    EXPECT_TRUE(Platform::Failed(agent.Get(IssuedOrigin() + u"/unknown-issuer", {}, body)));
    EXPECT_EQ("none", body);
    EXPECT_TRUE(Platform::Failed(agent.Download(IssuedOrigin() + u"/bytes/1000", file, nullptr, nullptr)));
    EXPECT_FALSE(Platform::FileExists(file));
  }
  TrustedRoot root(der);
  Platform::WriteEnvironmentVariable(u"ZENTROVAK_TEST_ROLE", u"issued-download");
  EXPECT_EQ(0, System::launch_process(u"\"" + Platform::ModuleFilePath() + u"\"", true, true, false));
  Platform::WriteEnvironmentVariable(u"ZENTROVAK_TEST_ROLE", u"");
}

}  // namespace
}  // namespace Zentrovak::Network
