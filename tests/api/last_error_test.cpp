// The calling thread's last error, the take-over of the reader's error and
// the relay of a sibling library's Windows-level error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "api/error_table.h"
#include "api/last_error.h"
#include "quil/platform_error.h"
#include "quil/sibling/quilreader.h"
#include "quil/sibling/quilwriter.h"

namespace {

using quil::api::ClearQUILLastErrorIf;
using quil::api::SiblingErrorRelay;
using quil::api::SiblingLibrary;

std::string narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::u16string recordMessage() { return quil::api::lastErrorRecord().message; }

// Every test starts from a thread with no error of any kind.
class LastErrorTest : public testing::Test {
 protected:
  void SetUp() override {
    quil::api::clearLastError();
    QUIL_SetLastErrorWithMessage(0, u"");
    QUILReaderLastError::QUILLastErrorManager::clear();
    QUILWriterLastError::QUILLastErrorManager::clear();
    QUILPlatform_SetLastError(0);
  }
};

// ---------------------------------------------------------------------------
// Reading code and message into a caller's buffer

TEST_F(LastErrorTest, CopiesCutTextAndReportsFullLength) {
  const struct {
    int32_t code;
    uint32_t bufferLength;
    std::u16string_view expectedText;  // what lands in the buffer before the NUL
    uint32_t expectedRequired;
  } rows[] = {
      {-4, 10, u"API call ", 39},                                 // a short buffer keeps the first nine
      {-4, 39, u"API call was passed an invalid handle.", 39},    // an exact fit
      {-4, 38, u"API call was passed an invalid handle", 39},     // one short of a fit
      {-4, 1, u"", 39},                                           // length one gives only the NUL
      {12345, 256, u"not defined error", 18},
      {0, 256, u"", 1},
      {1000, 256, u"No object found in searching.", 30},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(testing::Message() << c.code << " in " << c.bufferLength);
    quil::api::setLastError(c.code);
    // The sentinel shows whether anything past the terminating NUL was touched.
    char16_t buffer[300];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    uint32_t required = 0;
    EXPECT_EQ(quil::api::getLastErrorWithMessage(buffer, c.bufferLength, &required), c.code);
    EXPECT_EQ(required, c.expectedRequired);
    const size_t n = c.expectedText.size();
    EXPECT_EQ(narrow(std::u16string_view(buffer, n)), narrow(c.expectedText));
    EXPECT_EQ(buffer[n], u'\0');
    EXPECT_EQ(buffer[n + 1], u'#');
    // Reading does not clear the record.
    EXPECT_EQ(quil::api::getLastErrorWithMessage(nullptr, 0, nullptr), c.code);
  }
}

// A message of the caller's keeps at most 255 characters; with no buffer
// (or a null one of any length) only its length is reported.
TEST_F(LastErrorTest, MessageKeepsAtMost255Characters) {
  using Cut = std::pair<size_t, size_t>;  // the message's length, what is kept
  for (const auto& [length, kept] : {Cut{0, 0}, {254, 254}, {255, 255}, {256, 255}, {1000, 255}}) {
    SCOPED_TRACE(length);
    const std::u16string message(length, u'm');
    quil::api::setLastError(-3, message);
    EXPECT_EQ(quil::api::lastErrorRecord().code, -3);
    EXPECT_EQ(recordMessage(), message.substr(0, kept));
    for (const uint32_t bufferLength : {0u, 8u}) {
      uint32_t required = 0;
      EXPECT_EQ(quil::api::getLastErrorWithMessage(nullptr, bufferLength, &required), -3);
      EXPECT_EQ(required, kept + 1);
    }
  }
}

TEST_F(LastErrorTest, EachThreadHasItsOwnRecord) {
  quil::api::setLastError(-4);
  int32_t seenCode = -1;
  std::u16string seenMessage = u"unset";
  uint32_t seenRequired = 0;
  int32_t afterSet = 0;
  std::thread other([&] {
    seenCode = quil::api::lastErrorRecord().code;
    seenMessage = recordMessage();
    quil::api::getLastErrorWithMessage(nullptr, 0, &seenRequired);
    quil::api::setLastError(-3010);
    afterSet = quil::api::lastErrorRecord().code;
  });
  other.join();
  EXPECT_EQ(seenCode, 0);
  EXPECT_EQ(seenMessage, u"");
  EXPECT_EQ(seenRequired, 1u);
  EXPECT_EQ(afterSet, -3010);
  // The other thread's set left this thread's record alone.
  EXPECT_EQ(quil::api::lastErrorRecord().code, -4);
  EXPECT_EQ(narrow(recordMessage()), "API call was passed an invalid handle.");
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
      {-1301, longText.c_str(), (u"INDEX.XML file read error. " + longText).substr(0, 255)},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(narrow(c.expectedMessage));
    quil::api::setLastError(-3010);  // whatever was there before is replaced
    QUIL_SetLastErrorWithMessage(c.readerCode, c.readerText);
    quil::api::takeOverReaderError();
    EXPECT_EQ(quil::api::lastErrorRecord().code, c.readerCode);
    EXPECT_EQ(narrow(recordMessage()), narrow(c.expectedMessage));
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

struct Sibling {
  const char* name;
  SiblingLibrary library;
  uint32_t (*get)();
  void (*set)(uint32_t);
  void (*setOther)(uint32_t);  // the library the relay is not for
  uint32_t (*getOther)();
};

using ReaderError = QUILReaderLastError::QUILLastErrorManager;
using WriterError = QUILWriterLastError::QUILLastErrorManager;

TEST_F(LastErrorTest, SiblingRelayMovesOnlyAnErrorTheChosenSiblingSetInsideTheScope) {
  const Sibling siblings[] = {
      {"Reader", SiblingLibrary::kReader, &ReaderError::get, &ReaderError::set, &WriterError::set, &WriterError::get},
      {"Writer", SiblingLibrary::kWriter, &WriterError::get, &WriterError::set, &ReaderError::set, &ReaderError::get}};
  for (const Sibling& s : siblings) {
    SCOPED_TRACE(s.name);
    SetUp();
    RecordingOwner owner;
    // On entry the chosen sibling's stale error is cleared, and not relayed.
    s.set(77);
    s.setOther(88);
    {
      SiblingErrorRelay relay(owner, s.library);
      EXPECT_EQ(s.get(), 0u);
      EXPECT_EQ(s.getOther(), 88u);
    }
    EXPECT_EQ(owner.calls, 0);
    EXPECT_EQ(QUILPlatform_GetLastError(), 0u);

    // An error set inside becomes the thread's Windows error and clears ours.
    SetUp();
    quil::api::setLastError(-3203);
    {
      SiblingErrorRelay relay(owner, s.library);
      s.set(32);
    }
    EXPECT_EQ(QUILPlatform_GetLastError(), 32u);
    EXPECT_EQ(owner.calls, 1);
    EXPECT_EQ(quil::api::lastErrorRecord().code, 0);
    EXPECT_EQ(recordMessage(), u"");

    // Also when an exception leaves the scope.
    SetUp();
    try {
      SiblingErrorRelay relay(owner, s.library);
      s.set(80);
      throw std::runtime_error("sibling call failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(QUILPlatform_GetLastError(), 80u);
    EXPECT_EQ(owner.calls, 2);

    // No error of the chosen sibling, or one of the other: both errors stay.
    for (bool otherSets : {false, true}) {
      SCOPED_TRACE(otherSets ? "the other library's error" : "no error");
      SetUp();
      QUILPlatform_SetLastError(1234);
      quil::api::setLastError(-3203);
      {
        SiblingErrorRelay relay(owner, s.library);
        if (otherSets) s.setOther(5);
      }
      EXPECT_EQ(QUILPlatform_GetLastError(), 1234u);
      EXPECT_EQ(owner.calls, 2);
      EXPECT_EQ(quil::api::lastErrorRecord().code, -3203);
      EXPECT_EQ(narrow(recordMessage()), "DeleteFile error");
    }
  }
}

}  // namespace
