// Tells the desktop utility in the active session that a written file failed
// to close, a recording was cut short, or duplicated names were handled at
// volume open. Best effort: a utility that is not there, or that does not
// read, costs a trace line and nothing else; nothing is returned or thrown,
// and the library's last error is not touched.
#pragma once

#include <cstdint>
#include <string_view>

#include "notify/close_error_message.h"

namespace quil::notify {

void notifiCloseError(uint32_t type, std::u16string_view path, std::u16string_view rootPath) noexcept;

}  // namespace quil::notify
