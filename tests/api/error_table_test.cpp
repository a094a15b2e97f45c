// The code table and the short texts of the operation log. (Its row count
// is a static_assert of the table itself.)
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "api/error_table.h"

namespace {

using quil::api::errorText;
using quil::api::isKnownError;
using quil::api::shortErrorText;

std::string narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// Known codes: one or two of every family, chosen where a slip is most
// likely (the family's first row, an odd one out such as -1099, -2015,
// -3101, -4001, the one positive code), and the codes of the short-text
// table. Unknown codes: gaps inside a family (-1013, -3000), a positive code
// other than 1000, and the extremes of the 32-bit range. A code with a table
// text but no short one (-5, -4, -3001, -3011) makes the operation log take
// the variant without the text piece.
TEST(ErrorTable, TextAndShortTextOfEachCode) {
  constexpr std::u16string_view kUnknown = u"not defined error";
  const struct {
    int32_t code;
    std::u16string_view text;
    std::optional<std::u16string_view> shortText = std::nullopt;
  } rows[] = {
      {0, u""},
      {-4, u"API call was passed an invalid handle."},
      {-5, u"API call was passed some other invalid parameter."},
      {-9, u"API call was passed a invalid filename"},
      {-1012, u"Input/output error: playlist"},
      {-1099, u"API call was denied because IO retry over"},
      {-1110, u"Proxy file open error."},
      {-1301, u"INDEX.XML file read error."},
      {-1307, u"Picture pointer file read error."},
      {-1512, u"PlayList file seek error."},
      {-2002, u"error in DISCMETA.XML content"},
      {-2015, u"AV file data error"},
      {-3001, u"Volume is already created"},
      {-3002, u"Disc Corrupted", u"The volume is corrupted."},
      {-3003, u"No free space on the disc", u"The disc has no space to write."},
      {-3005, u"API call is invalid operation", u"The operation is illegal."},
      {-3007, u"Unsupported Files", u"The file is unsupported."},
      {-3008, u"File is already existed", u"The filename already exists."},
      {-3010, u"file sharing violation", u"File sharing violation error occurred."},
      {-3011, u"Invalid file access"},
      {-3012, u"Media write protected", u"The disc is write-protected."},
      {-3101, u"File System driver's command error"},
      {-3208, u"SetEndOfFile error"},
      {-4001, u"DISCMETA.XML content error but cannot rewrite."},
      {-9999, u"Not implemented."},
      {1000, u"No object found in searching.", u"The file is not found."},
      {12345, kUnknown}, {-3000, kUnknown}, {-1013, kUnknown}, {-3013, kUnknown}, {-3209, kUnknown},
      {1, kUnknown}, {999, kUnknown}, {INT32_MIN, kUnknown}, {INT32_MAX, kUnknown},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(isKnownError(r.code), r.text != kUnknown);
    EXPECT_EQ(narrow(errorText(r.code)), narrow(r.text));  // every text is ASCII
    const auto shortText = shortErrorText(r.code);
    ASSERT_EQ(shortText.has_value(), r.shortText.has_value());
    if (shortText) {
      EXPECT_EQ(narrow(*shortText), narrow(*r.shortText));
    }
  }
}

}  // namespace
