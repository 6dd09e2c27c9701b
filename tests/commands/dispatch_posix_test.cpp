// A setting the machine's store cannot take is not passed off as saved.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "app/settings.h"
#include "commands/command_registry.h"
#include "commands/dispatch.h"
#include "platform/posix/machine.h"
#include "support/debug_lines.h"
#include "support/test_support.h"

namespace Zentrovak::Commands {
namespace {

using UI::Variant;

TEST(SaveSettingsOnTheMachine, AValueTheLockedStoreRefusesAnswersFalseAndIsReported) {
  RegisterApplicationCommands();
  App::SetSettingsRegistryKey(Testing::TestRegistryPath().substr(std::u16string(u"Software\\").size()));
  const auto save = [](const char16_t* key) {
    Variant result;
    return DispatchCommand(result, nullptr, Variant::String(u"save_settings"), Variant::String(key),
                           Variant::Int(1), {}, {});
  };
  EXPECT_EQ(Variant(), save(u"stored"));

  sqlite3* other = nullptr;  // another program holding the store's write lock
  ASSERT_EQ(SQLITE_OK, sqlite3_open((Platform::Posix::MachineDirectory() + "/registry.db").c_str(), &other));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
  Testing::DebugLines debug;
  EXPECT_EQ(Variant::Bool(false), save(u"refused"));
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  ASSERT_EQ(1u, debug.Lines().size());
  EXPECT_EQ(u"save_settings: refused could not be stored\n", debug.Lines()[0]);
}

}  // namespace
}  // namespace Zentrovak::Commands
