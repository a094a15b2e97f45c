#include "api/operation_log.h"

#include "api/error_table.h"
#include "api/last_error.h"

namespace quil::api::oplog {

std::u16string drive(const std::u16string& rootPath) { return quil::format(u"%c:", rootPath); }

std::u16string file(FileRole role, const std::u16string& rootPath, const char16_t* path) {
  std::u16string full = rootPath;
  if (path != nullptr) full += path;
  switch (role) {
    case FileRole::kOldFile: return quil::format(u"Old file: %s", full);
    case FileRole::kNewFile: return quil::format(u"New file: %s", full);
    case FileRole::kFile: break;
  }
  return quil::format(u"File: %s", full);
}

std::u16string handle(int32_t handle) { return quil::format(u"Handle: 0x%08X", handle); }

std::u16string newLabel(const char16_t* label, uint32_t maxLength) {
  std::u16string text;
  if (label != nullptr) {
    for (uint32_t i = 0; i < maxLength && label[i] != u'\0'; ++i) text.push_back(label[i]);
  }
  return quil::format(u"New volume label: %s", text);
}

ErrorPieces lastError() {
  const int32_t code = lastErrorRecord().code;
  return ErrorPieces{quil::format(u"Error: %d", code), shortErrorText(code)};
}

}  // namespace quil::api::oplog
