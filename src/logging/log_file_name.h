// Names of the log files: QUILSVC_<yyyymmdd>.log for the first file of a
// day, then QUILSVC_<yyyymmdd>_2.log, _3 and so on. There is never an _1.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "platform/local_time.h"

namespace QUILLogger {

struct LogFileInfo {
  std::u16string dateKey;  // eight digits for years 1000 to 9999
  uint32_t index = 0;      // 0 for the day's first file, then 2, 3, ...
  std::u16string logName;  // file name without folder
  bool valid = false;

  // Same file: the same day and index.
  bool sameFileAs(const LogFileInfo& other) const { return dateKey == other.dateKey && index == other.index; }
};

// Oldest first: by day (ordinal comparison), then by index.
struct LogFileOrder {
  bool operator()(const LogFileInfo& a, const LogFileInfo& b) const {
    if (a.dateKey != b.dateKey) return a.dateKey < b.dateKey;
    return a.index < b.index;
  }
};

using LogFileSet = std::set<LogFileInfo, LogFileOrder>;

std::u16string dateKeyOf(const quil::platform::LocalTime& time);

// prefix + dateKey + ("_" index when index is not 0) + ".log"
LogFileInfo makeLogFileInfo(std::u16string_view prefix, std::u16string_view dateKey, uint32_t index);

// Recognises a name the manager builds; anything else comes back invalid:
// wrong prefix or extension, a date that is not eight digits, an index that
// is empty, 1, has a leading zero or holds a non-digit.
LogFileInfo parseLogFileName(std::u16string_view name, std::u16string_view prefix);

}  // namespace QUILLogger
