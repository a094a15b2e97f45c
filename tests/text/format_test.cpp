// The formatter against what the Microsoft C runtime's swprintf prints on x64
// for the same wide format, directive by directive. What the export trace
// and operation-log lines pin already (%p of a value, NULL or a wide pointer;
// %ls of a pointer, of NULL and cut by a precision shorter or longer than
// the text; %d and 0x%08X of negative values; %s of a string; %c of the root
// path, empty or not, as the drive; %lu and %llu at their tops) and
// formatTo's appending (the writer's trace lines) are checked there.
//
// A literal format that does not match its arguments does not compile:
// quil::format(u"%ld", int64_t{}) is rejected by the format string's consteval
// constructor, which cannot be probed with a requires-expression. The static
// checks below therefore exercise the check that constructor runs, and the
// runtime entry point is tested for the "%!" it prints instead; the argument
// types those checks turn away are not repeated at run time, where the same
// accepts() decides.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/format.h"
#include "text/utf.h"

namespace {

using quil::format;
using quil::formatRuntime;

template <class... Args>
constexpr bool accepted(std::u16string_view f) {
  constexpr quil::fmt_detail::ArgInfo infos[sizeof...(Args) + 1] = {quil::fmt_detail::infoOf<Args>()...,
                                                                     quil::fmt_detail::ArgInfo{}};
  return quil::fmt_detail::checkFormat(f, infos, sizeof...(Args)) == -1;
}

static_assert(accepted<int32_t, uint32_t>(u"%ld %lu"));
static_assert(!accepted<int64_t>(u"%ld"), "a 64-bit value under a 32-bit directive would be cut");
static_assert(accepted<int64_t, uint64_t, int64_t>(u"%lld %llu %I64d"));
static_assert(!accepted<int>(u"%d %d"), "missing argument");
static_assert(!accepted<int, int>(u"%d"), "unused argument");
static_assert(!accepted<int>(u"%s") && !accepted<std::string>(u"%s") && accepted<std::string>(u"%hs"));
static_assert(!accepted<std::u16string>(u"%hs") && !accepted<std::u16string>(u"%S"), "%S is 8-bit in a wide format");
static_assert(accepted<const char16_t*>(u"%p") && !accepted<std::u16string>(u"%p"));
static_assert(!accepted<int>(u"%f") && !accepted<>(u"50%") && accepted<>(u"50%%"));
static_assert(!accepted<int64_t, int>(u"%*d"), "a star takes an int");

// Strings laid out with other text right behind them: a formatter that reads
// past the bound would print the neighbour.
struct WideField {
  char16_t name[4], after[4];
};
static_assert(offsetof(WideField, after) == sizeof(char16_t) * 4);
constexpr WideField kWideField{{u'A', u'B', u'C', u'D'}, {u'X', u'Y', u'Z', 0}};

struct NarrowField {
  char code[4], after[4];
};
static_assert(offsetof(NarrowField, after) == 4);
constexpr NarrowField kNarrowField{{'W', 'X', 'Y', 'Z'}, {'!', '!', '!', 0}};

struct Case {
  const char* name;
  std::u16string actual, expected;
};

TEST(Format, MatchesTheCRuntime) {
  const std::u16string wide = u"abcdef";
  const char16_t* widePtr = u"text";
  const char16_t* nullWide = nullptr;
  const char* unterminatedNarrow = kNarrowField.code;
  const char16_t* ptr = u"\u00C5ngstr\u00F6m";
  const char16_t* emptyPtr = u"";
  const Case cases[] = {
      // Integers
      {"i_positive", format(u"%i", 7), u"7"},
      {"x_lower", format(u"%x", 0xBEEFu), u"beef"},
      {"o_octal", format(u"%o", 8), u"10"},
      {"u_of_negative_int", format(u"%u", -1), u"4294967295"},
      {"hd_40000_goes_negative", format(u"%hd", 40000), u"-25536"},
      {"hu_minus_one", format(u"%hu", -1), u"65535"},
      {"hd_zero_padded_negative", format(u"%03hd", int16_t{-7}), u"-07"},
      {"hhd_300", format(u"%hhd", 300), u"44"},
      {"ld_int32_min", format(u"%ld", INT32_MIN), u"-2147483648"},
      {"lx_uint32_max", format(u"%lx", UINT32_MAX), u"ffffffff"},
      {"lld_int64_min", format(u"%lld", INT64_MIN), u"-9223372036854775808"},
      {"I64d_int64_min", format(u"%I64d", INT64_MIN), u"-9223372036854775808"},
      {"I64X_high_bit", format(u"%I64X", uint64_t{0x8000000000000001}), u"8000000000000001"},
      {"lld_of_int_sign_extends", format(u"%lld", -5), u"-5"},
      {"bool_as_u", format(u"%u", true), u"1"},

      // Flags, width and precision
      {"width_right", format(u"[%5d]", 42), u"[   42]"},
      {"width_left", format(u"[%-5d]", 42), u"[42   ]"},
      {"plus_negative", format(u"%+d", -5), u"-5"},
      {"plus_zero", format(u"%+d", 0), u"+0"},
      {"plus_ignored_on_unsigned", format(u"%+u", 5u), u"5"},
      {"space_positive", format(u"% d", 5), u" 5"},
      {"space_negative", format(u"% d", -5), u"-5"},
      {"plus_beats_space", format(u"%+ d", 5), u"+5"},
      {"alt_x", format(u"%#x", 255), u"0xff"},
      {"alt_X", format(u"%#X", 255), u"0XFF"},
      {"alt_x_zero_has_no_prefix", format(u"%#x", 0), u"0"},
      {"alt_o", format(u"%#o", 8), u"010"},
      {"alt_o_zero", format(u"%#o", 0), u"0"},
      {"alt_o_zero_precision_zero", format(u"%#.0o", 0), u"0"},
      {"precision_pads_digits", format(u"%.5d", 42), u"00042"},
      {"precision_pads_after_sign", format(u"%.5d", -42), u"-00042"},
      {"precision_zero_of_zero_is_empty", format(u"[%.0d]", 0), u"[]"},
      {"precision_zero_of_zero_keeps_width", format(u"[%3.0d]", 0), u"[   ]"},
      {"precision_zero_of_one", format(u"%.0d", 1), u"1"},
      {"zero_pad_after_sign", format(u"%05d", -42), u"-0042"},
      {"zero_pad_after_plus", format(u"%+05d", 42), u"+0042"},
      {"zero_pad_after_alt_prefix", format(u"%#06x", 255), u"0x00ff"},
      {"left_beats_zero", format(u"[%-05d]", -42), u"[-42  ]"},
      {"precision_disables_zero_pad", format(u"[%08.3d]", 42), u"[     042]"},
      {"star_width", format(u"[%*d]", 5, 42), u"[   42]"},
      {"star_width_negative_left_justifies", format(u"[%*d]", -5, 42), u"[42   ]"},
      {"star_width_and_precision", format(u"[%*.*d]", 6, 4, 42), u"[  0042]"},
      {"star_precision_negative_is_none", format(u"[%.*d]", -1, 0), u"[0]"},
      {"p_width_left", format(u"[%-18p]", static_cast<const void*>(nullptr)), u"[0000000000000000  ]"},
      {"percent", format(u"100%%"), u"100%"},
      {"percent_between_directives", format(u"%d%%%d", 1, 2), u"1%2"},

      // Strings
      {"ws_wide", format(u"%ws", widePtr), u"text"},
      {"s_width_right", format(u"[%6s]", u"ab"), u"[    ab]"},
      // The Microsoft runtime pads strings and characters with zeros under the 0 flag.
      {"s_zero_flag_pads_with_zeros", format(u"[%05s]", u"ab"), u"[000ab]"},
      {"c_zero_flag_pads_with_zeros", format(u"[%03c]", u'x'), u"[00x]"},
      {"s_width_left", format(u"[%-6s]", u"ab"), u"[ab    ]"},
      {"s_width_shorter_than_text", format(u"[%2s]", wide), u"[abcdef]"},
      {"s_precision", format(u"%.3s", wide), u"abc"},
      {"ls_star_precision_negative_is_none", format(u"%.*ls", -1, widePtr), u"text"},
      {"ls_star_width_and_precision", format(u"[%*.*ls]", -5, 3, wide), u"[abc  ]"},
      {"ls_unterminated_array", format(u"[%ls]", kWideField.name), u"[ABCD]"},
      {"hs_narrow", format(u"%hs", std::string("plain")), u"plain"},
      {"hs_utf8", format(u"%hs", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), u"caf\u00E9 \u20AC \U0001F600"},
      {"hs_precision_counts_bytes", format(u"%.5hs", "caf\xC3\xA9!"), u"caf\u00E9"},
      {"hs_precision_cuts_sequence", format(u"%.4hs", "caf\xC3\xA9"), u"caf\uFFFD"},
      {"hs_unterminated_array", format(u"[%hs]", kNarrowField.code), u"[WXYZ]"},
      {"hs_unterminated_pointer", format(u"[%.4hs]", unterminatedNarrow), u"[WXYZ]"},
      {"S_is_narrow", format(u"%S", "narrow"), u"narrow"},
      {"lS_is_wide", format(u"%lS", widePtr), u"text"},
      {"ls_null_width", format(u"[%8ls]", nullWide), u"[  (null)]"},

      // Characters
      {"c_wide", format(u"%c", u'\u00E9'), u"\u00E9"},
      {"c_int", format(u"%c", 65), u"A"},
      {"lc_wide", format(u"%lc", u'\u20AC'), u"\u20AC"},
      {"wc_wide", format(u"%wc", u'q'), u"q"},
      {"hc_narrow", format(u"%hc", 'n'), u"n"},
      {"C_narrow", format(u"%C", 'N'), u"N"},
      {"c_pointer_first", format(u"%c", ptr), u"\u00C5"},
      {"hc_narrow_string_first", format(u"%hc", std::string("abc")), u"a"},
      // A NUL would end the line for every C reader, so it is left out.
      {"c_empty_pointer", format(u"[%c]", emptyPtr), u"[]"},

      // A format that only arrives at run time cannot be rejected by the
      // compiler: each directive the arguments cannot satisfy becomes "%!".
      {"matching", formatRuntime(u"%ld/%hs", INT32_MIN, "n"), u"-2147483648/n"},
      {"int_under_s", formatRuntime(u"[%s]", 5), u"[%!]"},
      {"string_under_d", formatRuntime(u"[%d]", wide), u"[%!]"},
      {"int_under_p", formatRuntime(u"[%p]", 5), u"[%!]"},
      {"missing_argument", formatRuntime(u"[%d|%d]", 1), u"[1|%!]"},
      {"missing_star_argument", formatRuntime(u"[%*d]"), u"[%!]"},
      {"string_as_star", formatRuntime(u"[%*d]", wide, 1), u"[%!]"},
      {"f_unsupported", formatRuntime(u"[%f]", 1), u"[%!]"},
      {"f_with_flags_consumed", formatRuntime(u"[%-8.2f]", 1), u"[%!]"},
      {"n_unsupported", formatRuntime(u"[%n]", 1), u"[%!]"},
      {"trailing_percent", formatRuntime(u"100%"), u"100%!"},
      {"trailing_incomplete_directive", formatRuntime(u"100%-5"), u"100%!"},
      {"extra_arguments_unused", formatRuntime(u"%d", 1, 2, 3), u"1"},
      {"text_after_fault_kept", formatRuntime(u"a%fb%dc", 9), u"a%!b9c"},
  };
  for (const Case& c : cases) EXPECT_EQ(quil::toUtf8(c.actual), quil::toUtf8(c.expected)) << c.name;
}

}  // namespace
