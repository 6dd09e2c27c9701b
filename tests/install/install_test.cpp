// Component installs end to end: packages served by a loopback server,
// verified, run (the fake installer records how it was started and makes
// the component's file) and detected; the uninstallers; the progress
// reports; and what hostile input must not achieve.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <future>
#include <thread>

#include "checkfix/engine_hooks.h"
#include "checkfix/file_check.h"
#include "checkfix/install_item.h"
#include "install_support.h"
#include "platform/registry.h"
#include "support/loopback_server.h"
#include "support/recording_dialog.h"
#include "system/version.h"

namespace Zentrovak::Assistant {
namespace {

using namespace Testing;
using Platform::Utf16ToUtf8;
using Platform::Utf8ToUtf16;

class Install : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Started());
    folder_ = NewTempFolder();
    tag_ = Utf16ToUtf8(Platform::FileNamePart(folder_));
    // Trailing bytes keep the program runnable and make the download long
    // enough for several progress notices.
    package_ = ReadBytes(FakeInstallerPath());
    ASSERT_FALSE(package_.empty()) << "the fake installer was not built";
    package_.append(300 * 1024, '\0');
    auto model = std::make_shared<ItemConfiguration>();
    model->rootAttributes["base"] = Utf16ToUtf8(server_.Url("/pkg/"));
    InstallConfiguration(model);
    SetVariable(u"ZT_INSTALL_LOG", NativePath(folder_ + u"\\log.txt"));
    SetVariable(u"ZT_INSTALL_MARK", NativePath(Mark()));
  }
  void TearDown() override {
    for (const char16_t* name : {u"ZT_INSTALL_LOG", u"ZT_INSTALL_MARK", u"ZT_INSTALL_PID", u"ZT_INSTALL_HANG"})
      Platform::WriteEnvironmentVariable(name, u"");
    for (const std::u16string& file : packages_) Platform::RemoveFile(file);
    InstallConfiguration(nullptr);
  }

  // A package name of this test only, served with the package's bytes.
  std::string Package(const std::string& stem, const std::string& bytes) {
    const std::string name = stem + "-" + tag_ + ".exe";
    // Blanks travel escaped.
    std::string escaped;
    for (char c : name) escaped += c == ' ' ? std::string("%20") : std::string(1, c);
    server_.Serve("/pkg/" + escaped, bytes);
    packages_.push_back(DownloadPathFor(server_.Url("/pkg/" + name)));
    return name;
  }
  std::string Package(const std::string& stem) { return Package(stem, package_); }
  std::u16string Downloaded(const std::string& name) { return DownloadPathFor(server_.Url("/pkg/" + name)); }

  static ConfigEntry Entry(const std::string& text, AttributeMap attributes = {}) {
    ConfigEntry entry;
    entry.text = text;
    entry.attributes = std::move(attributes);
    return entry;
  }
  // The component the fake installer makes, as a detect entry.
  std::u16string Mark() const { return folder_ + u"\\component.dll"; }
  ConfigEntry MarkDetect() const { return Entry(Utf16ToUtf8(Mark()), {{"dtype", "file"}}); }

  std::vector<std::string> Runs() const { return Lines(ReadBytes(folder_ + u"\\log.txt")); }

  LoopbackServer server_;
  RecordingDialog page_;
  std::u16string folder_;
  std::string tag_;
  std::string package_;
  std::vector<std::u16string> packages_;
};

TEST_F(Install, APackageIsDownloadedVerifiedRunAndDetectedThenReusedWhileItStillMatches) {
  const std::string name = Package("setup");
  ConfigItem item;
  item.installer = {Entry(name, {{"md5", DigestOf(package_, DigestMd5)}, {"parameter", "/S \"/D=a b\""}})};
  item.detect = {MarkDetect()};
  CurrentProgressItem() = 4;

  EXPECT_EQ(Passed, InstallItem(item, ItemDownloadProgress, 0));
  EXPECT_EQ(std::vector<std::string>{"/S|/D=a b"}, Runs());
  EXPECT_TRUE(Platform::FileExists(Mark()));
  EXPECT_EQ(1, server_.Requests("/pkg/" + name));
  const auto progress = page_.CallsOf(u"setProgress");
  ASSERT_FALSE(progress.empty());
  for (const PageCall& call : progress) {
    EXPECT_EQ(UI::Variant::Bool(true), call.args[0]);
    EXPECT_EQ(UI::Variant::Int(4), call.args[2]);
  }

  // Still in the download folder and still matching: run without a download.
  EXPECT_EQ(Passed, InstallItem(item, ItemDownloadProgress, 0));
  EXPECT_EQ(2u, Runs().size());
  EXPECT_EQ(1, server_.Requests("/pkg/" + name));
}

TEST_F(Install, APackageWithoutDigestsIsDownloadedAfreshEveryTime) {
  // Last year's package is still kept, but nothing tells it from this
  // year's: it is never run.
  const std::string name = Package("undigested");
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(Downloaded(name), "last year's package"));
  ConfigEntry entry = Entry(name);
  EXPECT_EQ(Passed, ItemInstall().FixEntry(entry));
  EXPECT_EQ(Passed, ItemInstall().FixEntry(entry));
  EXPECT_EQ((std::vector<std::string>{"", ""}), Runs());
  EXPECT_EQ(2, server_.Requests("/pkg/" + name));
  EXPECT_EQ(package_, ReadBytes(Downloaded(name)));

  // Without a server there is no package to run.
  ConfigEntry unserved = Entry("unserved-" + tag_ + ".exe");
  packages_.push_back(Downloaded(unserved.text));
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(Downloaded(unserved.text), package_));
  EXPECT_EQ(Failed, ItemInstall().FixEntry(unserved));
  EXPECT_EQ(2u, Runs().size());
}

TEST_F(Install, PackagesOfTheSameNameFromTwoAddressesAreKeptApart) {
  const std::string name = "setup-" + tag_ + ".exe";
  const std::string first = package_ + "first";
  const std::string second = package_ + "second";
  server_.Serve("/pkg/a/" + name, first);
  server_.Serve("/pkg/b/" + name, second);
  const std::u16string pathA = DownloadPathFor(server_.Url("/pkg/a/" + name));
  const std::u16string pathB = DownloadPathFor(server_.Url("/pkg/b/" + name));
  packages_.insert(packages_.end(), {pathA, pathB});
  EXPECT_NE(pathA, pathB);
  EXPECT_EQ(Platform::Utf8ToUtf16(name), Platform::FileNamePart(pathA)) << "the name stays readable";

  ConfigEntry a = Entry("a/" + name, {{"sha256", DigestOf(first, DigestSha256)}, {"parameter", "a"}});
  ConfigEntry b = Entry("b/" + name, {{"sha256", DigestOf(second, DigestSha256)}, {"parameter", "b"}});
  for (ConfigEntry* entry : {&a, &b, &a, &b}) EXPECT_EQ(Passed, ItemInstall().FixEntry(*entry));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "a", "b"}), Runs());
  // Each kept package still matched when its item was installed again.
  EXPECT_EQ(1, server_.Requests("/pkg/a/" + name));
  EXPECT_EQ(1, server_.Requests("/pkg/b/" + name));
  EXPECT_EQ(first, ReadBytes(pathA));
  EXPECT_EQ(second, ReadBytes(pathB));
}

// A package that does not match a digest is deleted, never run, and the
// install goes on with the next installer and the detect step.
#ifndef _WIN32
// Between its verification and its start another user could swap a
// package whose folder they may write: such a package is never run.
TEST_F(Install, APackageInAFolderOthersMayWriteIsNeverRun) {
  const std::string name = Package("shared-folder");
  const std::string folder = NativePath(Platform::ParentPath(Downloaded(name)));
  ASSERT_EQ(0, ::chmod(folder.c_str(), 0777));
  ConfigEntry entry = Entry(name, {{"md5", DigestOf(package_, DigestMd5)}});
  EXPECT_EQ(Failed, ItemInstall().FixEntry(entry));
  EXPECT_TRUE(Runs().empty());
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(Passed, ItemInstall().FixEntry(entry));
  EXPECT_EQ(1u, Runs().size());
}
#endif

TEST_F(Install, APackageThatDoesNotMatchIsDeletedAndTheInstallGoesOn) {
  const std::string other = std::string(package_.size(), 'x');
  const std::pair<const char*, int32_t> digests[] = {{"md5", DigestMd5}, {"sha1", DigestSha1}, {"sha256", DigestSha256}};
  for (const auto& [attribute, kind] : digests) {
    SCOPED_TRACE(attribute);
    Platform::RemoveFile(folder_ + u"\\log.txt");
    Platform::RemoveFile(Mark());
    const std::string bad = Package(std::string("bad-") + attribute);
    const std::string good = Package(std::string("good-") + attribute);
    ConfigItem item;
    item.installer = {Entry(bad, {{attribute, DigestOf(other, kind)}, {"parameter", "first"}}),
                      Entry(good, {{attribute, DigestOf(package_, kind)}, {"parameter", "second"}})};
    item.detect = {MarkDetect()};
    EXPECT_EQ(Passed, InstallItem(item, ItemDownloadProgress, 0));
    EXPECT_EQ(std::vector<std::string>{"second"}, Runs());
    EXPECT_FALSE(Platform::FileExists(Downloaded(bad)));
    ConfigEntry again = item.installer[0];
    EXPECT_EQ(Failed, ItemInstall().FixEntry(again));
    EXPECT_EQ(2, server_.Requests("/pkg/" + bad));
    EXPECT_FALSE(Platform::FileExists(Downloaded(bad)));
  }
}

TEST_F(Install, ADigestThatCannotBeOneRefusesTheInstallBeforeAnyDownload) {
  const std::string name = Package("malformed");
  // A package already there is not run either.
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(Downloaded(name), package_));
  const AttributeMap malformed[] = {
      {{"md5", DigestOf(package_, DigestMd5).substr(1)}},
      {{"sha1", "g" + DigestOf(package_, DigestSha1).substr(1)}},
      {{"sha256", DigestOf(package_, DigestSha1)}},
  };
  for (const AttributeMap& digests : malformed) {
    ConfigEntry entry = Entry(name, digests);
    EXPECT_EQ(Failed, ItemInstall().FixEntry(entry)) << digests.begin()->first;
  }
  EXPECT_EQ(0, server_.Requests("/pkg/" + name));
  EXPECT_TRUE(Runs().empty());
}

TEST(InstallerCommand, TheQuotedPackagePathTakesThePlaceOfTheFirstPercentOne) {
  const std::u16string path = u"C:\\D\\x y.exe";
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"msiexec /i %1", u"msiexec /i \"C:\\D\\x y.exe\""},
      {u"run \"%1\" /q", u"run \"C:\\D\\x y.exe\" /q"},
      {u"run /q", u"run /q"},
      {u"a %1 %1", u"a \"C:\\D\\x y.exe\" %1"},
      // With both forms the quoted one is replaced, as the installer expects.
      {u"a %1 \"%1\"", u"a %1 \"C:\\D\\x y.exe\""},
  };
  for (const auto& [command, line] : cases) EXPECT_EQ(InstallerCommandLine(command, path), line);
}

TEST_F(Install, ACommandRunsWithThePackagePathAsOneArgument) {
  const std::string name = Package("with blanks");
  ConfigEntry entry =
      Entry(name, {{"command", "\"" + Utf16ToUtf8(FakeInstallerPath()) + "\" /i %1 /quiet"}, {"parameter", "unused"}});
  EXPECT_EQ(Passed, ItemInstall().FixEntry(entry));
  const std::vector<std::string> runs = Runs();
  // The fake installer run by the command, then nothing else.
  ASSERT_EQ(1u, runs.size());
  const std::vector<std::string> args = [&] {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t bar; (bar = runs[0].find('|', start)) != std::string::npos; start = bar + 1)
      parts.push_back(runs[0].substr(start, bar - start));
    parts.push_back(runs[0].substr(start));
    return parts;
  }();
  ASSERT_EQ(3u, args.size()) << runs[0];
  EXPECT_EQ("/i", args[0]);
  EXPECT_EQ(ReadBytes(Downloaded(name)), package_) << "the downloaded package";
  EXPECT_NE(std::string::npos, args[1].find("with blanks-" + tag_ + ".exe")) << args[1];
  EXPECT_EQ("/quiet", args[2]);
}

TEST_F(Install, SixtyFourBitInstallersAndTheDetectRepairOnlyOn64BitWindows) {
  const std::string lib = "detect-lib";
  server_.Serve("/pkg/" + lib, "library");
  const auto run = [&] {
    Platform::RemoveFile(folder_ + u"\\log.txt");
    Platform::RemoveFile(folder_ + u"\\lib.dll");
    ConfigItem item;
    item.installer = {Entry(Package("for32"), {{"parameter", "all"}}),
                      Entry(Package("for64"), {{"parameter", "64-bit"}, {"bit", "64"}})};
    item.detect = {Entry(Utf16ToUtf8(folder_ + u"\\lib.dll"), {{"dtype", "file"}, {"remote", lib}})};
    EXPECT_EQ(Passed, InstallItemForThisSystem(item));
  };
#ifndef _WIN32
  // The posix machine is 64-bit Windows when its registry says so.
  Platform::RegistryKey environment;
  ASSERT_EQ(0u, Platform::RegistryKey::Create(Platform::kHkeyLocalMachine,
                                              u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                                              Platform::RegAccess::ReadWrite, Platform::RegView::Default, environment));
  for (const char16_t* architecture : {u"x86", u"AMD64"}) {
    environment.WriteString(u"PROCESSOR_ARCHITECTURE", architecture);
#else
  {
#endif
    SCOPED_TRACE(System::is_64bit_windows() ? "64-bit" : "32-bit");
    run();
    if (System::is_64bit_windows()) {
      EXPECT_EQ((std::vector<std::string>{"all", "64-bit"}), Runs());
      EXPECT_EQ("library", ReadBytes(folder_ + u"\\lib.dll"));
    } else {
      EXPECT_EQ(std::vector<std::string>{"all"}, Runs());
      EXPECT_FALSE(Platform::FileExists(folder_ + u"\\lib.dll"));
    }
  }
#ifndef _WIN32
  environment.DeleteValue(u"PROCESSOR_ARCHITECTURE");
#endif
}

TEST_F(Install, AFailingFileDetectDownloadsItsRemoteOnlyWhenItIsWhatTheEntryAsksFor) {
  server_.Serve("/pkg/lib.dll", "the library");
  const std::u16string target = folder_ + u"\\lib.dll";
  ConfigItem item;
  item.detect = {Entry("anything", {{"dtype", "no-such-type"}}),
                 Entry(Utf16ToUtf8(target), {{"dtype", "file"}, {"remote", "lib.dll"},
                                             {"md5", DigestOf("the library", DigestMd5)}})};
  EXPECT_EQ(Passed, InstallItem(item, nullptr, 0));
  EXPECT_EQ("the library", ReadBytes(target));

  // A server that sends something else leaves the old file in place.
  server_.Serve("/pkg/lib.dll", "something else");
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(target, "old"));
  EXPECT_EQ(Failed, InstallItem(item, nullptr, 0));
  EXPECT_EQ("old", ReadBytes(target));
  EXPECT_FALSE(Platform::FileExists(target + u".download"));
}

TEST_F(Install, ServersThatLieAboutLengthsGetNothingRun) {
  const std::string longer = "lies-longer-" + tag_ + ".exe";
  const std::string shorter = "lies-shorter-" + tag_ + ".exe";
  packages_ = {Downloaded(longer), Downloaded(shorter)};
  server_.ServeWithLength("/pkg/" + longer, package_, package_.size() + 4096);
  server_.ServeWithLength("/pkg/" + shorter, package_, package_.size() / 2);
  ConfigEntry cutShort = Entry(longer);
  EXPECT_EQ(Failed, ItemInstall().FixEntry(cutShort));
  ConfigEntry truncated = Entry(shorter, {{"sha256", DigestOf(package_, DigestSha256)}});
  EXPECT_EQ(Failed, ItemInstall().FixEntry(truncated));
  EXPECT_FALSE(Platform::FileExists(Downloaded(longer)));
  EXPECT_FALSE(Platform::FileExists(Downloaded(shorter)));
  EXPECT_TRUE(Runs().empty());
}

TEST_F(Install, AnInstallerThatNeverEndsIsWaitedForWhileOtherWorkGoesOn) {
  const std::string name = Package("hangs");
  const std::u16string pidFile = folder_ + u"\\pid.txt";
  SetVariable(u"ZT_INSTALL_PID", NativePath(pidFile));
  SetVariable(u"ZT_INSTALL_HANG", "1");
  ConfigItem item;
  item.installer = {Entry(name)};
  item.detect = {MarkDetect()};
  auto install = std::async(std::launch::async, [&] { return InstallItem(item, nullptr, 0); });
  std::string pid;
  for (int i = 0; i < 200 && pid.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pid = ReadBytes(pidFile);
  }
  ASSERT_FALSE(pid.empty()) << "the installer did not start";
  EXPECT_EQ(std::future_status::timeout, install.wait_for(std::chrono::milliseconds(300)));
  ConfigItem other;
  other.detect = {MarkDetect()};
  EXPECT_EQ(Passed, DetectItem(other, true)) << "other items are still checked meanwhile";
  KillProcess(std::stol(pid));
  ASSERT_EQ(std::future_status::ready, install.wait_for(std::chrono::seconds(20)));
  EXPECT_EQ(Passed, install.get()) << "the installer made the component before it hung";
}

TEST_F(Install, HostileNamesStayInsideTheDownloadFolder) {
  const std::pair<const char16_t*, const char16_t*> names[] = {
      {u"http://h/a/setup.exe", u"setup.exe"},
      {u"setup.exe", u"setup.exe"},
      {u"http://h/a\\..\\..\\evil.exe", u"evil.exe"},
      {u"http://h/C:evil.exe", u"C_evil.exe"},
      {u"http://h/get?id=5&x=<1>|*", u"get_id=5&x=_1___"},
      {u"http://h/setup.exe. . ", u"setup.exe"},
      {u"http://h/%2e%2e", u"%2e%2e"},
      {u"http://h/a/..", u""},
      {u"http://h/a/.", u""},
      {u"http://h/", u""},
      {u"", u""},
      {u"http://h/NUL", u""},
      {u"http://h/com1.exe", u""},
      {u"http://h/con.txt", u""},
      {u"http://h/console.exe", u"console.exe"},
  };
  for (const auto& [address, name] : names) EXPECT_EQ(SafeDownloadName(address), name) << Utf16ToUtf8(address);

  const std::u16string climbingAddress = server_.Url("/pkg/x/..\\..\\evil-") + Utf8ToUtf16(tag_) + u".exe";
  const std::u16string kept = DownloadPathFor(climbingAddress);
  const std::u16string outside = Platform::ParentPath(DownloadFolder()) + u"\\evil-" + Utf8ToUtf16(tag_) + u".exe";
  server_.Serve("/pkg/x/evil-" + tag_ + ".exe", package_);
  packages_.push_back(kept);
  EXPECT_EQ(DownloadFolder(), Platform::ParentPath(Platform::ParentPath(kept)));
  ConfigEntry climbing = Entry(Utf16ToUtf8(climbingAddress));
  ItemInstall().FixEntry(climbing);
  EXPECT_FALSE(Platform::FileExists(outside));

  ConfigEntry noName = Entry(Utf16ToUtf8(server_.Url("/pkg/..")));
  EXPECT_EQ(Failed, ItemInstall().FixEntry(noName));
  EXPECT_EQ(0, server_.Requests("/pkg/.."));
}

TEST(InstallProgress, ReportsTheCurrentItemInStepsOfMoreThanOnePercent) {
  RecordingDialog page;
  CurrentProgressItem() = 7;
  for (int32_t percent : {0, 1, 2, 3, 97, 99, 100, 0, 98, 100}) {
    Network::DownloadProgress progress;
    progress.percent = percent;
    progress.inProgress = true;
    EXPECT_TRUE(ItemDownloadProgress(&progress));
  }
  EXPECT_TRUE(ItemDownloadProgress(nullptr));
  std::vector<int32_t> reported;
  for (const PageCall& c : page.CallsOf(u"setProgress")) {
    EXPECT_EQ(UI::Variant::Int(7), c.args[2]);
    reported.push_back(c.args[1].AsInt());
  }
  EXPECT_EQ((std::vector<int32_t>{0, 2, 97, 99, 0, 98, 100}), reported);
}

class Uninstall : public Install {
 protected:
  void TearDown() override {
    for (const Platform::RegRoot root : {Platform::kHkeyLocalMachine, Platform::kHkeyCurrentUser})
      Platform::RegistryKey::DeleteTree(root, Key(), ProgramView());
    Platform::WriteEnvironmentVariable(u"ZT_FAKE_INSTALLER", u"");
    Install::TearDown();
  }
  std::string Id() const { return "ZentrovakProbe" + tag_; }
  std::u16string Key() const {
    return u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Utf8ToUtf16(Id());
  }
  // The registry view the program reads (the 32-bit one, also for a
  // 64-bit build of the tests).
  static Platform::RegView ProgramView() { return RedirectionGuard(ConfigEntry()).View(); }
  void Register(Platform::RegRoot root, const std::string& arguments) {
    Platform::RegistryKey key;
    ASSERT_EQ(0u, Platform::RegistryKey::Create(root, Key(), Platform::RegAccess::ReadWrite, ProgramView(), key));
    key.WriteString(u"UninstallString", u"\"" + FakeInstallerPath() + u"\" " + Utf8ToUtf16(arguments));
  }
};

TEST_F(Uninstall, RunsTheCommandFoundForItsType) {
  ItemUninstall uninstall;
  ConfigEntry missing = Entry(Id(), {{"type", "regid"}});
  EXPECT_EQ(Failed, uninstall.FixEntry(missing));

  Register(Platform::kHkeyCurrentUser, "/from-user");
  ConfigEntry byId = Entry(Id(), {{"type", "regid"}});
  EXPECT_EQ(Passed, uninstall.FixEntry(byId));
  Register(Platform::kHkeyLocalMachine, "/from-machine");
  EXPECT_EQ(Passed, uninstall.FixEntry(byId));

  SetVariable(u"ZT_FAKE_INSTALLER", Utf16ToUtf8(FakeInstallerPath()));
  ConfigEntry command = Entry("\"%ZT_FAKE_INSTALLER%\" /x", {{"type", "cmd"}});
  EXPECT_EQ(Passed, uninstall.FixEntry(command));
  ConfigEntry tooLong = Entry("\"%ZT_FAKE_INSTALLER%\" " + std::string(300, 'x'), {{"type", "cmd"}});
  EXPECT_EQ(Failed, uninstall.FixEntry(tooLong));
  ConfigEntry otherType = Entry("\"%ZT_FAKE_INSTALLER%\" /y", {{"type", "msi"}});
  EXPECT_EQ(Failed, uninstall.FixEntry(otherType));
  // The program the UninstallString names has gone: nothing was uninstalled.
  ConfigEntry stale = Entry("\"C:\\no such folder\\uninstall.exe\" /z", {{"type", "cmd"}});
  EXPECT_EQ(Failed, uninstall.FixEntry(stale));

  EXPECT_EQ((std::vector<std::string>{"/from-user", "/from-machine", "/x"}), Runs());
}

}  // namespace
}  // namespace Zentrovak::Assistant
