// The error codes of the library and their texts, and the short user texts
// that the operation log prints for a few of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quil::api {

inline constexpr std::u16string_view kUndefinedErrorText = u"not defined error";

// The code's message, or "not defined error" for a code outside the table.
std::u16string_view errorText(int32_t code);

bool isKnownError(int32_t code);

// Number of rows of the code table.
size_t errorTableSize();

// The short user-facing text of the operation log; only eight codes have one.
std::optional<std::u16string_view> shortErrorText(int32_t code);

}  // namespace quil::api
