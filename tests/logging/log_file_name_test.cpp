#include <gtest/gtest.h>

#include "logging/log_file_name.h"
#include "text/utf.h"

namespace {

using QUILLogger::parseLogFileName;

struct NameCase {
  const char16_t* name;
  bool valid;
  const char16_t* dateKey;
  uint32_t index;
};

class LogFileNameParse : public ::testing::TestWithParam<NameCase> {};

TEST_P(LogFileNameParse, RecognisesOnlyNamesTheManagerBuilds) {
  const auto& c = GetParam();
  const auto info = parseLogFileName(c.name, u"QUILSVC_");
  EXPECT_EQ(info.valid, c.valid) << quil::toUtf8(c.name);
  if (c.valid) {
    EXPECT_EQ(info.dateKey, c.dateKey);
    EXPECT_EQ(info.index, c.index);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, LogFileNameParse,
    ::testing::Values(NameCase{u"QUILSVC_20261206.log", true, u"20261206", 0},
                      NameCase{u"QUILSVC_20261206_2.log", true, u"20261206", 2},
                      NameCase{u"QUILSVC_20261206_37.log", true, u"20261206", 37},
                      NameCase{u"C:\\logs\\QUILSVC_20261206_3.log", true, u"20261206", 3},
                      NameCase{u"/var/log/QUILSVC_20261206_3.log", true, u"20261206", 3},
                      // The separator after the date is not checked.
                      NameCase{u"QUILSVC_20261206-4.log", true, u"20261206", 4},
                      NameCase{u"QUILSVC_20261206_1.log", false, u"", 0},
                      NameCase{u"QUILSVC_20261206_02.log", false, u"", 0},
                      NameCase{u"QUILSVC_20261206_0.log", false, u"", 0},
                      NameCase{u"QUILSVC_20261206_2a.log", false, u"", 0},
                      NameCase{u"QUILSVC_20261206_.log", false, u"", 0},
                      NameCase{u"QUILSVC_2026120x.log", false, u"", 0},
                      NameCase{u"QUILSVC_2026126.log", false, u"", 0},
                      NameCase{u"quilsvc_20261206.log", false, u"", 0},
                      NameCase{u"QUILSVC_20261206.LOG", false, u"", 0},
                      NameCase{u"QUILSVC_20261206.log.bak", false, u"", 0},
                      NameCase{u"", false, u"", 0}));

TEST(LogFileName, BuildsTheNamesItParses) {
  const auto first = QUILLogger::makeLogFileInfo(u"QUILSVC_", u"20261206", 0);
  EXPECT_EQ(first.logName, u"QUILSVC_20261206.log");
  const auto later = QUILLogger::makeLogFileInfo(u"QUILSVC_", u"20261206", 12);
  EXPECT_EQ(later.logName, u"QUILSVC_20261206_12.log");
  const auto parsed = parseLogFileName(later.logName, u"QUILSVC_");
  EXPECT_TRUE(parsed.valid);
  EXPECT_EQ(parsed.index, 12u);
}

TEST(LogFileName, DateKeyHasTwoDigitMonthAndDay) {
  quil::platform::LocalTime t;
  t.year = 2026;
  t.month = 1;
  t.day = 5;
  EXPECT_EQ(QUILLogger::dateKeyOf(t), u"20260105");
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
