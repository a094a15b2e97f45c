#include "logging/log_settings.h"

#include "text/utf.h"

namespace QUILLogger {

LogSettings readLogSettings(const quil::platform::Registry& registry, std::u16string_view key,
                            std::u16string_view folderTail, const std::string& programFiles) {
  LogSettings s;
  const std::u16string defaultFolder = quil::fromUtf8(programFiles) + std::u16string(folderTail) + u"/";
  // No settings at all: the defaults apply, and the logs go to the
  // installation's folder rather than wherever the process happens to run.
  if (!registry.keyExists(key)) {
    s.folder = defaultFolder;
    return s;
  }
  s.keyFound = true;
  if (const auto level = registry.readDword(key, u"LogLevel")) s.logLevel = *level;
  if (s.logLevel >= 0x10000000u) {
    s.logLevel = 0;
    s.loggingOff = true;
    return s;
  }
  const auto folder = registry.readString(key, u"LogFolder", 32768 * sizeof(char16_t));
  s.folder = folder ? *folder : defaultFolder;
  if (s.folder.empty() || s.folder.back() != u'/') s.folder += u'/';
  if (const auto num = registry.readDword(key, u"MaxLogFileNum")) s.maxLogFileNum = *num == 0 ? 32 : *num;
  if (const auto size = registry.readDword(key, u"MaxLogFileSize")) s.maxLogFileSize = *size == 0 ? 0xA00000u : *size;
  return s;
}

}  // namespace QUILLogger
