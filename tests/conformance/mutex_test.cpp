// The named mutex behind the single instance, on both backends.
#include <gtest/gtest.h>

#include "platform/kernel_object.h"

namespace Zentrovak::Platform {
namespace {

TEST(MutexConformance, ASecondCreationSeesTheFirst) {
  const char16_t* name = u"{5A0D1E7C-conformance-mutex}";
  const CreatedKernelObject first = CreateNamedMutex(name, true);
  ASSERT_NE(kNoHandle, first.handle);
  EXPECT_EQ(kErrorSuccess, first.lastError);
  const CreatedKernelObject second = CreateNamedMutex(name, true);
  EXPECT_NE(kNoHandle, second.handle);  // a handle to the existing object
  EXPECT_EQ(kErrorAlreadyExists, second.lastError);
  CloseKernelHandle(second.handle);
  CloseKernelHandle(first.handle);
  // Once every holder closed it, the name is free again.
  const CreatedKernelObject third = CreateNamedMutex(name, true);
  EXPECT_EQ(kErrorSuccess, third.lastError);
  CloseKernelHandle(third.handle);
}

TEST(MutexConformance, NamesAreCaseSensitive) {
  const CreatedKernelObject upper = CreateNamedMutex(u"ZentrovakCaseProbe", true);
  const CreatedKernelObject lower = CreateNamedMutex(u"zentrovakcaseprobe", true);
  EXPECT_EQ(kErrorSuccess, upper.lastError);
  EXPECT_EQ(kErrorSuccess, lower.lastError);
  CloseKernelHandle(upper.handle);
  CloseKernelHandle(lower.handle);
}

}  // namespace
}  // namespace Zentrovak::Platform
