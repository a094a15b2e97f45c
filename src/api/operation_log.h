// The pieces of the operation-log lines: what a user of the drive reads in
// the log when a file is opened, closed, deleted, renamed or changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "logging/trace.h"

namespace quil::api::oplog {

// "E:" from a root path that begins with the drive letter.
std::u16string drive(const std::u16string& rootPath);
// "File: %s", "Old file: %s" or "New file: %s" of the full path: the volume
// path follows the root path directly. A null path counts as empty.
enum class FileRole { kFile, kOldFile, kNewFile };
std::u16string file(FileRole role, const std::u16string& rootPath, const char16_t* path);
std::u16string handle(int32_t handle);
// "New volume label: %s" with the label up to its NUL, at most maxLength characters.
std::u16string newLabel(const char16_t* label, uint32_t maxLength);

// The thread's last-error code after a failed operation, as "Error: %d",
// and its short user text when it has one.
struct ErrorPieces {
  std::u16string error;
  std::optional<std::u16string_view> text;
};
ErrorPieces lastError();

// An operation-log line: no source position, so its prefix is only the
// level digit and the time.
template <class... A>
void line(uint32_t level, uint32_t flag, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(1, level, flag, nullptr, nullptr, 0, format, args...);
}

}  // namespace quil::api::oplog
