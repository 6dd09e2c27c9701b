// HTTPS with full certificate checks, the way the bank's server is reached
// by default: a server whose issuer is unknown is refused, and trusted once
// the issuer is in the machine's Root store (the Windows store, or the posix
// machine's registry in the same layout, beside the system's CA bundle).
#include <gtest/gtest.h>

#include "app/assistant_app.h"
#include "net/http.h"
#include "net_test_support.h"
#include "platform/cert_store.h"
#include "platform/files.h"
#include "support/fixture_paths.h"
#include "support/test_support.h"
#include "system/process_launch.h"

namespace Zentrovak::Network {
namespace {

using namespace Testing;

// The run's throw-away CA in the local machine's Root store while it lives
// (the machine's store: adding to the user's would ask the user first).
class TrustedRoot {
 public:
  explicit TrustedRoot(const std::string& der) : der_(der.begin(), der.end()) {
    EXPECT_EQ(0u, Platform::CertificateStore::Open(Platform::CertStoreLocation::LocalMachine, u"ROOT",
                                                   Platform::CertStoreAccess::ReadWrite, store_));
    EXPECT_EQ(0u, store_.Add(der_));
  }
  ~TrustedRoot() { store_.Remove(der_); }

 private:
  Platform::EncodedCertificate der_;
  Platform::CertificateStore store_;
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
