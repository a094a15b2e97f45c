#include "text/utf.h"

#include <cstdint>
#include <cstring>

namespace quil {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendCodePoint(std::string& out, char32_t cp) {
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

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string toUtf8(std::u16string_view text) {
  std::string out;
  appendUtf8(out, text);
  return out;
}

void appendUtf8(std::string& out, std::u16string_view text) {
  // ASCII is the common case of every trace line: copy it in one pass,
  // four units at a time while they are all below 0x80.
  const size_t start = out.size();
  out.resize(start + text.size());
  char* dst = out.data() + start;
  size_t ascii = 0;
  for (; ascii + 4 <= text.size(); ascii += 4) {
    uint64_t four;
    std::memcpy(&four, text.data() + ascii, sizeof four);
    if ((four & 0xFF80FF80FF80FF80u) != 0) break;
    dst[ascii] = static_cast<char>(text[ascii]);
    dst[ascii + 1] = static_cast<char>(text[ascii + 1]);
    dst[ascii + 2] = static_cast<char>(text[ascii + 2]);
    dst[ascii + 3] = static_cast<char>(text[ascii + 3]);
  }
  for (; ascii < text.size() && text[ascii] < 0x80; ++ascii) dst[ascii] = static_cast<char>(text[ascii]);
  out.resize(start + ascii);
  if (ascii == text.size()) return;
  out.reserve(out.size() + (text.size() - ascii) + 16);
  for (size_t i = ascii; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (isHigh(c) && i + 1 < text.size() && isLow(text[i + 1])) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      appendCodePoint(out, cp);
      ++i;
    } else if (isHigh(c) || isLow(c)) {
      appendCodePoint(out, kReplacement);
    } else {
      appendCodePoint(out, c);
    }
  }
}

std::u16string fromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
      extra = 1, cp = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2, cp = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3, cp = b0 & 0x07, minimum = 0x10000;
    } else {
      appendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    // The whole sequence must fit in the input.
    bool ok = i + static_cast<size_t>(extra) < text.size();
    if (ok) {
      for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (b & 0x3F);
      }
    }
    if (!ok || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      appendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    appendUtf16(out, cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

}  // namespace quil
