#include <gtest/gtest.h>

#include "app/single_instance.h"
#include "platform/message_loop.h"

namespace Zentrovak::App {
namespace {

using Platform::CreatedKernelObject;

TEST(SingleInstance, SecondAcquireIsRefusedUntilReleased) {
  const char16_t* name = u"{7D0B2A61-single-instance-probe}";
  ASSERT_EQ(0, acquire_single_instance(name));
  // The name is held: another acquisition sees a running instance.
  Mutex other;
  EXPECT_EQ(1, other.create(name, true));
  other.close();
  release_single_instance();
  EXPECT_EQ(0, acquire_single_instance(name));
  release_single_instance();
}

TEST(SingleInstance, TheRealNameAnswersAlreadyRunningFromASecondHolder) {
  ASSERT_EQ(0, acquire_single_instance(kSingleInstanceName));
  Mutex second;
  EXPECT_EQ(1, second.create(kSingleInstanceName, true));
  second.close();
  // quit releases the name, so a new instance may start at once.
  ApplicationRunning() = true;
  quit_application();
  EXPECT_FALSE(ApplicationRunning());
  EXPECT_EQ(0, acquire_single_instance(kSingleInstanceName));
  release_single_instance();
  // The posted quit message ends a loop run afterwards at once.
  ApplicationRunning() = true;
  EXPECT_EQ(1, run_message_loop());
  ApplicationRunning() = false;
}

TEST(SingleInstance, TakeCreatedResults) {
  struct Case {
    CreatedKernelObject created;
    Platform::HResult expected;
  };
  const Case cases[] = {
      {{Platform::kNoHandle, Platform::kErrorInvalidHandle}, Platform::kEInvalidArg},
      {{Platform::kNoHandle, Platform::kErrorAccessDenied}, static_cast<Platform::HResult>(0x80070005u)},
      {{Platform::kNoHandle, 0}, Platform::kEFail},
  };
  for (const auto& c : cases) {
    SynchronizationObject object;
    EXPECT_EQ(c.expected, object.take_created(c.created));
    EXPECT_EQ(Platform::kNoHandle, object.handle());
  }
  SynchronizationObject object;
  const auto real = Platform::CreateNamedMutex(u"{take-created-probe}", false);
  EXPECT_EQ(0, object.take_created(real));
  EXPECT_NE(Platform::kNoHandle, object.handle());
  SynchronizationObject again;
  EXPECT_EQ(1, again.take_created(Platform::CreateNamedMutex(u"{take-created-probe}", false)));
}

TEST(SingleInstance, TheLoopEndsWhenTheRunningFlagIsCleared) {
  ApplicationRunning() = false;
  EXPECT_EQ(1, run_message_loop());  // returns at once
}

}  // namespace
}  // namespace Zentrovak::App
