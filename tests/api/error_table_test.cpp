// The code table and the short texts of the operation log.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "api/error_table.h"

namespace {

using quil::api::errorTableSize;
using quil::api::errorText;
using quil::api::isKnownError;
using quil::api::shortErrorText;

std::string narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

TEST(ErrorTable, HoldsAllRows) { EXPECT_EQ(errorTableSize(), 129u); }

struct KnownCode {
  int32_t code;
  std::u16string_view text;
};

// One or two codes of every family, chosen where a slip is most likely: the
// family's first row, an odd one out (-1099, -2015, -3101, -4001) and the
// one positive code.
class ErrorTextOfKnownCode : public testing::TestWithParam<KnownCode> {};

TEST_P(ErrorTextOfKnownCode, IsTheTableText) {
  const KnownCode& c = GetParam();
  EXPECT_TRUE(isKnownError(c.code));
  EXPECT_EQ(narrow(errorText(c.code)), narrow(c.text));  // every text is ASCII
}

INSTANTIATE_TEST_SUITE_P(
    Families, ErrorTextOfKnownCode,
    testing::Values(KnownCode{0, u""}, KnownCode{-4, u"API call was passed an invalid handle."},
                    KnownCode{-9, u"API call was passed a invalid filename"},
                    KnownCode{-1012, u"Input/output error: playlist"},
                    KnownCode{-1099, u"API call was denied because IO retry over"},
                    KnownCode{-1110, u"Proxy file open error."},
                    KnownCode{-1301, u"INDEX.XML file read error."},
                    KnownCode{-1307, u"Picture pointer file read error."},
                    KnownCode{-1512, u"PlayList file seek error."},
                    KnownCode{-2002, u"error in DISCMETA.XML content"},
                    KnownCode{-2015, u"AV file data error"}, KnownCode{-3010, u"file sharing violation"},
                    KnownCode{-3101, u"File System driver's command error"},
                    KnownCode{-3208, u"SetEndOfFile error"},
                    KnownCode{-4001, u"DISCMETA.XML content error but cannot rewrite."},
                    KnownCode{-9999, u"Not implemented."}, KnownCode{1000, u"No object found in searching."}),
    [](const testing::TestParamInfo<KnownCode>& info) {
      const int32_t code = info.param.code;
      return code < 0 ? "minus" + std::to_string(-code) : "code" + std::to_string(code);
    });

// Codes just beside real ones: a gap inside a family (-1013, -3000), a
// positive code other than 1000, and the extremes of the 32-bit range.
class ErrorTextOfUnknownCode : public testing::TestWithParam<int32_t> {};

TEST_P(ErrorTextOfUnknownCode, IsNotDefinedError) {
  EXPECT_FALSE(isKnownError(GetParam()));
  EXPECT_EQ(narrow(errorText(GetParam())), "not defined error");
  EXPECT_FALSE(shortErrorText(GetParam()).has_value());
}

INSTANTIATE_TEST_SUITE_P(Gaps, ErrorTextOfUnknownCode,
                         testing::Values(12345, -3000, -1013, -3013, -3209, 1, 999, INT32_MIN, INT32_MAX));

struct ShortText {
  int32_t code;
  std::optional<std::u16string_view> text;
};

class ShortErrorText : public testing::TestWithParam<ShortText> {};

TEST_P(ShortErrorText, MatchesTheOperationLogTable) {
  const ShortText& s = GetParam();
  const auto actual = shortErrorText(s.code);
  ASSERT_EQ(actual.has_value(), s.text.has_value());
  if (s.text) {
    EXPECT_EQ(narrow(*actual), narrow(*s.text));
  }
}

// The eight codes that have a short text, and codes that have a table text
// but no short one (-5, -4, -3001, -3011): the operation log then takes the
// variant without the text piece.
INSTANTIATE_TEST_SUITE_P(
    Codes, ShortErrorText,
    testing::Values(ShortText{-3002, u"The volume is corrupted."}, ShortText{-3003, u"The disc has no space to write."},
                    ShortText{-3005, u"The operation is illegal."}, ShortText{-3007, u"The file is unsupported."},
                    ShortText{-3008, u"The filename already exists."},
                    ShortText{-3010, u"File sharing violation error occurred."},
                    ShortText{-3012, u"The disc is write-protected."}, ShortText{1000, u"The file is not found."},
                    ShortText{-5, std::nullopt}, ShortText{-4, std::nullopt}, ShortText{-3001, std::nullopt},
                    ShortText{-3011, std::nullopt}, ShortText{0, std::nullopt}));

}  // namespace
