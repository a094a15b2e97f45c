// The logging settings of the service's key, and where its files go: read
// by the log file manager, and by the tools that show a user the logs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace QUILLogger {

inline constexpr std::u16string_view kServiceRegistryKey = u"SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc";
inline constexpr std::u16string_view kServiceFolderTail = u"/Merrow/TALVO Drive/quilsvc/log";
inline constexpr std::u16string_view kServiceFilePrefix = u"QUILSVC_";

struct LogSettings {
  bool keyFound = false;     // without the key every default applies
  bool loggingOff = false;   // LogLevel 0x10000000 or more: nothing else is read
  uint32_t logLevel = 1;
  std::u16string folder;     // ends with '/'; empty when logging is off
  uint32_t maxLogFileNum = 32;
  uint32_t maxLogFileSize = 0xA00000;
};

// `programFiles` is the installation's base folder (the default folder is
// programFiles + folderTail).
LogSettings readLogSettings(const quil::platform::Registry& registry, std::u16string_view key,
                            std::u16string_view folderTail, const std::string& programFiles);

}  // namespace QUILLogger
