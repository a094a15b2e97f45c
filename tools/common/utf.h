// UTF-8 and the library's UTF-16, for the tools (which use the public
// header alone, not the library's own text helpers).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quiltools {

// Decodes UTF-8. A malformed sequence (bad lead or continuation byte,
// overlong form, surrogate, beyond U+10FFFF, cut short) makes the whole
// result empty when strict, else becomes U+FFFD.
inline std::optional<std::u16string> decodeUtf8(std::string_view s, bool strict) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t cp = 0, least = 0;
    if (c < 0x80) n = 1, cp = c;
    else if ((c & 0xE0) == 0xC0) n = 2, cp = c & 0x1Fu, least = 0x80;
    else if ((c & 0xF0) == 0xE0) n = 3, cp = c & 0x0Fu, least = 0x800;
    else if ((c & 0xF8) == 0xF0) n = 4, cp = c & 0x07u, least = 0x10000;
    bool valid = n != 0 && i + n <= s.size();
    for (size_t k = 1; valid && k < n; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      valid = (t & 0xC0) == 0x80;
      cp = (cp << 6) | (t & 0x3Fu);
    }
    valid = valid && cp >= least && cp <= 0x10FFFF && !(cp >= 0xD800 && cp < 0xE000);
    if (!valid) {
      if (strict) return std::nullopt;
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

inline std::optional<std::u16string> utf16Of(std::string_view utf8) { return decodeUtf8(utf8, true); }
inline std::u16string utf16Lenient(std::string_view utf8) { return *decodeUtf8(utf8, false); }

// Encodes UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
inline std::string utf8Of(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace quiltools
