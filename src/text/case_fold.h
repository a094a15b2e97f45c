// Upper case of UTF-16 text with the C runtime's towupper mapping over the
// whole Basic Multilingual Plane, whatever the process's own locale is:
// volume names compare without regard to case, non-ASCII letters included.
#pragma once

#include <string>
#include <string_view>

namespace quil {

// One code unit; surrogates and mappings outside the plane stay as they are.
char16_t toUpper(char16_t c);
std::u16string toUpper(std::u16string_view text);

}  // namespace quil
