// UTF-16 <-> UTF-8 at the edges: every valid text survives the round trip,
// and whatever is not valid becomes U+FFFD instead of bytes no reader accepts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "text/utf.h"

namespace {

using quil::fromUtf8;
using quil::toUtf8;

// Failure messages show UTF-16 as code unit numbers, which stays readable for
// surrogates that have no UTF-8 form.
std::string units(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X ", static_cast<unsigned>(c));
    out += buffer;
  }
  return out;
}

// Valid text both ways; a lone surrogate only from UTF-16 and malformed
// UTF-8 only to it, with one replacement per offending unit or byte. (The
// log file shows the same conversion of a line: log_file_manager_test,
// NonAsciiTextReachesTheFileAsUtf8UnderTheCLocale.)
TEST(Utf, ConversionTable) {
  enum Way { kBoth, kTo8, kTo16 };
  const struct {
    const char* name;
    std::u16string utf16;
    std::string utf8;
    Way way = kBoth;
  } rows[] = {
      {"empty", u"", ""}, {"ascii", u"Hello, disc!", "Hello, disc!"},
      {"embedded_nul", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {"last_one_byte", u"\x7F", "\x7F"},
      {"first_two_byte", u"\x80", "\xC2\x80"},
      {"last_two_byte", u"\x7FF", "\xDF\xBF"},
      {"first_three_byte", u"\x800", "\xE0\xA0\x80"},
      {"below_surrogates", u"\xD7FF", "\xED\x9F\xBF"},
      {"above_surrogates", u"\xE000", "\xEE\x80\x80"},
      {"last_three_byte", u"\xFFFF", "\xEF\xBF\xBF"},
      {"first_four_byte", u"\xD800\xDC00", "\xF0\x90\x80\x80"},
      {"last_code_point", u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
      {"mixed", u"A\u00E9\u20AC\U0001F600Z", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80Z"},
      // Lone surrogates.
      {"high_between_text", u"a\xDBFF" u"b", "a\xEF\xBF\xBD" "b", kTo8},
      {"low_between_text", u"a\xDFFF" u"b", "a\xEF\xBF\xBD" "b", kTo8},
      {"high_at_end", u"ab\xD83D", "ab\xEF\xBF\xBD", kTo8},
      {"pair_reversed", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD", kTo8},
      {"high_then_pair", u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80", kTo8},
      {"pair_then_low", u"\xD83D\xDE00\xDE00", "\xF0\x9F\x98\x80\xEF\xBF\xBD", kTo8},
      // Malformed UTF-8.
      {"stray_continuation", u"a\uFFFD" u"b", "a\x80" "b", kTo16},
      {"truncated_at_end", u"ok\uFFFD\uFFFD", "ok\xE2\x82", kTo16},
      {"truncated_before_ascii", u"\uFFFD\uFFFD" u"A", "\xE2\x82" "A", kTo16},
      {"lead_before_lead", u"\uFFFD\u00E9", "\xC3\xC3\xA9", kTo16},
      {"overlong_nul", u"\uFFFD\uFFFD", "\xC0\x80", kTo16},
      {"overlong_slash", u"\uFFFD\uFFFD\uFFFD", "\xE0\x80\xAF", kTo16},
      {"overlong_four_byte", u"\uFFFD\uFFFD\uFFFD\uFFFD", "\xF0\x8F\xBF\xBF", kTo16},
      {"encoded_high_surrogate", u"\uFFFD\uFFFD\uFFFD", "\xED\xA0\x80", kTo16},
      {"encoded_low_surrogate", u"\uFFFD\uFFFD\uFFFD", "\xED\xBF\xBF", kTo16},
      {"above_last_code_point", u"\uFFFD\uFFFD\uFFFD\uFFFD", "\xF4\x90\x80\x80", kTo16},
      {"five_byte_lead", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", "\xF8\x88\x80\x80\x80", kTo16},
      {"byte_ff", u"x\uFFFDy", "x\xFFy", kTo16},
      {"valid_after_fault", u"\uFFFD\u20AC", "\x80\xE2\x82\xAC", kTo16},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.way != kTo16) {
      EXPECT_EQ(toUtf8(r.utf16), r.utf8);
    }
    if (r.way != kTo8) {
      EXPECT_EQ(units(fromUtf8(r.utf8)), units(r.utf16));
    }
  }
}

}  // namespace
