#include "platform/local_time.h"

#include <climits>
#include <cstdint>
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

// The last second each thread converted: every trace line reads the local
// time, and most lines of a thread fall in the same second as the one
// before. Plain data, so that it is usable until the thread's very end.
// The zone's names and offset are kept with it: whoever calls tzset (the
// disc-metadata step does, tests change TZ) gets a conversion in the new
// zone at once.
struct LastConversion {
  int64_t seconds = INT64_MIN;
  const char* standardName = nullptr;
  const char* daylightName = nullptr;
  long secondsWest = 0;
  LocalTime time;
};
thread_local LastConversion tLast;
}  // namespace

LocalTime localTimeOf(int64_t seconds, int64_t nanoseconds) {
  if (tLast.seconds == seconds && tLast.standardName == tzname[0] && tLast.daylightName == tzname[1] &&
      tLast.secondsWest == timezone) {
    LocalTime lt = tLast.time;
    lt.microsecond = static_cast<uint32_t>(nanoseconds / 1000);
    return lt;
  }
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
  tLast = LastConversion{seconds, tzname[0], tzname[1], timezone, lt};
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
