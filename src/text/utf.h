// UTF-16 <-> UTF-8 conversion at the edges of the library (host paths, log
// files, 8-bit fields). Inside, all text is UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace quil {

// A lone surrogate becomes U+FFFD so that every output is valid UTF-8.
std::string toUtf8(std::u16string_view text);
// The same, appended to out (which keeps its capacity: a reused buffer costs no allocation).
void appendUtf8(std::string& out, std::u16string_view text);

// Invalid or truncated sequences become U+FFFD, one per offending byte.
std::u16string fromUtf8(std::string_view text);

}  // namespace quil
