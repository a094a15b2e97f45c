#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

namespace {

// The zone comes from TZ; POSIX zone strings need no zone database.
TEST(LocalTime, FollowsTz) {
  const char* old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  for (const auto& [zone, offset] : {std::pair<const char*, int>{"UTC0", 0}, {"JST-9", 9}, {"EST5", -5}}) {
    SCOPED_TRACE(zone);
    setenv("TZ", zone, 1);
    tzset();
    // 2026-12-06 23:30:00.123456 UTC
    const int64_t instant = 1796599800;
    const auto t = quil::platform::localTimeOf(instant, 123456789);
    EXPECT_EQ(t.hour, (23 + offset + 24) % 24);
    EXPECT_EQ(t.minute, 30);
    EXPECT_EQ(t.microsecond, 123456u);
    EXPECT_EQ(t.millisecond(), 123);
    // East of UTC the day has already changed.
    EXPECT_EQ(t.day, offset > 0 ? 7 : 6);
    EXPECT_EQ(quil::platform::utcOffsetSeconds(instant), offset * 3600);
  }
  if (old != nullptr) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

}  // namespace
