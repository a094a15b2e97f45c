#include "logging/trace.h"

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

std::u16string_view baseName(const char16_t* path) {
  std::u16string_view p(path);
  const size_t cut = p.find_last_of(u"\\/");
  return cut == std::u16string_view::npos ? p : p.substr(cut + 1);
}

bool isSpace(char16_t c) {
  if (c == u' ') return true;
  // The global locale as it was when the first line was written.
  static const std::locale global;
  static const auto& ctype = std::use_facet<std::ctype<wchar_t>>(global);
  return ctype.is(std::ctype_base::space, static_cast<wchar_t>(c));
}

void appendPrefix(std::u16string& out, const quil::platform::LocalTime& time, uint32_t level,
                  const char16_t* sourceFile, const char16_t* function, int32_t line) {
  quil::formatTo(out, u"[%lc] [%02hu:%02hu:%02hu:%03hu.000] ", levelLetter(level), time.hour, time.minute,
                 time.second, time.millisecond());
  if (!isOperationLevel(level)) quil::formatTo(out, u"PID:%d ", quil::platform::processId());
  if (sourceFile != nullptr) out += baseName(sourceFile);
  if (line != 0) quil::formatTo(out, u":%d", line);
  if (out.empty() || out.back() != u' ') out += u' ';
  if (function != nullptr) quil::formatTo(out, u"%s() ", function);
}

void finishLine(std::u16string& text) {
  for (auto& c : text) {
    if (c == u'\r' || c == u'\n') c = u' ';
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
