#include <gtest/gtest.h>

#include "platform/kernel.h"

TEST(Kernel, NamedEventIsSharedAndAutoReset) {
  HANDLE a = CreateEventW(nullptr, FALSE, FALSE, L"EventThread_1a2b_c0");
  HANDLE b = CreateEventW(nullptr, FALSE, FALSE, L"EventThread_1a2b_c0");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  SetEvent(b);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  CloseHandle(a);
  CloseHandle(b);
}
