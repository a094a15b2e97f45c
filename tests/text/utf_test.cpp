// UTF-16 <-> UTF-8 at the edges: every valid text survives the round trip,
// and whatever is not valid becomes U+FFFD instead of bytes no reader accepts.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

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

struct Pair {
  const char* name;
  std::u16string utf16;
  std::string utf8;
};

void PrintTo(const Pair& p, std::ostream* os) { *os << p.name; }

std::string pairName(const testing::TestParamInfo<Pair>& info) { return info.param.name; }

class RoundTrip : public testing::TestWithParam<Pair> {};

TEST_P(RoundTrip, BothDirections) {
  EXPECT_EQ(toUtf8(GetParam().utf16), GetParam().utf8);
  EXPECT_EQ(units(fromUtf8(GetParam().utf8)), units(GetParam().utf16));
}

INSTANTIATE_TEST_SUITE_P(
    Valid, RoundTrip,
    testing::Values(Pair{"empty", u"", ""}, Pair{"ascii", u"Hello, disc!", "Hello, disc!"},
                    Pair{"embedded_nul", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
                    Pair{"last_one_byte", u"\x7F", "\x7F"},
                    Pair{"first_two_byte", u"\x80", "\xC2\x80"},
                    Pair{"two_byte", u"caf\u00E9", "caf\xC3\xA9"},
                    Pair{"last_two_byte", u"\x7FF", "\xDF\xBF"},
                    Pair{"first_three_byte", u"\x800", "\xE0\xA0\x80"},
                    Pair{"three_byte", u"\u20AC\u65E5", "\xE2\x82\xAC\xE6\x97\xA5"},
                    Pair{"below_surrogates", u"\xD7FF", "\xED\x9F\xBF"},
                    Pair{"above_surrogates", u"\xE000", "\xEE\x80\x80"},
                    Pair{"last_three_byte", u"\xFFFF", "\xEF\xBF\xBF"},
                    Pair{"first_four_byte", u"\xD800\xDC00", "\xF0\x90\x80\x80"},
                    Pair{"four_byte", u"\U0001F600", "\xF0\x9F\x98\x80"},
                    Pair{"last_code_point", u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
                    Pair{"mixed", u"A\u00E9\u20AC\U0001F600Z", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80Z"}),
    pairName);

struct Fault {
  const char* name;
  std::u16string input;
  std::string expected;
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class LoneSurrogate : public testing::TestWithParam<Fault> {};

TEST_P(LoneSurrogate, BecomesReplacementCharacter) { EXPECT_EQ(toUtf8(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    ToUtf8, LoneSurrogate,
    testing::Values(Fault{"high_alone", u"\xD800", "\xEF\xBF\xBD"}, Fault{"low_alone", u"\xDC00", "\xEF\xBF\xBD"},
                    Fault{"high_between_text", u"a\xDBFF" u"b", "a\xEF\xBF\xBD" "b"},
                    Fault{"low_between_text", u"a\xDFFF" u"b", "a\xEF\xBF\xBD" "b"},
                    Fault{"high_at_end", u"ab\xD83D", "ab\xEF\xBF\xBD"},
                    Fault{"pair_reversed", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
                    Fault{"high_then_pair", u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
                    Fault{"pair_then_low", u"\xD83D\xDE00\xDE00", "\xF0\x9F\x98\x80\xEF\xBF\xBD"}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

struct Invalid {
  const char* name;
  std::string input;
  std::u16string expected;
};

void PrintTo(const Invalid& f, std::ostream* os) { *os << f.name; }

class InvalidUtf8 : public testing::TestWithParam<Invalid> {};

TEST_P(InvalidUtf8, OneReplacementPerOffendingByte) {
  EXPECT_EQ(units(fromUtf8(GetParam().input)), units(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    FromUtf8, InvalidUtf8,
    testing::Values(Invalid{"stray_continuation", "a\x80" "b", u"a\uFFFD" u"b"},
                    Invalid{"two_stray_continuations", "\xBF\x80", u"\uFFFD\uFFFD"},
                    Invalid{"truncated_at_end", "ok\xE2\x82", u"ok\uFFFD\uFFFD"},
                    Invalid{"truncated_four_byte_at_end", "\xF0\x9F\x98", u"\uFFFD\uFFFD\uFFFD"},
                    Invalid{"truncated_before_ascii", "\xE2\x82" "A", u"\uFFFD\uFFFD" u"A"},
                    Invalid{"lead_before_lead", "\xC3\xC3\xA9", u"\uFFFD\u00E9"},
                    Invalid{"overlong_nul", "\xC0\x80", u"\uFFFD\uFFFD"},
                    Invalid{"overlong_slash", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
                    Invalid{"overlong_four_byte", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                    Invalid{"encoded_high_surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                    Invalid{"encoded_low_surrogate", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
                    Invalid{"above_last_code_point", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                    Invalid{"five_byte_lead", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
                    Invalid{"byte_ff", "x\xFFy", u"x\uFFFDy"},
                    Invalid{"valid_after_fault", "\x80\xE2\x82\xAC", u"\uFFFD\u20AC"}),
    [](const testing::TestParamInfo<Invalid>& info) { return std::string(info.param.name); });

}  // namespace
