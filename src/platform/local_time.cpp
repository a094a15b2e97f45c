#include "platform/local_time.h"

#include <ctime>
#include <mutex>

namespace quil::platform {

namespace {
// localtime_r does not re-read TZ on every call; read it once so that a
// process (or a test) that sets TZ before the first line gets that zone.
void readZoneOnce() {
  static std::once_flag once;
  std::call_once(once, [] { tzset(); });
}
}  // namespace

LocalTime localTimeOf(int64_t seconds, int64_t nanoseconds) {
  readZoneOnce();
  const time_t t = static_cast<time_t>(seconds);
  struct tm parts {};
  localtime_r(&t, &parts);
  LocalTime lt;
  lt.year = static_cast<uint16_t>(parts.tm_year + 1900);
  lt.month = static_cast<uint16_t>(parts.tm_mon + 1);
  lt.day = static_cast<uint16_t>(parts.tm_mday);
  lt.hour = static_cast<uint16_t>(parts.tm_hour);
  lt.minute = static_cast<uint16_t>(parts.tm_min);
  lt.second = static_cast<uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
  lt.microsecond = static_cast<uint32_t>(nanoseconds / 1000);
  return lt;
}

LocalTime localNow() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return localTimeOf(ts.tv_sec, ts.tv_nsec);
}

int64_t utcOffsetSeconds(int64_t seconds) {
  readZoneOnce();
  const time_t t = static_cast<time_t>(seconds);
  struct tm parts {};
  localtime_r(&t, &parts);
  return parts.tm_gmtoff;
}

}  // namespace quil::platform

namespace quil::platform {

RuntimeZone runtimeZoneNow() {
  tzset();
  RuntimeZone zone;
  zone.secondsWest = timezone;
  zone.daylight = daylight;
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  zone.daylightNow = local.tm_isdst > 0;
  zone.now.year = static_cast<uint16_t>(local.tm_year + 1900);
  zone.now.month = static_cast<uint16_t>(local.tm_mon + 1);
  zone.now.day = static_cast<uint16_t>(local.tm_mday);
  zone.now.hour = static_cast<uint16_t>(local.tm_hour);
  zone.now.minute = static_cast<uint16_t>(local.tm_min);
  zone.now.second = static_cast<uint16_t>(local.tm_sec);
  return zone;
}

}  // namespace quil::platform
