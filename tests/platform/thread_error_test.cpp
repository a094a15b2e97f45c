#include <gtest/gtest.h>

#include <string>
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

// Every Windows error the sibling libraries relay has its text, written
// with the usual length rules.
TEST(WindowsMessages, EveryRelayedErrorHasTextAndTheLengthRulesHold) {
  const uint32_t relayed[] = {1, 2, 3, 5, 6, 18, 19, 29, 30, 32, 80, 87, 112, 122, 123, 131, 145, 183, 206, 267, 1117};
  for (const uint32_t error : relayed) {
    char16_t text[256] = {};
    const uint32_t length = QUILPlatform_FormatMessage(error, text, 256);
    EXPECT_GT(length, 10u) << error;
    EXPECT_EQ(std::char_traits<char16_t>::length(text), length) << error;
    EXPECT_EQ(text[length - 1], u'.') << error;
  }
  char16_t text[128] = {};
  const uint32_t length = QUILPlatform_FormatMessage(32, text, 128);
  EXPECT_EQ(std::u16string(text, length),
            u"The process cannot access the file because it is being used by another process.");
  // The NUL must fit too.
  QUILPlatform_SetLastError(0);
  EXPECT_EQ(QUILPlatform_FormatMessage(32, text, length), 0u);
  EXPECT_EQ(QUILPlatform_GetLastError(), 122u);
  EXPECT_EQ(QUILPlatform_FormatMessage(32, text, length + 1), length);
  EXPECT_EQ(QUILPlatform_FormatMessage(32, nullptr, 0), 0u);
  EXPECT_EQ(QUILPlatform_FormatMessage(99999, text, 128), 0u);
  EXPECT_EQ(QUILPlatform_GetLastError(), 317u);
}
