// The posix registry store keeps every committed write through a crash,
// sets a damaged or foreign file aside instead of emptying it or writing
// into nothing, answers errors for writes it cannot make, and notices its
// file going away.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/machine.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace Zentrovak::Platform {
namespace {

constexpr char16_t kBurstKey[] = u"Software\\ZentrovakTests\\Burst";

// Writes numbered values as fast as it can and reports each one only after
// its write has returned.
int WriteBurst() {
  RegistryKey key;
  if (RegistryKey::Create(kHkeyCurrentUser, kBurstKey, RegAccess::ReadWrite, RegView::Default, key)) return 3;
  for (uint32_t i = 0;; ++i) {
    std::vector<uint8_t> payload(512, static_cast<uint8_t>(i));
    if (key.WriteBinary(u"v" + ToU16(static_cast<int32_t>(i)), payload)) return 4;
    std::printf("%u\n", i);
    std::fflush(stdout);
  }
}
const bool registered = Testing::RegisterRole("registry-burst", WriteBurst);

TEST(RegistryStorePosix, AKilledWriterLosesNoCommittedValue) {
  Testing::RoleChild child = Testing::StartRole("registry-burst");
  ASSERT_GT(child.pid, 0);
  FILE* reports = ::fdopen(::dup(child.output), "r");
  long last = -1;
  unsigned reported = 0;
  while (std::fscanf(reports, "%u", &reported) == 1) {
    last = reported;
    if (last >= 400) break;
  }
  Testing::KillRole(child);  // in the middle of the burst
  std::fclose(reports);
  ASSERT_GE(last, 400);

  RegistryKey key;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, kBurstKey, RegAccess::Read, RegView::Default, key));
  for (long i = 0; i <= last; ++i) {
    std::vector<uint8_t> value;
    ASSERT_EQ(kErrorSuccess, key.ReadBinary(u"v" + ToU16(static_cast<int32_t>(i)), value)) << i;
    ASSERT_EQ(std::vector<uint8_t>(512, static_cast<uint8_t>(i)), value) << i;
  }
  key.Close();
  RegistryKey::DeleteTree(kHkeyCurrentUser, kBurstKey, RegView::Default);
}

TEST(RegistryStorePosix, ADamagedStoreIsSetAsideNotEmptied) {
  const std::string original = Posix::MachineDirectory();
  const std::string machine = original + "/damaged-machine";
  std::filesystem::create_directories(machine);
  const std::string garbage(8192, '\x5a');
  std::ofstream(machine + "/registry.db", std::ios::binary) << garbage;
  Posix::SetMachineDirectory(machine);

  RegistryKey key;
  testing::internal::CaptureStderr();
  const auto error = RegistryKey::Create(kHkeyCurrentUser, u"Software\\After", RegAccess::ReadWrite,
                                         RegView::Default, key);
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_EQ(kErrorSuccess, error);
  EXPECT_EQ(kErrorSuccess, key.WriteDword(u"x", 1));
  EXPECT_NE(std::string::npos, report.find("damaged"));

  int asideCount = 0;
  for (const auto& entry : std::filesystem::directory_iterator(machine)) {
    if (entry.path().filename().string().rfind("registry.db.corrupt-", 0) != 0) continue;
    if (entry.path().string().find("-wal") != std::string::npos) continue;
    ++asideCount;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(garbage, kept);  // the old bytes are kept for inspection
  }
  EXPECT_EQ(1, asideCount);
  key.Close();
  Posix::SetMachineDirectory(original);
}


// A machine directory of its own for one test, the usual one back after.
class OtherMachine {
 public:
  explicit OtherMachine(const std::string& name) : original_(Posix::MachineDirectory()) {
    path_ = original_ + "/" + name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~OtherMachine() { Posix::SetMachineDirectory(original_); }
  void Enter() const { Posix::SetMachineDirectory(path_); }
  std::string Store() const { return path_ + "/registry.db"; }
  const std::string& Path() const { return path_; }
  void Leave() const { Posix::SetMachineDirectory(original_); }

 private:
  std::string original_;
  std::string path_;
};

// Another program's hold on the store file.
class OtherConnection {
 public:
  explicit OtherConnection(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
  ~OtherConnection() { sqlite3_close(db_); }
  bool Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

 private:
  sqlite3* db_ = nullptr;
};

bool WritesAndReadsBack(const char16_t* key) {
  RegistryKey k;
  if (RegistryKey::Create(kHkeyCurrentUser, key, RegAccess::ReadWrite, RegView::Default, k)) return false;
  if (k.WriteDword(u"x", 7)) return false;
  uint32_t value = 0;
  return k.ReadDword(u"x", value) == kErrorSuccess && value == 7;
}

TEST(RegistryStorePosix, AStoreAnotherProgramLocksAnswersReadsAndFailsWritesWithAnError) {
  OtherMachine machine("locked-machine");
  machine.Enter();
  ASSERT_TRUE(WritesAndReadsBack(u"Software\\Locked"));
  machine.Leave();  // the program starts again while the lock is held
  OtherConnection other(machine.Store());
  ASSERT_TRUE(other.Exec("BEGIN EXCLUSIVE"));
  machine.Enter();

  RegistryKey key;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, u"Software\\Locked", RegAccess::ReadWrite,
                                             RegView::Default, key));
  EXPECT_EQ(kErrorRegistryIoFailed, key.WriteDword(u"x", 8));
  EXPECT_EQ(kErrorRegistryIoFailed, RegistryKey::Create(kHkeyCurrentUser, u"Software\\Locked\\New",
                                                        RegAccess::ReadWrite, RegView::Default, key));
  ASSERT_TRUE(other.Exec("ROLLBACK"));
  ASSERT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, u"Software\\Locked", RegAccess::ReadWrite,
                                             RegView::Default, key));
  EXPECT_EQ(kErrorSuccess, key.WriteDword(u"x", 8));
}

TEST(RegistryStorePosix, WhatIsNotTheStoresOwnFileIsSetAsideAndANewStoreKeepsTheWrites) {
  struct Case {
    const char* name;
    void (*prepare)(const std::string& store);
  } const cases[] = {
      {"another program's database",
       [](const std::string& store) { OtherConnection(store).Exec("CREATE TABLE people(name TEXT, age INTEGER)"); }},
      {"tables of the same names with other columns",
       [](const std::string& store) {
         OtherConnection db(store);
         db.Exec("CREATE TABLE keys(a, b); CREATE TABLE vals(c)");
       }},
      {"a directory", [](const std::string& store) { std::filesystem::create_directory(store); }},
      {"a link to /dev/null", [](const std::string& store) { std::filesystem::create_symlink("/dev/null", store); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OtherMachine machine("foreign-machine");
    c.prepare(machine.Store());
    machine.Enter();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(WritesAndReadsBack(u"Software\\Kept"));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("damaged"));
    machine.Leave();

    // What stands in the store's place now is a store, holding the write,
    // and what stood there before is kept beside it.
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(machine.Store())));
    machine.Enter();
    RegistryKey key;
    uint32_t value = 0;
    ASSERT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, u"Software\\Kept", RegAccess::Read,
                                               RegView::Default, key));
    EXPECT_EQ(kErrorSuccess, key.ReadDword(u"x", value));
    EXPECT_EQ(7u, value);
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(machine.Path()))
      if (entry.path().filename().string().rfind("registry.db.corrupt-", 0) == 0) ++aside;
    EXPECT_GE(aside, 1);
  }
}

TEST(RegistryStorePosix, AStoreFileDeletedWhileRunningIsNoticedAndLaterWritesAreKept) {
  OtherMachine machine("deleted-machine");
  machine.Enter();
  ASSERT_TRUE(WritesAndReadsBack(u"Software\\Before"));
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(machine.Store() + suffix);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(WritesAndReadsBack(u"Software\\After"));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("removed"));

  // As after a restart: the store is read from its file again.
  machine.Leave();
  machine.Enter();
  RegistryKey key;
  EXPECT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, u"Software\\After", RegAccess::Read,
                                             RegView::Default, key));
}

}  // namespace
}  // namespace Zentrovak::Platform
