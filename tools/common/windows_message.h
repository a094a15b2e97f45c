// A Windows error number in words, from the platform library's message
// lookup, for the tools' failure lines.
#pragma once

#include <cstdint>
#include <string>

#include "common/utf.h"
#include "quil/platform_error.h"

namespace quiltools {

// "Windows error 32 (The process cannot access the file ...)".
inline std::string windowsErrorLine(uint32_t error) {
  char16_t text[256] = {};
  const uint32_t length = QUILPlatform_FormatMessage(error, text, 256);
  std::string line = "Windows error " + std::to_string(error);
  if (length != 0) line += " (" + utf8Of(std::u16string_view(text, length)) + ")";
  return line;
}

}  // namespace quiltools
