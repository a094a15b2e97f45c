// Log file names: which names the parser takes, and their order. The names
// the manager builds (the day's file, "_2" and on, the two-digit month and
// day) and the near misses it must leave alone ("_1", "_02", "_2a", another
// case, a short date) are checked on real folders by log_file_manager_test
// (SizeBeyondTheLimitMovesToIndexTwoThenThree,
// OldestFilesGoFirstWhenThereAreTooMany).
#include <gtest/gtest.h>

#include "logging/log_file_name.h"
#include "text/utf.h"

namespace {

using QUILLogger::parseLogFileName;

TEST(LogFileName, RecognisesOnlyNamesTheManagerBuilds) {
  const struct {
    const char16_t* name;
    bool valid;
    const char16_t* dateKey;
    uint32_t index;
  } rows[] = {
      {u"QUILSVC_20261206.log", true, u"20261206", 0},
      {u"QUILSVC_20261206_2.log", true, u"20261206", 2},
      {u"C:\\logs\\QUILSVC_20261206_3.log", true, u"20261206", 3},
      {u"/var/log/QUILSVC_20261206_3.log", true, u"20261206", 3},
      // The separator after the date is not checked.
      {u"QUILSVC_20261206-4.log", true, u"20261206", 4},
      {u"QUILSVC_20261206_0.log", false, u"", 0},
      {u"QUILSVC_20261206_.log", false, u"", 0},
      {u"QUILSVC_2026120x.log", false, u"", 0},
      {u"QUILSVC_20261206.LOG", false, u"", 0},
      {u"QUILSVC_20261206.log.bak", false, u"", 0},
      {u"", false, u"", 0},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(quil::toUtf8(c.name));
    const auto info = parseLogFileName(c.name, u"QUILSVC_");
    EXPECT_EQ(info.valid, c.valid);
    if (c.valid) {
      EXPECT_EQ(info.dateKey, c.dateKey);
      EXPECT_EQ(info.index, c.index);
    }
  }
}

TEST(LogFileName, OrderIsOldestDayThenLowestIndex) {
  QUILLogger::LogFileSet set;
  for (const char16_t* n : {u"QUILSVC_20261206_3.log", u"QUILSVC_20261205_2.log", u"QUILSVC_20261206.log",
                            u"QUILSVC_20261206_10.log", u"QUILSVC_20261205.log"}) {
    set.insert(parseLogFileName(n, u"QUILSVC_"));
  }
  std::vector<std::u16string> order;
  for (const auto& f : set) order.push_back(f.logName);
  EXPECT_EQ(order, (std::vector<std::u16string>{u"QUILSVC_20261205.log", u"QUILSVC_20261205_2.log",
                                                u"QUILSVC_20261206.log", u"QUILSVC_20261206_3.log",
                                                u"QUILSVC_20261206_10.log"}));
}

}  // namespace
