// Local wall-clock time, the stand-in for the Windows local-time calls.
#pragma once

#include <cstdint>

namespace quil::platform {

struct LocalTime {
  uint16_t year = 1970;
  uint16_t month = 1;  // 1 to 12
  uint16_t day = 1;    // 1 to 31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint32_t microsecond = 0;
  uint16_t millisecond() const { return static_cast<uint16_t>(microsecond / 1000); }
};

// Now, in the zone of TZ (or the system zone), with microseconds.
LocalTime localNow();

// The local time of a given instant (seconds and nanoseconds since the epoch).
LocalTime localTimeOf(int64_t seconds, int64_t nanoseconds);

// Offset of local time from UTC at the given instant, in seconds east.
int64_t utcOffsetSeconds(int64_t seconds);

// The zone as the C runtime reports it after its zone state is reset
// (tzset): the standard offset in seconds west of UTC, the flag that the
// zone has daylight time at all, and the local time now with whether
// daylight time is in effect for it.
struct RuntimeZone {
  long secondsWest = 0;
  int daylight = 0;
  bool daylightNow = false;
  LocalTime now;
};
RuntimeZone runtimeZoneNow();

}  // namespace quil::platform
