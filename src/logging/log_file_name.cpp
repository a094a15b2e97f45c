#include "logging/log_file_name.h"

#include "text/format.h"

namespace QUILLogger {

namespace {
constexpr std::u16string_view kExtension = u".log";
constexpr size_t kDateDigits = 8;

bool allDigits(std::u16string_view s) {
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}
}  // namespace

std::u16string dateKeyOf(const quil::platform::LocalTime& time) {
  return quil::format(u"%hu%02hu%02hu", time.year, time.month, time.day);
}

LogFileInfo makeLogFileInfo(std::u16string_view prefix, std::u16string_view dateKey, uint32_t index) {
  LogFileInfo info;
  info.dateKey = std::u16string(dateKey);
  info.index = index;
  info.logName = std::u16string(prefix) + info.dateKey;
  if (index != 0) info.logName += quil::format(u"_%hu", static_cast<uint16_t>(index));
  info.logName += kExtension;
  info.valid = true;
  return info;
}

LogFileInfo parseLogFileName(std::u16string_view name, std::u16string_view prefix) {
  LogFileInfo info;
  const size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string_view::npos) name = name.substr(slash + 1);
  const size_t shortest = prefix.size() + kDateDigits + kExtension.size();
  if (name.size() < shortest || name.substr(0, prefix.size()) != prefix ||
      name.substr(name.size() - kExtension.size()) != kExtension) {
    return info;
  }
  const std::u16string_view date = name.substr(prefix.size(), kDateDigits);
  if (!allDigits(date)) return info;
  info.dateKey = std::u16string(date);
  info.logName = std::u16string(name);
  if (name.size() == shortest) {
    info.valid = true;
    return info;
  }
  // One separator character after the date, then the index up to ".log".
  const size_t indexStart = prefix.size() + kDateDigits + 1;
  if (indexStart > name.size() - kExtension.size()) return info;
  const std::u16string_view rest = name.substr(indexStart, name.size() - kExtension.size() - indexStart);
  if (rest.empty() || rest.front() == u'0' || rest == u"1" || !allDigits(rest) || rest.size() > 9) return info;
  uint32_t index = 0;
  for (char16_t c : rest) index = index * 10 + static_cast<uint32_t>(c - u'0');
  info.index = index;
  info.valid = true;
  return info;
}

}  // namespace QUILLogger
