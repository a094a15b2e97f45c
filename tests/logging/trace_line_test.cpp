// The trace line: prefix layout, letters, CR/LF and trailing-space rule, the
// 4096-character cuts, and the filter by LogLevel and writer call mode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "logging/log_file_manager.h"
#include "logging/test_log_folder.h"
#include "logging/trace.h"
#include "text/utf.h"

namespace {

using quiltest::timeAt;

// 42999 microseconds: the milliseconds are cut, not rounded.
const auto kTime = timeAt(2026, 12, 6, 9, 5, 7, 42999);

template <class... A>
std::string line(uint32_t level, const char16_t* file, const char16_t* function, int32_t lineNo,
                 quil::FormatString<A...> format, const A&... args) {
  const quil::fmt_detail::Arg packed[sizeof...(A) + 1] = {quil::fmt_detail::makeArg(args)..., quil::fmt_detail::Arg{}};
  return quil::toUtf8(QUILLogger::buildTraceLine(kTime, level, file, function, lineNo, format.get(), packed,
                                                 sizeof...(A)));
}

std::string pid() { return "PID:" + std::to_string(getpid()) + " "; }

// The layout of a debug line with its pid and source position (the base
// name after a '/'), the operation-log line without them, the line break
// that ends every format, and the cut of an overlong line at 4096
// characters (which leaves a line of exactly 4096 whole) are pinned through
// the exports (exports_test: ExportTrace, OperationLog). Here: the letters
// the exports never print, and each piece of the prefix.
TEST(TraceLine, LevelPicksTheLetterAndWhetherThePidShows) {
  const struct {
    uint32_t level;
    const char* letter;
    bool pid;
  } rows[] = {{1, "D", true},  {2, "I", true},  {3, "W", true}, {4, "E", true}, {5, "1", false},
              {6, "2", false}, {7, "3", false}, {0, "?", true}, {8, "?", true}, {0xFFFFFFFF, "?", true}};
  for (const auto& c : rows) {
    SCOPED_TRACE(c.level);
    EXPECT_EQ(line(c.level, nullptr, nullptr, 0, u"msg"),
              std::string("[") + c.letter + "] [09:05:07:042.000] " + (c.pid ? pid() : std::string()) + "msg");
  }
}

TEST(TraceLine, SourcePositionLineBreaksAndAnOverlongPrefix) {
  // Base name after a backslash too; a name without a separator is whole.
  EXPECT_EQ(line(2, u"plain.cpp", u"F", 9, u"m"), "[I] [09:05:07:042.000] " + pid() + "plain.cpp:9 F() m");
  EXPECT_EQ(line(2, u"dir\\", u"F", 9, u"m"), "[I] [09:05:07:042.000] " + pid() + ":9 F() m");
  // A null source with a line number: the colon follows the pid's space.
  EXPECT_EQ(line(2, nullptr, u"F", 9, u"m"), "[I] [09:05:07:042.000] " + pid() + ":9 F() m");
  // A negative line number prints as "%d" does.
  EXPECT_EQ(line(2, u"f", u"F", -5, u"m"), "[I] [09:05:07:042.000] " + pid() + "f:-5 F() m");
  // Line 0 prints no number; a null function leaves out the parentheses.
  EXPECT_EQ(line(4, u"x.cpp", nullptr, 0, u"m"), "[E] [09:05:07:042.000] " + pid() + "x.cpp m");
  EXPECT_EQ(line(4, nullptr, nullptr, 0, u"m"), "[E] [09:05:07:042.000] " + pid() + "m");
  // CR and LF inside become spaces; trailing white space of any kind goes.
  EXPECT_EQ(line(5, nullptr, nullptr, 0, u"a\r\nb\n"), "[1] [09:05:07:042.000] a  b");
  EXPECT_EQ(line(5, nullptr, nullptr, 0, u"tabs\t \t\n\n"), "[1] [09:05:07:042.000] tabs");
  EXPECT_EQ(line(5, nullptr, nullptr, 0, u"\n"), "[1] [09:05:07:042.000]");
  // A prefix that alone passes 4096 characters is written cut, without the message.
  const std::string overlong = line(1, u"a.cpp", std::u16string(5000, u'f').c_str(), 1, u"MESSAGE");
  EXPECT_EQ(overlong.size(), 4096u);
  EXPECT_EQ(overlong.find("MESSAGE"), std::string::npos);
  EXPECT_EQ(overlong.back(), 'f');
}

// The filter, by LogLevel, for each kind of line: debug (1, flag 0), other
// flag-0 lines (2 and 4), and operation-log lines (5 to 7, flag 1).
TEST(TraceFilter, PassesWhatTheLevelBitsAllow) {
  const struct {
    uint32_t logLevel;
    bool writerMode0;  // inside a traced writer call
    bool debug, info, error, operation;
  } rows[] = {
      {0x0, false, false, false, false, false},
      {0x1, false, false, true, true, true},
      {0x2, false, true, true, true, true},
      {0xF, false, true, true, true, true},
      // Extra level for flag-0 lines only.
      {0x200, false, true, true, true, false},
      {0x101, false, false, true, true, true},
      // Writer-call lines only, and only inside a writer call.
      {0x1000, false, false, false, false, false},
      {0x1000, true, true, true, true, false},
      {0x1001, true, true, true, true, true},
      // Debug output bit changes no filtering.
      {0x1000001, false, false, true, true, true},
      // Logging off.
      {0x10000000, true, false, false, false, false},
      {0x10001002, true, false, false, false, false},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << c.logLevel << (c.writerMode0 ? " in a writer call" : ""));
    quiltest::TestLogFolder folder;
    char value[64];
    std::snprintf(value, sizeof value, "\"LogLevel\"=dword:%08x\n", c.logLevel);
    folder.writeSettings(value);
    auto m = QUILLogger::LogFileManagerSVC::start(folder.options());
    m->setWriterCallMode(c.writerMode0 ? 0 : 1);
    EXPECT_EQ(m->isLevelEnabled(1, 0), c.debug);
    EXPECT_EQ(m->isLevelEnabled(2, 0), c.info);
    EXPECT_EQ(m->isLevelEnabled(4, 0), c.error);
    for (uint32_t level : {5u, 6u, 7u}) EXPECT_EQ(m->isLevelEnabled(level, 1), c.operation) << level;
  }
}

TEST(WriterTraceScope, SetsModeZeroInsideAndOneAfterEvenOnException) {
  auto m = QUILLogger::LogFileManager::instance();
  EXPECT_EQ(m->writerCallMode(), 1u);
  try {
    QUILLogger::WriterTraceScope scope;
    EXPECT_EQ(m->writerCallMode(), 0u);
    {
      QUILLogger::WriterTraceScope inner;
    }
    // Not nested: the end of any scope sets 1.
    EXPECT_EQ(m->writerCallMode(), 1u);
    QUILLogger::setWriterCallMode(0);
    throw std::runtime_error("writer failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(m->writerCallMode(), 1u);
}

}  // namespace
