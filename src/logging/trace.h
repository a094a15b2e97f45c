// writeTrace: the one call behind every trace and operation-log line.
//
//   trace type  2 for debug trace lines, 1 for all others (bookkeeping only)
//   level       1 "D" debug, 2 "I" information, 3 "W", 4 "E" error,
//               5 "1", 6 "2", 7 "3" operation log; anything else "?"
//   flag        1 for operation-log lines, 0 otherwise (selects the filter)
//   sourceFile  printed after its last '\' or '/'; null leaves it out
//   function    printed as "name() "; null leaves it out
//   line        printed as ":n" unless 0
//
// The filter runs first, before the clock is read and before any formatting:
// a line that is not wanted costs one relaxed load of the published filter
// word and a comparison, inline at the caller (surelyRejected below).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/local_time.h"
#include "text/format.h"

namespace QUILLogger {

namespace detail {

// What the process's manager lets through, published once it has read its
// settings, so that a line nobody wants is turned away before a single
// argument is packed: 0 until then (the call takes the full path, which
// starts the manager); afterwards kFilterKnown, one bit for each kind of
// line that passes, and kWriterModeDecides when flag-0 lines may pass by the
// writer call mode alone (the full path decides those).
inline constexpr uint32_t kFilterKnown = 1u;
inline constexpr uint32_t kPassDebug = 2u;         // level 1, flag 0
inline constexpr uint32_t kPassOther = 4u;         // other levels, flag 0
inline constexpr uint32_t kPassDebugFlagged = 8u;  // level 1, flag 1
inline constexpr uint32_t kPassOtherFlagged = 16u;
inline constexpr uint32_t kWriterModeDecides = 32u;

extern std::atomic<uint32_t> filterWord;

inline bool surelyRejected(uint32_t level, uint32_t flag) {
  const uint32_t w = filterWord.load(std::memory_order_relaxed);
  if ((w & kFilterKnown) == 0) return false;
  if (flag == 0) {
    if ((w & kWriterModeDecides) != 0) return false;
    return (w & (level == 1 ? kPassDebug : kPassOther)) == 0;
  }
  return (w & (level == 1 ? kPassDebugFlagged : kPassOtherFlagged)) == 0;
}

void writeTraceImpl(uint32_t traceType, uint32_t level, uint32_t flag, const char16_t* sourceFile,
                    const char16_t* function, int32_t line, std::u16string_view format,
                    const quil::fmt_detail::Arg* args, size_t count);
}  // namespace detail

// Builds the finished line (prefix, message, CR/LF turned to spaces, trailing
// white space removed, cut to 4096 characters) without writing it.
std::u16string buildTraceLine(const quil::platform::LocalTime& time, uint32_t level, const char16_t* sourceFile,
                              const char16_t* function, int32_t line, std::u16string_view format,
                              const quil::fmt_detail::Arg* args, size_t count);

template <class... Args>
void writeTrace(uint32_t traceType, uint32_t level, uint32_t flag, const char16_t* sourceFile,
                const char16_t* function, int32_t line, quil::FormatString<Args...> format, const Args&... args) {
  if (detail::surelyRejected(level, flag)) return;
  const quil::fmt_detail::Arg packed[sizeof...(Args) + 1] = {quil::fmt_detail::makeArg(args)...,
                                                             quil::fmt_detail::Arg{}};
  detail::writeTraceImpl(traceType, level, flag, sourceFile, function, line, format.get(), packed,
                         sizeof...(Args));
}

// A line whose text was already built (the operation-log pieces).
void writeTraceText(uint32_t traceType, uint32_t level, uint32_t flag, const char16_t* sourceFile,
                    const char16_t* function, int32_t line, std::u16string_view text);

// The writer call mode: 1 outside a traced writer call, 0 inside one.
void setWriterCallMode(uint32_t mode);

// Marks a traced writer call: mode 0 while it lives, 1 after (also when an
// exception leaves the scope). Not nested: the end of any scope sets 1.
class WriterTraceScope {
 public:
  WriterTraceScope() { setWriterCallMode(0); }
  ~WriterTraceScope() { setWriterCallMode(1); }
  WriterTraceScope(const WriterTraceScope&) = delete;
  WriterTraceScope& operator=(const WriterTraceScope&) = delete;
};

}  // namespace QUILLogger
