// NULL in every pointer argument of the exports (with a zero and an
// over-long length where a length goes with the pointer) on an open volume
// with a writer handle, a reader handle and a find handle, and with no
// volume open where the result then differs. Each call must return its
// failure value with the right last error, or succeed where a NULL is
// allowed, never read or write through the NULL, and write the trace variant
// that prints it as NULL.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "quil/platform_error.h"
#include "quil/quilcoreapi.h"
#include "support/process_log.h"
#include "volume/emulated_volume.h"

namespace {

using namespace voltest;

// Left as the last error before every call: a failure must replace it, a
// success must leave it.
constexpr int32_t kPreset = -3010;
constexpr uint32_t kTooLong = 0xFFFFFFFFu;

enum class Expect {
  kFails,         // the failure value and `error`
  kSucceeds,      // not the failure value; the last error untouched
  kEither,        // the sibling library decides: success, or failure with an error set
  kKeepsError,    // the sibling library decides, and a failure keeps the last error
  kReportsError,  // returns the last error and keeps it
};

struct Row {
  std::string name, args;
  std::function<int32_t()> call;
  Expect expect;
  int32_t error;                              // for kFails
  std::function<std::string(int32_t)> exit;  // the exit message after the export's name
  std::string entry = {};                     // the entry message after the name, when it has a NULL variant
  std::string also = {};                      // a pattern that another new line must contain
};

#define ROW(fn, args, ...) Row{#fn, #args, [&] { return fn args; }, __VA_ARGS__}

struct Traced { char level; std::string function, message, raw; };

// The lines a call added to the process log ("#Date=" headers left out).
std::vector<Traced> linesOf(const std::function<void()>& call) {
  const auto all = [] {
    auto lines = quiltest::processLogLines();
    std::erase_if(lines, [](const std::string& l) { return l.starts_with("#Date="); });
    return lines;
  };
  const size_t before = all().size();
  call();
  static const std::regex shape(R"(^\[(.)\] \[[^\]]*\] PID:\d+ \S+:\d+ (\S+)\(\) (.*)$)");
  std::vector<Traced> out;
  const auto lines = all();
  for (size_t i = before; i < lines.size(); ++i) {
    std::smatch m;
    if (std::regex_match(lines[i], m, shape)) out.push_back({m[1].str()[0], m[2].str(), m[3].str(), lines[i]});
    else out.push_back({'?', "", "", lines[i]});
  }
  return out;
}

// "%p" as the library prints it: 16 upper-case hex digits.
std::string P(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%016" PRIXPTR, reinterpret_cast<uintptr_t>(p));
  return text;
}
const std::string kNull = P(nullptr);

std::string hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

using std::to_string;

// An exit message: " return=<result>" and then `tail` (the clip identifier's
// exit line spells it "retrun").
std::function<std::string(int32_t)> ret(std::string tail = "", std::string word = " return=") {
  return [tail, word](int32_t r) { return word + to_string(r) + tail; };
}
// A tail computed after the call from the values written through the pointers.
std::function<std::string(int32_t)> ret(std::function<std::string()> tail, std::string word = " return=") {
  return [tail, word](int32_t r) { return word + to_string(r) + tail(); };
}

// The readable test prints its handle again in the exit line.
std::function<std::string(int32_t)> readable(int32_t h) {
  return [h](int32_t r) { return "(" + to_string(h) + ", NULL) return=" + to_string(r); };
}

// "%.*ls" of a NULL string: the C runtime's "(null)", cut to the precision.
std::string nullText(uint32_t precision) { return std::string("(null)").substr(0, std::min<uint32_t>(precision, 6)); }

int32_t failureOf(const std::string& name) {
  return name == "QUILAPI_CreateFile" || name == "QUILAPI_FindFirstFile" || name == "QUILAPI_CreateVolume" ? -1 : 0;
}

void runRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name + row.args);
    QUILAPI_SetLastError(kPreset);
    QUILPlatform_SetLastError(0);
    int32_t result = 0;
    const auto lines = linesOf([&] { result = row.call(); });
    const int32_t error = QUILAPI_GetLastError();
    const int32_t failure = failureOf(row.name);
    if (row.expect == Expect::kFails) {
      EXPECT_EQ(result, failure);
      EXPECT_EQ(error, row.error);
    } else if (row.expect == Expect::kEither && result == failure) {
      EXPECT_NE(error, kPreset) << "a failure left no error of its own";
      EXPECT_TRUE(error != 0 || QUILPlatform_GetLastError() != 0) << "last error 0 without a Windows error";
    } else {
      EXPECT_EQ(error, kPreset) << "every other outcome leaves the last error";
      if (row.expect == Expect::kSucceeds) {
        EXPECT_NE(result, failure);
      }
      if (row.expect == Expect::kReportsError) {
        EXPECT_EQ(result, kPreset);
      }
    }
    std::vector<const Traced*> own;
    for (const Traced& line : lines) {
      if (line.function == row.name) own.push_back(&line);
    }
    if (own.size() < 2) {
      ADD_FAILURE() << "no entry and exit lines among " << lines.size() << " new lines";
      continue;
    }
    EXPECT_EQ(own[0]->level, 'D');
    if (!row.entry.empty()) {
      EXPECT_EQ(own[0]->message, row.name + row.entry);
    } else {
      EXPECT_TRUE(own[0]->message.starts_with(row.name + "(")) << own[0]->raw;
    }
    EXPECT_EQ(own[1]->level, 'D');
    EXPECT_EQ(own[1]->message, row.name + row.exit(result));
    if (!row.also.empty()) {
      const std::regex pattern(row.also);
      const auto matches = [&](const Traced& line) { return std::regex_search(line.raw, pattern); };
      EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), matches)) << "no new line contains " << row.also;
    }
  }
}

class NullArguments : public EmulatedVolume {};

// The exports whose result with no volume open nothing else checks; the
// others' NULL trace variants are in the table of the open volume, and their
// invalid handle with no volume open in exports_test.
TEST_F(NullArguments, OnAClosedVolumeEveryExportFailsWithoutTouchingTheNull) {
  constexpr int32_t h = 1;  // no handle is known with no volume open
  uint32_t status = 0x11111111, flags = 0x22222222, required = 55;
  QUILCHAR buffer[16] = u"untouched";
  const _Volume_Param p = params();
  const std::vector<Row> rows = {
      ROW(QUILAPI_CreateVolume, (nullptr, &p), Expect::kFails, -5, ret()),
      ROW(QUILAPI_CreateVolume, (u"E:", nullptr), Expect::kFails, -5, ret(), "(\"E:\", NULL)"),
      ROW(QUILAPI_CreateVolume, (nullptr, nullptr), Expect::kFails, -5, ret(), "(\"(null)\", NULL)"),
      ROW(QUILAPI_GetFileAttributes, (0, nullptr, nullptr), Expect::kFails, -4, ret(" (NULL)")),
      ROW(QUILAPI_GetFileType, (h, nullptr), Expect::kFails, -4, ret(" (NULL)")),
      ROW(QUILAPI_GetLastErrorWithMessage, (nullptr, 0, nullptr), Expect::kReportsError, 0, ret(" (NULL, NULL)")),
      ROW(QUILAPI_GetLastErrorWithMessage, (nullptr, kTooLong, &required), Expect::kReportsError, 0,
          ret([&] { return " (NULL, " + to_string(required) + ")"; })),
      ROW(QUILAPI_GetLastErrorWithMessage, (buffer, 0, nullptr), Expect::kReportsError, 0, ret(" (\"\", NULL)")),
      ROW(QUILAPI_GetNRTinfo, (0, nullptr, nullptr), Expect::kFails, -4, ret(), "(0, NULL, " + kNull + ")"),
      // With no volume open any volume handle is accepted: the pointers decide.
      ROW(QUILAPI_GetVolumeInformation, (0, nullptr, nullptr), Expect::kFails, -5, ret(" (NULL, NULL)")),
      ROW(QUILAPI_GetVolumeInformation, (7, &status, nullptr), Expect::kFails, -5, ret(" (0x11111111, NULL)")),
      ROW(QUILAPI_GetVolumeInformation, (0, nullptr, &flags), Expect::kFails, -5, ret(" (NULL, 0x22222222)")),
      ROW(QUILAPI_GetVolumeLabel, (0, nullptr, 0, nullptr), Expect::kFails, -4, ret(" (NULL, NULL)")),
      ROW(QUILAPI_RemoveDirectory, (0, nullptr), Expect::kFails, -4, ret()),
  };
  runRows(rows);
  EXPECT_EQ(std::u16string(buffer), u"untouched");
}

TEST_F(NullArguments, OnAnOpenVolumeEachNullIsRefusedAllowedOrPassedOn) {
  ASSERT_EQ(openVolume(), 0);
  const int32_t w = openFile(u"\\USERDATA\\x", kRead | kWrite, kCreateAlways);
  const int32_t r = openFile(u"\\INDEX.XML", kRead, kOpenExisting);
  FindData found{};
  const int32_t f = QUILAPI_FindFirstFile(0, u"\\*", &found);
  ASSERT_NE(w, -1);
  ASSERT_NE(r, -1);
  ASSERT_NE(f, -1);
  uint32_t attributes = 0x33, length = 44, done = 66;
  uint64_t first = 77, second = 88;
  QUILCHAR buffer[16] = u"untouched";
  const NrtDataRequest dataRequest{1, 16, 0};
  NrtResult nrt{5, 6, &nrt};
  const auto nrtText = [&] {
    return " (" + to_string(nrt.value1) + ", " + to_string(nrt.value2) + ", " + P(nrt.pointer) + ")";
  };
  const std::string reader = R"(PID:\d+ VolumeHandle:\d+ VolumeHandle::\w+\(\) )";
  const std::vector<Row> rows = {
      // Paths: the kind decides, unless the writer already on the volume does.
      ROW(QUILAPI_CreateDirectory, (0, nullptr, nullptr), Expect::kFails, -3005, ret()),
      ROW(QUILAPI_CreateDirectory, (0, u"\\USERDATA\\d", nullptr), Expect::kSucceeds, 0, ret()),
      ROW(QUILAPI_CreateFile, (0, nullptr, kRead, 0, nullptr, kOpenExisting, 0, nullptr), Expect::kFails, -9, ret()),
      ROW(QUILAPI_CreateFile, (0, nullptr, 0, 0, nullptr, kOpenExisting, 0, nullptr), Expect::kFails, -5, ret()),
      ROW(QUILAPI_CreateFile, (0, nullptr, kWrite, 0, nullptr, kCreateAlways, 0, nullptr), Expect::kFails, -8, ret()),
      ROW(QUILAPI_CreateVolume, (nullptr, nullptr), Expect::kFails, -3001, ret(), "(\"(null)\", NULL)"),
      ROW(QUILAPI_DeleteFile, (0, nullptr), Expect::kFails, -9, ret()),
      ROW(QUILAPI_MoveFile, (0, nullptr, nullptr), Expect::kFails, -9, ret()),
      ROW(QUILAPI_MoveFile, (0, nullptr, u"\\USERDATA\\y"), Expect::kFails, -9, ret()),
      ROW(QUILAPI_MoveFile, (0, u"\\INDEX.XML", nullptr), Expect::kFails, -3005, ret()),
      ROW(QUILAPI_MoveFileEx, (0, nullptr, nullptr, 1), Expect::kFails, -9, ret()),
      ROW(QUILAPI_MoveFileEx, (0, u"\\USERDATA\\x", nullptr, 1), Expect::kFails, -9, ret()),
      ROW(QUILAPI_RemoveDirectory, (0, nullptr), Expect::kFails, -3005, ret()),
      ROW(QUILAPI_SetFileAttributes, (0, nullptr, 1), Expect::kFails, -3005, ret()),
      // Enumeration, attributes and volume queries: handed to the reader as given.
      ROW(QUILAPI_FindFirstFile, (0, u"\\*", nullptr), Expect::kEither, 0, ret(" (NULL)"),
          {}, reader + R"(QUIL_FindFirstFile\(\d+, "\\\*", 0{16}\)$)"),
      ROW(QUILAPI_FindFirstFile, (0, nullptr, nullptr), Expect::kEither, 0, ret(" (NULL)"),
          {}, reader + R"(QUIL_FindFirstFile\(\d+, "", 0{16}\)$)"),
      ROW(QUILAPI_FindNextFile, (f, nullptr), Expect::kEither, 0, ret(" (NULL)"),
          {}, reader + R"(QUIL_FindNextFile return=-?\d+ \(NULL\)$)"),
      ROW(QUILAPI_GetFileAttributes, (0, nullptr, nullptr), Expect::kEither, 0, ret(" (NULL)"),
          {}, reader + R"(QUIL_GetFileAttributes return=-?\d+ \(NULL\)$)"),
      ROW(QUILAPI_GetFileAttributes, (0, u"\\INDEX.XML", nullptr), Expect::kEither, 0, ret(" (NULL)")),
      ROW(QUILAPI_GetFileAttributes, (0, nullptr, &attributes), Expect::kEither, 0,
          ret([&] { return " (" + hex(attributes) + ")"; })),
      ROW(QUILAPI_GetVolumeCapacity, (0, nullptr, nullptr), Expect::kEither, 0, ret(" (NULL, NULL)"),
          {}, reader + R"(QUIL_GetVolumeCapacity return=-?\d+ \(NULL, NULL\)$)"),
      ROW(QUILAPI_GetVolumeCapacity, (0, &first, nullptr), Expect::kEither, 0,
          ret([&] { return " (" + to_string(first) + ", NULL)"; })),
      ROW(QUILAPI_GetVolumeCapacity, (0, nullptr, &second), Expect::kEither, 0,
          ret([&] { return " (NULL, " + to_string(second) + ")"; })),
      ROW(QUILAPI_GetVolumeLabel, (0, nullptr, 0, nullptr), Expect::kEither, 0, ret(" (NULL, NULL)"),
          {}, reader + R"(QUIL_GetVolumeLabel return=-?\d+ \(NULL, NULL\)$)"),
      ROW(QUILAPI_GetVolumeLabel, (0, nullptr, kTooLong, &length), Expect::kEither, 0,
          ret([&] { return " (NULL, " + to_string(length) + ")"; })),
      ROW(QUILAPI_GetVolumeLabel, (0, buffer, 0, nullptr), Expect::kEither, 0, ret(" (\"\", NULL)")),
      ROW(QUILAPI_GetNRTdata, (0, nullptr, nullptr), Expect::kKeepsError, 0, ret(), "(0, NULL, " + kNull + ")",
          reader + R"(QUIL_GetNRTdata\(\d+, NULL, 0{16}\)$)"),
      ROW(QUILAPI_GetNRTdata, (0, &dataRequest, nullptr), Expect::kKeepsError, 0, ret(), "(0, (1, 16), " + kNull + ")"),
      ROW(QUILAPI_GetNRTinfo, (0, nullptr, nullptr), Expect::kKeepsError, 0, ret(), "(0, NULL, " + kNull + ")"),
      ROW(QUILAPI_GetNRTinfo, (0, nullptr, &nrt), Expect::kKeepsError, 0, ret(nrtText), "(0, NULL, " + P(&nrt) + ")"),
      ROW(QUILAPI_GetVolumeInformation, (0, nullptr, nullptr), Expect::kFails, -5, ret(" (NULL, NULL)")),
      ROW(QUILAPI_GetVolumeInformation, (1, nullptr, nullptr), Expect::kFails, -4, ret(" (NULL, NULL)")),
      ROW(QUILAPI_SetVolumeLabel, (0, nullptr, 3), Expect::kFails, -5, ret(), "(0, NULL, 3)"),
      ROW(QUILAPI_SetVolumeLabel, (0, nullptr, kTooLong), Expect::kFails, -5, ret(), "(0, NULL, 4294967295)"),
      ROW(QUILAPI_SetVolumeLabel, (0, nullptr, 0), Expect::kSucceeds, 0, ret(), "(0, NULL, 0)",
          R"(\] E: Changing the volume label finished\. -> New volume label: ?$)"),
      // The writer handle: the library answers or hands the writer its own out-values.
      ROW(QUILAPI_GetClipId, (w, nullptr, 8, nullptr), Expect::kFails, -1,
          ret(" (\"" + nullText(8) + "\", NULL)", " retrun=")),
      ROW(QUILAPI_GetFileSize, (w, nullptr), Expect::kSucceeds, 0, ret(" (NULL)")),
      ROW(QUILAPI_GetFileType, (w, nullptr), Expect::kSucceeds, 0, ret(" (NULL)")),
      ROW(QUILAPI_IsHandleReadable, (w, nullptr), Expect::kSucceeds, 0, readable(w)),
      ROW(QUILAPI_SetFilePointer, (w, 0, nullptr, 0), Expect::kSucceeds, 0, ret(" (NULL)")),
      ROW(QUILAPI_ReadFile, (w, nullptr, 0, nullptr), Expect::kEither, 0, ret(" (NULL)")),
      ROW(QUILAPI_ReadFile, (w, nullptr, 5, nullptr), Expect::kFails, -5, ret(" (NULL)")),
      ROW(QUILAPI_ReadFile, (w, nullptr, kTooLong, &done), Expect::kFails, -5, ret(" (66)")),
      ROW(QUILAPI_WriteFile, (w, nullptr, 0, nullptr), Expect::kEither, 0, ret(" (NULL)")),
      ROW(QUILAPI_WriteFile, (w, nullptr, 5, &done), Expect::kFails, -5, ret(" (66)")),
      ROW(QUILAPI_WriteFile, (w, nullptr, kTooLong, nullptr), Expect::kFails, -5, ret(" (NULL)")),
      // The reader handle: a NULL out-pointer goes to the reader, which answers.
      ROW(QUILAPI_GetClipId, (r, nullptr, 0, nullptr), Expect::kEither, 0, ret(" (\"\", NULL)", " retrun="),
          {}, reader + R"(QUIL_GetClipId retrun=-?\d+ \("", NULL\)$)"),
      ROW(QUILAPI_GetClipId, (r, nullptr, kTooLong, &length), Expect::kEither, 0,
          ret([&] { return " (\"" + nullText(kTooLong) + "\", " + to_string(length) + ")"; }, " retrun=")),
      ROW(QUILAPI_GetFileSize, (r, nullptr), Expect::kEither, 0, ret(" (NULL)"),
          {}, reader + R"(QUIL_GetFileSize return=-?\d+ \(NULL\)$)"),
      // The library asks the reader with a value of its own, so this one succeeds.
      ROW(QUILAPI_GetFileType, (r, nullptr), Expect::kSucceeds, 0, ret(" (NULL)")),
      ROW(QUILAPI_IsHandleReadable, (r, nullptr), Expect::kSucceeds, 0, readable(r)),
      ROW(QUILAPI_SetFilePointer, (r, 0, nullptr, 0), Expect::kEither, 0, ret(" (NULL)"),
          {}, reader + R"(QUIL_SetFilePointer return=-?\d+ \(NULL\)$)"),
      ROW(QUILAPI_ReadFile, (r, nullptr, 0, nullptr), Expect::kEither, 0, ret(" (NULL)"),
          {}, reader + R"(QUIL_ReadFile return=-?\d+ \(NULL\)$)"),
      ROW(QUILAPI_ReadFile, (r, nullptr, kTooLong, nullptr), Expect::kFails, -5, ret(" (NULL)")),
      ROW(QUILAPI_WriteFile, (r, nullptr, 0, nullptr), Expect::kEither, 0, ret(" (NULL)"),
          {}, reader + R"(QUIL_WriteFile return=-?\d+ \(NULL\)$)"),
      ROW(QUILAPI_WriteFile, (r, nullptr, 4, nullptr), Expect::kFails, -5, ret(" (NULL)")),
  };
  runRows(rows);
  EXPECT_EQ(std::u16string(buffer), u"untouched");

  // Nothing above broke a handle, and the NULL label with length 0 emptied the label.
  EXPECT_NE(QUILAPI_CloseHandle(w), 0) << QUILAPI_GetLastError();
  EXPECT_NE(QUILAPI_CloseHandle(r), 0) << QUILAPI_GetLastError();
  EXPECT_NE(QUILAPI_FindClose(f), 0) << QUILAPI_GetLastError();
  ASSERT_NE(QUILAPI_GetVolumeLabel(0, buffer, 16, &length), 0) << QUILAPI_GetLastError();
  EXPECT_EQ(std::u16string(buffer), u"");
}

}  // namespace
