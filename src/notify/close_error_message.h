// The message the desktop utility receives over its pipe when a written file
// failed to close, a recording was cut short, or duplicated file names were
// handled at volume open: 520 bytes, little-endian, sent as raw bytes. The
// utility's listener (tools/utility_listen) reads the same record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quil::notify {

enum CloseErrorType : uint32_t {
  kCloseError = 0,       // a written file failed to close
  kTruncate = 1,         // a clip essence file was closed after the writer stopped it early
  kDuplicateRenamed = 2, // duplicated file names were renamed at volume open
  kDuplicateAliased = 3, // ... given virtual aliases, the volume being write-protected
};

struct MsgBodyCloseError {
  uint32_t messageType;
  char16_t drive;               // the first character of the volume's root path
  char16_t closeFileName[256];  // after the path's last backslash, zero-terminated, at most 255
  uint8_t padding[2];
};

static_assert(offsetof(MsgBodyCloseError, messageType) == 0, "MsgBodyCloseError.messageType");
static_assert(offsetof(MsgBodyCloseError, drive) == 4, "MsgBodyCloseError.drive");
static_assert(offsetof(MsgBodyCloseError, closeFileName) == 6, "MsgBodyCloseError.closeFileName");
static_assert(offsetof(MsgBodyCloseError, padding) == 518, "MsgBodyCloseError.padding");
static_assert(sizeof(MsgBodyCloseError) == 520, "MsgBodyCloseError is 520 bytes");

// "\\.\pipe\TALVONotifyCloseError_<session>": one pipe per session.
std::string closeErrorPipeName(uint32_t session);

// The message for a file path (possibly empty) on a volume root.
MsgBodyCloseError makeCloseErrorMessage(uint32_t type, std::u16string_view path, std::u16string_view rootPath);

// The type's name, for people reading what the utility was told.
const char* closeErrorTypeName(uint32_t type);

}  // namespace quil::notify
