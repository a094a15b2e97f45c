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

TEST(Utf, ValidTextRoundTripsBothWays) {
  const struct {
    const char* name;
    std::u16string utf16;
    std::string utf8;
  } rows[] = {
      {"empty", u"", ""}, {"ascii", u"Hello, disc!", "Hello, disc!"},
      {"embedded_nul", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {"last_one_byte", u"\x7F", "\x7F"},
      {"first_two_byte", u"\x80", "\xC2\x80"},
      {"two_byte", u"caf\u00E9", "caf\xC3\xA9"},
      {"last_two_byte", u"\x7FF", "\xDF\xBF"},
      {"first_three_byte", u"\x800", "\xE0\xA0\x80"},
      {"three_byte", u"\u20AC\u65E5", "\xE2\x82\xAC\xE6\x97\xA5"},
      {"below_surrogates", u"\xD7FF", "\xED\x9F\xBF"},
      {"above_surrogates", u"\xE000", "\xEE\x80\x80"},
      {"last_three_byte", u"\xFFFF", "\xEF\xBF\xBF"},
      {"first_four_byte", u"\xD800\xDC00", "\xF0\x90\x80\x80"},
      {"four_byte", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"last_code_point", u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
      {"mixed", u"A\u00E9\u20AC\U0001F600Z", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80Z"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(toUtf8(r.utf16), r.utf8);
    EXPECT_EQ(units(fromUtf8(r.utf8)), units(r.utf16));
  }
}

TEST(Utf, LoneSurrogateBecomesReplacementCharacter) {
  const struct {
    const char* name;
    std::u16string input;
    std::string expected;
  } rows[] = {
      {"high_alone", u"\xD800", "\xEF\xBF\xBD"}, {"low_alone", u"\xDC00", "\xEF\xBF\xBD"},
      {"high_between_text", u"a\xDBFF" u"b", "a\xEF\xBF\xBD" "b"},
      {"low_between_text", u"a\xDFFF" u"b", "a\xEF\xBF\xBD" "b"},
      {"high_at_end", u"ab\xD83D", "ab\xEF\xBF\xBD"},
      {"pair_reversed", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"high_then_pair", u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {"pair_then_low", u"\xD83D\xDE00\xDE00", "\xF0\x9F\x98\x80\xEF\xBF\xBD"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(toUtf8(r.input), r.expected);
  }
}

TEST(Utf, InvalidUtf8GivesOneReplacementPerOffendingByte) {
  const struct {
    const char* name;
    std::string input;
    std::u16string expected;
  } rows[] = {
      {"stray_continuation", "a\x80" "b", u"a\uFFFD" u"b"},
      {"two_stray_continuations", "\xBF\x80", u"\uFFFD\uFFFD"},
      {"truncated_at_end", "ok\xE2\x82", u"ok\uFFFD\uFFFD"},
      {"truncated_four_byte_at_end", "\xF0\x9F\x98", u"\uFFFD\uFFFD\uFFFD"},
      {"truncated_before_ascii", "\xE2\x82" "A", u"\uFFFD\uFFFD" u"A"},
      {"lead_before_lead", "\xC3\xC3\xA9", u"\uFFFD\u00E9"},
      {"overlong_nul", "\xC0\x80", u"\uFFFD\uFFFD"},
      {"overlong_slash", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"overlong_four_byte", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"encoded_high_surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"encoded_low_surrogate", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
      {"above_last_code_point", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"five_byte_lead", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"byte_ff", "x\xFFy", u"x\uFFFDy"},
      {"valid_after_fault", "\x80\xE2\x82\xAC", u"\uFFFD\u20AC"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(units(fromUtf8(r.input)), units(r.expected));
  }
}

}  // namespace
