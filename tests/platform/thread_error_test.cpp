#include <gtest/gtest.h>

#include <thread>

#include "quil/platform_error.h"

TEST(ThreadWindowsError, IsPerThreadAndStartsAtZero) {
  QUILPlatform_SetLastError(32);
  uint32_t seenByOther = 99;
  std::thread([&] {
    seenByOther = QUILPlatform_GetLastError();
    QUILPlatform_SetLastError(80);
  }).join();
  EXPECT_EQ(seenByOther, 0u);
  EXPECT_EQ(QUILPlatform_GetLastError(), 32u);
}
