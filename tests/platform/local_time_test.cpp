#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

// The zone comes from TZ; POSIX zone strings need no zone database.
class LocalTimeZone : public ::testing::TestWithParam<std::pair<const char*, int>> {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    saved_ = old != nullptr ? old : "";
    hadTz_ = old != nullptr;
  }
  void TearDown() override {
    if (hadTz_) setenv("TZ", saved_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool hadTz_ = false;
};

TEST_P(LocalTimeZone, FollowsTz) {
  setenv("TZ", GetParam().first, 1);
  tzset();
  // 2026-12-06 23:30:00.123456 UTC
  const int64_t instant = 1796599800;
  const auto t = quil::platform::localTimeOf(instant, 123456789);
  const int hour = (23 + GetParam().second + 24) % 24;
  EXPECT_EQ(t.hour, hour);
  EXPECT_EQ(t.minute, 30);
  EXPECT_EQ(t.microsecond, 123456u);
  EXPECT_EQ(t.millisecond(), 123);
  // East of UTC the day has already changed.
  EXPECT_EQ(t.day, GetParam().second > 0 ? 7 : 6);
  EXPECT_EQ(quil::platform::utcOffsetSeconds(instant), GetParam().second * 3600);
}

INSTANTIATE_TEST_SUITE_P(Zones, LocalTimeZone,
                         ::testing::Values(std::make_pair("UTC0", 0), std::make_pair("JST-9", 9),
                                           std::make_pair("EST5", -5)));

}  // namespace
