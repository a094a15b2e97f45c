#include "logging/trace.h"

#include <cstring>
#include <locale>

#include "logging/log_file_manager.h"
#include "platform/host.h"

namespace QUILLogger {

namespace {

constexpr size_t kMaxLine = 4096;

char16_t levelLetter(uint32_t level) {
  switch (level) {
    case 1: return u'D';
    case 2: return u'I';
    case 3: return u'W';
    case 4: return u'E';
    case 5: return u'1';
    case 6: return u'2';
    case 7: return u'3';
    default: return u'?';
  }
}

bool isOperationLevel(uint32_t level) { return level >= 5 && level <= 7; }

// What follows the last '\\' or '/' (one pass: the length is found on the way).
std::u16string_view baseName(const char16_t* path) {
  const char16_t* start = path;
  const char16_t* p = path;
  for (; *p != 0; ++p) {
    if (*p == u'\\' || *p == u'/') start = p + 1;
  }
  return std::u16string_view(start, static_cast<size_t>(p - start));
}

bool isSpace(char16_t c) {
  if (c == u' ') return true;
  // The global locale as it was when the first line was written.
  static const std::locale global;
  static const auto& ctype = std::use_facet<std::ctype<wchar_t>>(global);
  return ctype.is(std::ctype_base::space, static_cast<wchar_t>(c));
}

// Writes the decimal digits of v at p, at least minDigits of them (zeros in
// front), as "%0Nd" would; returns the end. The prefix is written by hand
// into a local array: every stored line has one, and parsing its format
// again for each line was a third of the cost of a line.
char16_t* putDecimal(char16_t* p, int64_t v, int minDigits) {
  char16_t digits[24];
  int n = 0;
  uint64_t m = v < 0 ? ~static_cast<uint64_t>(v) + 1 : static_cast<uint64_t>(v);
  do {
    digits[n++] = static_cast<char16_t>(u'0' + m % 10);
    m /= 10;
  } while (m != 0);
  while (n < minDigits) digits[n++] = u'0';
  if (v < 0) *p++ = u'-';
  while (n > 0) *p++ = digits[--n];
  return p;
}

char16_t* putText(char16_t* p, std::u16string_view text) {
  for (char16_t c : text) *p++ = c;
  return p;
}

// The line's prefix, byte for byte what formatting
// "[%lc] [%02hu:%02hu:%02hu:%03hu.000] " (letter, time), "PID:%d " (all but
// operation-log lines), the source file's name, ":%d" (line) and "%s() "
// (function) gives.
void appendPrefix(std::u16string& out, const quil::platform::LocalTime& time, uint32_t level,
                  const char16_t* sourceFile, const char16_t* function, int32_t line) {
  char16_t head[96];  // every field below has a bounded width
  char16_t* p = head;
  *p++ = u'[';
  *p++ = levelLetter(level);
  p = putText(p, u"] [");
  p = putDecimal(p, time.hour, 2);
  *p++ = u':';
  p = putDecimal(p, time.minute, 2);
  *p++ = u':';
  p = putDecimal(p, time.second, 2);
  *p++ = u':';
  p = putDecimal(p, time.millisecond(), 3);
  p = putText(p, u".000] ");
  if (!isOperationLevel(level)) {
    p = putText(p, u"PID:");
    p = putDecimal(p, static_cast<int32_t>(quil::platform::processId()), 1);
    *p++ = u' ';
  }
  out.append(head, static_cast<size_t>(p - head));
  if (sourceFile != nullptr) out += baseName(sourceFile);
  if (line != 0) {
    p = head;
    *p++ = u':';
    p = putDecimal(p, line, 1);
    out.append(head, static_cast<size_t>(p - head));
  }
  if (out.back() != u' ') out += u' ';
  if (function != nullptr) {
    out.append(function);
    out.append(u"() ");
  }
}

// Whether any of four UTF-16 units is below 0x20 (where CR and LF are).
bool anyControl(const char16_t* four) {
  uint64_t w;
  std::memcpy(&w, four, sizeof w);
  return ((w - 0x0020002000200020u) & ~w & 0x8000800080008000u) != 0;
}

void finishLine(std::u16string& text) {
  // Line ends are rare: skip four units at a time until a chunk holds a
  // control character at all.
  char16_t* c = text.data();
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    if (i + 4 <= n && !anyControl(c + i)) {
      i += 4;
      continue;
    }
    if (c[i] == u'\r' || c[i] == u'\n') c[i] = u' ';
    ++i;
  }
  size_t end = text.size();
  while (end > 0 && isSpace(text[end - 1])) --end;
  text.resize(end);
  if (text.size() > kMaxLine) text.resize(kMaxLine);
}

}  // namespace

std::u16string buildTraceLine(const quil::platform::LocalTime& time, uint32_t level, const char16_t* sourceFile,
                              const char16_t* function, int32_t line, std::u16string_view format,
                              const quil::fmt_detail::Arg* args, size_t count) {
  std::u16string text;
  text.reserve(256);
  appendPrefix(text, time, level, sourceFile, function, line);
  if (text.size() > kMaxLine) {
    // A prefix that alone fills the line is written cut, without the message.
    text.resize(kMaxLine);
    return text;
  }
  quil::fmt_detail::vformatTo(text, format, args, count);
  finishLine(text);
  return text;
}

namespace detail {

std::atomic<uint32_t> filterWord{0};

namespace {

// The manager's answers, taken once: the settings never change afterwards.
void publishFilter(const LogFileManager& m) {
  uint32_t w = kFilterKnown;
  if (m.isLevelEnabled(1, 0)) w |= kPassDebug;
  if (m.isLevelEnabled(2, 0)) w |= kPassOther;
  if (m.isLevelEnabled(1, 1)) w |= kPassDebugFlagged;
  if (m.isLevelEnabled(5, 1)) w |= kPassOtherFlagged;
  if ((m.logLevel() & 0xF000u) != 0) w |= kWriterModeDecides;
  filterWord.store(w, std::memory_order_relaxed);
}

LogFileManager* processManager() {
  static LogFileManager* const manager = [] {
    LogFileManager* m = LogFileManager::instance().get();
    publishFilter(*m);
    return m;
  }();
  return manager;
}

}  // namespace

void writeTraceImpl(uint32_t /*traceType*/, uint32_t level, uint32_t flag, const char16_t* sourceFile,
                    const char16_t* function, int32_t line, std::u16string_view format,
                    const quil::fmt_detail::Arg* args, size_t count) {
  try {
    // The process's manager lives as long as the process, so after the first
    // call a plain pointer to it is all the filter needs.
    LogFileManager* const manager = processManager();
    if (!manager->isLevelEnabled(level, flag)) return;
    const quil::platform::LocalTime time = quil::platform::localNow();
    manager->writeLine(time, buildTraceLine(time, level, sourceFile, function, line, format, args, count));
  } catch (...) {
    // Tracing never fails its caller; a line that cannot be built is dropped.
  }
}

}  // namespace detail

void writeTraceText(uint32_t traceType, uint32_t level, uint32_t flag, const char16_t* sourceFile,
                    const char16_t* function, int32_t line, std::u16string_view text) {
  const quil::fmt_detail::Arg arg = quil::fmt_detail::makeArg(text);
  detail::writeTraceImpl(traceType, level, flag, sourceFile, function, line, u"%ls", &arg, 1);
}

void setWriterCallMode(uint32_t mode) { LogFileManager::instance()->setWriterCallMode(mode); }

}  // namespace QUILLogger
