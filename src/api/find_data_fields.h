// The fields of a filled FindData record in the order every trace line of an
// enumeration prints them: the name (64 units at most), the attributes, the
// three times (year, month, weekday, day, hour, minute, second,
// milliseconds each) and the size. The export and the volume session both
// trace the record around each call; the list lives here once.
#pragma once

#include "quil/quilcoreapi.h"

namespace quil::api {

template <class Emit>
void withFindDataFields(const FindData& d, Emit&& emit) {
  const QUIL_SYSTEMTIME& a = d.time1;
  const QUIL_SYSTEMTIME& b = d.time2;
  const QUIL_SYSTEMTIME& c = d.time3;
  emit(64, d.name, d.attributes, a.wYear, a.wMonth, a.wDayOfWeek, a.wDay, a.wHour, a.wMinute, a.wSecond,
       a.wMilliseconds, b.wYear, b.wMonth, b.wDayOfWeek, b.wDay, b.wHour, b.wMinute, b.wSecond, b.wMilliseconds,
       c.wYear, c.wMonth, c.wDayOfWeek, c.wDay, c.wHour, c.wMinute, c.wSecond, c.wMilliseconds, d.size);
}

}  // namespace quil::api
