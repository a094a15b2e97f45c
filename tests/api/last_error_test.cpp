// The code table and its short texts, the take-over of the reader's error
// and the relay of a sibling library's Windows-level error. (Copying the
// message into a caller's buffer, its required length and the record of
// each thread are checked through the exports: exports_test, OutValues and
// LastError.)
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "api/error_table.h"
#include "api/last_error.h"
#include "quil/platform_error.h"
#include "quil/sibling/quilreader.h"
#include "quil/sibling/quilwriter.h"
#include "text/utf.h"

namespace {

using namespace quil::api;
using quil::toUtf8;
using ReaderError = QUILReaderLastError::QUILLastErrorManager;
using WriterError = QUILWriterLastError::QUILLastErrorManager;

std::u16string recordMessage() { return lastErrorRecord().message; }

// Every test starts from a thread with no error of any kind.
class LastErrorTest : public testing::Test {
 protected:
  void SetUp() override {
    quil::api::clearLastError();
    QUIL_SetLastErrorWithMessage(0, u"");
    ReaderError::clear();
    WriterError::clear();
    QUILPlatform_SetLastError(0);
  }
};

// ---------------------------------------------------------------------------
// The code table

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
    EXPECT_EQ(toUtf8(errorText(r.code)), toUtf8(r.text));
    const auto shortText = shortErrorText(r.code);
    ASSERT_EQ(shortText.has_value(), r.shortText.has_value());
    if (shortText) {
      EXPECT_EQ(toUtf8(*shortText), toUtf8(*r.shortText));
    }
  }
}

// ---------------------------------------------------------------------------
// Taking over the reader's last error

TEST_F(LastErrorTest, TakeOverCombinesTableTextWithReaderText) {
  const std::u16string longText(300, u'r');
  const struct {
    int32_t readerCode;
    const char16_t* readerText;  // null: the reader was given no text
    std::u16string expectedMessage;
  } rows[] = {
      {-1301, u"disc read timeout", u"INDEX.XML file read error. disc read timeout"},
      {-1301, u"", u"INDEX.XML file read error."},
      {-1301, nullptr, u"INDEX.XML file read error."},
      {54321, u"odd state", u"not defined error odd state"},
      {1000, u"", u"No object found in searching."},
      {0, u"stale", u" stale"},
      // The message keeps at most 255 characters.
      {-1301, longText.c_str(), (u"INDEX.XML file read error. " + longText).substr(0, 255)},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(toUtf8(c.expectedMessage));
    quil::api::setLastError(-3010);  // whatever was there before is replaced
    QUIL_SetLastErrorWithMessage(c.readerCode, c.readerText);
    quil::api::takeOverReaderError();
    EXPECT_EQ(quil::api::lastErrorRecord().code, c.readerCode);
    EXPECT_EQ(toUtf8(recordMessage()), toUtf8(c.expectedMessage));
  }
}

// ---------------------------------------------------------------------------
// Relaying a sibling library's Windows-level error

// Stands in for the volume object: records the calls and does what the
// volume does, clearing the thread's last error.
class RecordingOwner : public ClearQUILLastErrorIf {
 public:
  void clearLastError() override {
    ++calls;
    quil::api::clearLastError();
  }
  int calls = 0;
};

// Each case starts with Windows error 1234 and our -3203 on the thread.
TEST_F(LastErrorTest, SiblingRelayMovesOnlyAnErrorTheChosenSiblingSetInsideTheScope) {
  const struct {
    SiblingLibrary library;
    uint32_t (*get)();
    void (*set)(uint32_t);
  } siblings[] = {{SiblingLibrary::kReader, &ReaderError::get, &ReaderError::set},
                  {SiblingLibrary::kWriter, &WriterError::get, &WriterError::set}};
  const struct {
    const char* what;
    bool stale;       // both siblings have an error before the scope (77 chosen, 88 other)
    uint32_t chosen, other;  // what the chosen and the other sibling set inside (0: nothing)
    bool throws;
    uint32_t windows;  // the thread's Windows error after the scope
  } cases[] = {
      {"a stale error is cleared on entry, and not relayed", true, 0, 0, false, 1234},
      {"an error set inside", false, 32, 0, false, 32},
      {"an error set inside, then an exception", false, 80, 0, true, 80},
      {"no error", false, 0, 0, false, 1234},
      {"the other library's error", false, 0, 5, false, 1234},
  };
  for (const int i : {0, 1}) {
    const auto &s = siblings[i], &other = siblings[1 - i];  // other: the library the relay is not for
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << (i == 0 ? "Reader: " : "Writer: ") << c.what);
      SetUp();
      QUILPlatform_SetLastError(1234);
      quil::api::setLastError(-3203);
      if (c.stale) {
        s.set(77);
        other.set(88);
      }
      RecordingOwner owner;
      try {
        SiblingErrorRelay relay(owner, s.library);
        EXPECT_EQ(s.get(), 0u);
        EXPECT_EQ(other.get(), c.stale ? 88u : 0u);
        if (c.chosen != 0) s.set(c.chosen);
        if (c.other != 0) other.set(c.other);
        if (c.throws) throw std::runtime_error("sibling call failed");
      } catch (const std::runtime_error&) {
      }
      // A relayed error becomes the thread's Windows error and clears ours.
      const bool relayed = c.windows != 1234;
      EXPECT_EQ(QUILPlatform_GetLastError(), c.windows);
      EXPECT_EQ(owner.calls, relayed ? 1 : 0);
      EXPECT_EQ(quil::api::lastErrorRecord().code, relayed ? 0 : -3203);
      EXPECT_EQ(toUtf8(recordMessage()), relayed ? "" : "DeleteFile error");
    }
  }
}

}  // namespace
