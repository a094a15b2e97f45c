// The shipped library seen through its public header, as any caller sees it:
// results and last errors with no volume open, and the trace and
// operation-log lines that each call leaves in the log file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "quil/platform_error.h"
#include "support/process_log.h"
#include "quil/quilcoreapi.h"

namespace {

namespace fs = std::filesystem;

struct LogLine {
  char level = '?';
  std::string text;  // after "[X] [hh:mm:ss:mmm.000] "
  std::string raw;
};

// Every trace line so far; a day that turns over during the run only adds
// a file and its "#Date=" header, which are left out.
std::vector<std::string> allLogLines() {
  std::vector<std::string> lines;
  for (auto& line : quiltest::processLogLines()) {
    if (line.rfind("#Date=", 0) != 0) lines.push_back(std::move(line));
  }
  return lines;
}

LogLine parse(const std::string& raw) {
  static const std::regex prefix(R"(^\[(.)\] \[\d{2}:\d{2}:\d{2}:\d{3}\.000\] )");
  std::smatch m;
  if (!std::regex_search(raw, m, prefix)) return LogLine{'!', raw, raw};
  return LogLine{m[1].str()[0], m.suffix().str(), raw};
}

// The lines that `call` appended to the log.
std::vector<LogLine> linesOf(const std::function<void()>& call) {
  const size_t before = allLogLines().size();
  call();
  const std::vector<std::string> all = allLogLines();
  std::vector<LogLine> added;
  for (size_t i = before; i < all.size(); ++i) added.push_back(parse(all[i]));
  return added;
}

// A trace line of an export: level letter, process id, the export's source
// position and name, then exactly `message`.
testing::AssertionResult isTrace(const LogLine& line, char level, const std::string& exportName,
                                 const std::string& message) {
  static const std::regex shape(R"(^PID:(\d+) QUILCOREAPI:(\d+) (\w+)\(\) (.*)$)");
  std::smatch m;
  if (line.level != level) return testing::AssertionFailure() << "level " << line.level << " in: " << line.raw;
  if (!std::regex_match(line.text, m, shape)) return testing::AssertionFailure() << "no trace prefix: " << line.raw;
  if (m[1].str() != std::to_string(::getpid())) return testing::AssertionFailure() << "pid in: " << line.raw;
  if (m[3].str() != exportName) return testing::AssertionFailure() << "function in: " << line.raw;
  if (m[4].str() != message)
    return testing::AssertionFailure() << "message\n  actual: " << m[4].str() << "\nexpected: " << message;
  return testing::AssertionSuccess();
}

// "%p" of the Microsoft runtime: 16 upper-case hex digits, no "0x".
std::string P(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%016" PRIXPTR, reinterpret_cast<uintptr_t>(p));
  return text;
}

constexpr int32_t kHandle = 5;  // no volume is open, so no handle is known

// ---------------------------------------------------------------------------
// Entry and exit trace lines

struct Traced {
  int32_t result = 0;
  int32_t expectedResult = 0;
  std::string entry;
  std::optional<std::string> exit;  // none for SetLastError
  int32_t lastError = -4;
  char entryLevel = 'D';
  size_t operationLines = 0;  // operation-log lines written after the exit line
};

struct TraceCase {
  const char* name;
  const char* exportName;
  int32_t presetError;
  std::function<Traced()> call;
};

class ExportTrace : public testing::TestWithParam<TraceCase> {};

TEST_P(ExportTrace, WritesExactEntryAndExitLines) {
  const TraceCase& c = GetParam();
  QUILAPI_SetLastError(c.presetError);
  Traced t;
  const std::vector<LogLine> lines = linesOf([&] { t = c.call(); });
  EXPECT_EQ(t.result, t.expectedResult);
  const size_t traceLines = t.exit ? 2 : 1;
  ASSERT_EQ(lines.size(), traceLines + t.operationLines);
  EXPECT_TRUE(isTrace(lines[0], t.entryLevel, c.exportName, t.entry));
  if (t.exit) {
    EXPECT_TRUE(isTrace(lines[1], 'D', c.exportName, *t.exit));
  }
  EXPECT_EQ(QUILAPI_GetLastError(), t.lastError);
}

// A name that fills all 64 units without a NUL. The attributes that follow
// it read as a space: a trace that ran past the field would show one.
QUIL_FIND_DATA fullFindData() {
  QUIL_FIND_DATA d{};
  std::fill(std::begin(d.name), std::end(d.name), u'N');
  d.attributes = 0x20;
  d.time1 = {2024, 5, 3, 14, 9, 8, 7, 6};
  d.time2 = {2023, 12, 0, 31, 23, 59, 58, 999};
  d.time3 = {1, 2, 3, 4, 5, 6, 7, 80};
  d.size = 1234;
  return d;
}

const std::string kFullFindDataText = "(\"" + std::string(64, 'N') +
                                      "\", 0x00000020, (2024,5/3/14 9:8:7.006), (2023,12/0/31 23:59:58.999), "
                                      "(1,2/3/4 5:6:7.080), 1234)";
const std::string kNull = "0000000000000000";

// Each call fills its own out-values before the call, so the exit line shows
// whether the frame printed them, and from which pointer.
std::vector<TraceCase> traceCases() {
  return {
      // An unknown handle has open kind 0: no operation-log line.
      {"CloseHandle", "QUILAPI_CloseHandle", 0,
       [] { return Traced{QUILAPI_CloseHandle(-1), 0, "QUILAPI_CloseHandle(-1)", "QUILAPI_CloseHandle return=0"}; }},
      {"CreateDirectoryNullSecurity", "QUILAPI_CreateDirectory", 0,
       [] {
         return Traced{QUILAPI_CreateDirectory(0, u"\\USERDATA\\NEW", nullptr), 0,
                       "QUILAPI_CreateDirectory(0, \"\\USERDATA\\NEW\", " + kNull + ")",
                       "QUILAPI_CreateDirectory return=0"};
       }},
      {"CreateFileReadOnly", "QUILAPI_CreateFile", 0,
       [] {
         int extra = 0;
         const int32_t r = QUILAPI_CreateFile(0, u"\\CLIP\\C0001.MXF", 0x80000000u, 1, nullptr, 3, 0x80, &extra);
         return Traced{r, -1,
                       "QUILAPI_CreateFile(0, \"\\CLIP\\C0001.MXF\", 0x80000000, 0x00000001, " + kNull +
                           ", 0x00000003, 0x00000080, " + P(&extra) + ")",
                       "QUILAPI_CreateFile return=-1"};
       }},
      {"DeleteFile", "QUILAPI_DeleteFile", 0,
       [] {
         return Traced{QUILAPI_DeleteFile(0, u"\\USERDATA\\A.TXT"), 0, "QUILAPI_DeleteFile(0, \"\\USERDATA\\A.TXT\")",
                       "QUILAPI_DeleteFile return=0", -4, 'D', 1};
       }},
      {"FindFirstFileNullData", "QUILAPI_FindFirstFile", 0,
       [] {
         return Traced{QUILAPI_FindFirstFile(0, u"\\CLIP\\*", nullptr), -1,
                       "QUILAPI_FindFirstFile(0, \"\\CLIP\\*\", " + kNull + ")",
                       "QUILAPI_FindFirstFile return=-1 (NULL)"};
       }},
      {"FindFirstFileRecord", "QUILAPI_FindFirstFile", 0,
       [] {
         QUIL_FIND_DATA d = fullFindData();
         const int32_t r = QUILAPI_FindFirstFile(0, u"\\*", &d);
         return Traced{r, -1, "QUILAPI_FindFirstFile(0, \"\\*\", " + P(&d) + ")",
                       "QUILAPI_FindFirstFile return=-1 " + kFullFindDataText};
       }},
      {"FindNextFileRecord", "QUILAPI_FindNextFile", 0,
       [] {
         QUIL_FIND_DATA d = fullFindData();
         const int32_t r = QUILAPI_FindNextFile(kHandle, &d);
         return Traced{r, 0, "QUILAPI_FindNextFile(5, " + P(&d) + ")",
                       "QUILAPI_FindNextFile return=0 " + kFullFindDataText};
       }},
      {"FlushVolume", "QUILAPI_FlushVolume", 0,
       [] {
         return Traced{QUILAPI_FlushVolume(0), 0, "QUILAPI_FlushVolume(0)", "QUILAPI_FlushVolume return=0", -4, 'I'};
       }},
      {"GetClipId", "QUILAPI_GetClipId", 0,
       [] {
         // The buffer is not terminated within its length; what follows must not show.
         struct {
           QUILCHAR buffer[4] = {u'C', u'L', u'I', u'P'};
           QUILCHAR after[4] = {u'Z', u'Z', u'Z', 0};
         } b;
         uint32_t length = 9;
         const int32_t r = QUILAPI_GetClipId(kHandle, b.buffer, 4, &length);
         return Traced{r, 0, "QUILAPI_GetClipId(5, " + P(b.buffer) + ", 4, " + P(&length) + ")",
                       "QUILAPI_GetClipId retrun=0 (\"CLIP\", 9)"};
       }},
      {"GetFileSize", "QUILAPI_GetFileSize", 0,
       [] {
         int64_t size = -7;
         const int32_t r = QUILAPI_GetFileSize(kHandle, &size);
         return Traced{r, 0, "QUILAPI_GetFileSize(5, " + P(&size) + ")", "QUILAPI_GetFileSize return=0 (-7)"};
       }},
      {"GetFileSizeNull", "QUILAPI_GetFileSize", 0,
       [] {
         return Traced{QUILAPI_GetFileSize(kHandle, nullptr), 0, "QUILAPI_GetFileSize(5, " + kNull + ")",
                       "QUILAPI_GetFileSize return=0 (NULL)"};
       }},
      {"GetLastErrorWithMessageBoth", "QUILAPI_GetLastErrorWithMessage", -3010,
       [] {
         QUILCHAR buffer[256];
         uint32_t required = 0;
         const int32_t r = QUILAPI_GetLastErrorWithMessage(buffer, 256, &required);
         return Traced{r, -3010, "QUILAPI_GetLastErrorWithMessage(" + P(buffer) + " 256 " + P(&required) + ")",
                       "QUILAPI_GetLastErrorWithMessage return=-3010 (\"file sharing violation\", 23)", -3010};
       }},
      {"GetLastErrorWithMessageBufferOnly", "QUILAPI_GetLastErrorWithMessage", -3010,
       [] {
         QUILCHAR buffer[5];
         const int32_t r = QUILAPI_GetLastErrorWithMessage(buffer, 5, nullptr);
         return Traced{r, -3010, "QUILAPI_GetLastErrorWithMessage(" + P(buffer) + " 5 " + kNull + ")",
                       "QUILAPI_GetLastErrorWithMessage return=-3010 (\"file\", NULL)", -3010};
       }},
      {"GetLastErrorWithMessageLengthOnly", "QUILAPI_GetLastErrorWithMessage", -3010,
       [] {
         uint32_t required = 0;
         const int32_t r = QUILAPI_GetLastErrorWithMessage(nullptr, 0, &required);
         return Traced{r, -3010, "QUILAPI_GetLastErrorWithMessage(" + kNull + " 0 " + P(&required) + ")",
                       "QUILAPI_GetLastErrorWithMessage return=-3010 (NULL, 23)", -3010};
       }},
      {"GetLastErrorWithMessageNeither", "QUILAPI_GetLastErrorWithMessage", -3010,
       [] {
         return Traced{QUILAPI_GetLastErrorWithMessage(nullptr, 0, nullptr), -3010,
                       "QUILAPI_GetLastErrorWithMessage(" + kNull + " 0 " + kNull + ")",
                       "QUILAPI_GetLastErrorWithMessage return=-3010 (NULL, NULL)", -3010};
       }},
      {"GetNRTdata", "QUILAPI_GetNRTdata", 0,
       [] {
         int marker = 0;
         const NrtDataRequest request{18446744073709551615ull, 4000000000u, 0};
         NrtResult result{4000000001u, 7, &marker};
         const int32_t r = QUILAPI_GetNRTdata(0, &request, &result);
         return Traced{r, 0, "QUILAPI_GetNRTdata(0, (18446744073709551615, 4000000000), " + P(&result) + ")",
                       "QUILAPI_GetNRTdata return=0 (4000000001, 7, " + P(&marker) + ")"};
       }},
      {"GetVolumeCapacityBoth", "QUILAPI_GetVolumeCapacity", 0,
       [] {
         uint64_t a = 11, b = 18446744073709551615ull;
         const int32_t r = QUILAPI_GetVolumeCapacity(0, &a, &b);
         return Traced{r, 0, "QUILAPI_GetVolumeCapacity(0, " + P(&a) + ", " + P(&b) + ")",
                       "QUILAPI_GetVolumeCapacity return=0 (11, 18446744073709551615)"};
       }},
      {"GetVolumeCapacityFirst", "QUILAPI_GetVolumeCapacity", 0,
       [] {
         uint64_t a = 11;
         const int32_t r = QUILAPI_GetVolumeCapacity(0, &a, nullptr);
         return Traced{r, 0, "QUILAPI_GetVolumeCapacity(0, " + P(&a) + ", " + kNull + ")",
                       "QUILAPI_GetVolumeCapacity return=0 (11, NULL)"};
       }},
      {"GetVolumeCapacitySecond", "QUILAPI_GetVolumeCapacity", 0,
       [] {
         uint64_t b = 22;
         const int32_t r = QUILAPI_GetVolumeCapacity(0, nullptr, &b);
         return Traced{r, 0, "QUILAPI_GetVolumeCapacity(0, " + kNull + ", " + P(&b) + ")",
                       "QUILAPI_GetVolumeCapacity return=0 (NULL, 22)"};
       }},
      {"GetVolumeCapacityNeither", "QUILAPI_GetVolumeCapacity", 0,
       [] {
         return Traced{QUILAPI_GetVolumeCapacity(0, nullptr, nullptr), 0,
                       "QUILAPI_GetVolumeCapacity(0, " + kNull + ", " + kNull + ")",
                       "QUILAPI_GetVolumeCapacity return=0 (NULL, NULL)"};
       }},
      {"GetVolumeInformation", "QUILAPI_GetVolumeInformation", 0,
       [] {
         uint32_t status = 1, flags = 1;
         const int32_t r = QUILAPI_GetVolumeInformation(7, &status, &flags);
         return Traced{r, -1, "QUILAPI_GetVolumeInformation(7, " + P(&status) + ", " + P(&flags) + ")",
                       "QUILAPI_GetVolumeInformation return=-1 (0xFFFFD8F1, 0x00000000)", 0};
       }},
      {"IsHandleReadable", "QUILAPI_IsHandleReadable", 0,
       [] {
         int32_t readable = -7;
         const int32_t r = QUILAPI_IsHandleReadable(kHandle, &readable);
         return Traced{r, 0, "QUILAPI_IsHandleReadable(5, " + P(&readable) + ")",
                       "QUILAPI_IsHandleReadable(5, -7) return=0"};
       }},
      {"IsHandleReadableNull", "QUILAPI_IsHandleReadable", 0,
       [] {
         return Traced{QUILAPI_IsHandleReadable(kHandle, nullptr), 0, "QUILAPI_IsHandleReadable(5, " + kNull + ")",
                       "QUILAPI_IsHandleReadable(5, NULL) return=0"};
       }},
      {"SetFilePointer", "QUILAPI_SetFilePointer", 0,
       [] {
         int64_t position = 42;
         const int32_t r = QUILAPI_SetFilePointer(kHandle, -100, &position, 2);
         return Traced{r, 0, "QUILAPI_SetFilePointer(5, -100, " + P(&position) + ", 0x00000002)",
                       "QUILAPI_SetFilePointer return=0 (42)"};
       }},
      {"SetLastError", "QUILAPI_SetLastError", 0,
       [] {
         QUILAPI_SetLastError(-3010);
         return Traced{0, 0, "QUILAPI_SetLastError(-3010)", std::nullopt, -3010};
       }},
      {"SetVolumeLabelNull", "QUILAPI_SetVolumeLabel", 0,
       [] {
         return Traced{QUILAPI_SetVolumeLabel(0, nullptr, 3), 0, "QUILAPI_SetVolumeLabel(0, NULL, 3)",
                       "QUILAPI_SetVolumeLabel return=0", -4, 'D', 1};
       }},
      {"SetVolumeLabelCutByLength", "QUILAPI_SetVolumeLabel", 0,
       [] {
         return Traced{QUILAPI_SetVolumeLabel(0, u"DISC_LABEL", 4), 0, "QUILAPI_SetVolumeLabel(0, \"DISC\", 4)",
                       "QUILAPI_SetVolumeLabel return=0", -4, 'D', 1};
       }},
  };
}

INSTANTIATE_TEST_SUITE_P(Exports, ExportTrace, testing::ValuesIn(traceCases()),
                         [](const testing::TestParamInfo<TraceCase>& info) { return std::string(info.param.name); });

TEST(ExportTrace, SetDebugModeWritesAndChangesNothing) {
  QUILAPI_SetLastError(-3010);
  EXPECT_TRUE(linesOf([] { QUILAPI_SetDebugMode(1); }).empty());
  EXPECT_TRUE(linesOf([] { QUILAPI_SetDebugMode(0); }).empty());
  EXPECT_EQ(QUILAPI_GetLastError(), -3010);
  // Debug lines are still written afterwards.
  EXPECT_EQ(linesOf([] { QUILAPI_GetLastError(); }).size(), 2u);
}

TEST(ExportTrace, ThreadWindowsErrorSurvivesWrittenLines) {
  QUILPlatform_SetLastError(1234);
  const auto lines = linesOf([] { QUILAPI_DeleteFile(0, u"\\USERDATA\\A.TXT"); });
  EXPECT_EQ(lines.size(), 3u);
  EXPECT_EQ(QUILPlatform_GetLastError(), 1234u);
}

TEST(ExportTrace, OverlongLineIsCutTo4096Characters) {
  const std::u16string path = u"\\USERDATA\\" + std::u16string(5000, u'p');
  const auto lines = linesOf([&] { QUILAPI_DeleteFile(0, path.c_str()); });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].raw.size(), 4096u);
  EXPECT_EQ(lines[0].text.rfind("PID:" + std::to_string(::getpid()) + " QUILCOREAPI:", 0), 0u);
  EXPECT_NE(lines[0].raw.find("QUILAPI_DeleteFile() QUILAPI_DeleteFile(0, \"\\USERDATA\\pppp"), std::string::npos);
  EXPECT_EQ(lines[0].raw.back(), 'p');
  EXPECT_TRUE(isTrace(lines[1], 'D', "QUILAPI_DeleteFile", "QUILAPI_DeleteFile return=0"));
  EXPECT_EQ(lines[2].raw.size(), 4096u);  // the operation-log line holds the path too
  EXPECT_EQ(lines[2].level, '3');
}

// ---------------------------------------------------------------------------
// Results with no volume open

struct ClosedCase {
  const char* name;
  std::function<int32_t()> call;
  int32_t failure;
};

TEST(ClosedVolume, EveryOperationFailsWithInvalidHandle) {
  QUIL_FIND_DATA data{};
  int64_t i64 = 0;
  uint32_t u32 = 0;
  int32_t i32 = 0;
  uint64_t a = 0, b = 0;
  char bytes[16] = {};
  QUILCHAR text[16] = {};
  NrtResult result{};
  const NrtDataRequest dataRequest{};
  const NrtInfoRequest infoRequest{};
  const std::vector<ClosedCase> cases = {
      {"CloseHandle", [&] { return QUILAPI_CloseHandle(kHandle); }, 0},
      {"CloseVolume", [&] { return QUILAPI_CloseVolume(0); }, 0},
      {"CreateDirectory", [&] { return QUILAPI_CreateDirectory(0, u"\\USERDATA\\D", nullptr); }, 0},
      {"CreateFile", [&] { return QUILAPI_CreateFile(0, u"\\CLIP\\A", 0xC0000000u, 0, nullptr, 2, 0, nullptr); }, -1},
      {"DeleteFile", [&] { return QUILAPI_DeleteFile(0, u"\\USERDATA\\A"); }, 0},
      {"DeleteFileWithHandle", [&] { return QUILAPI_DeleteFileWithHandle(kHandle); }, 0},
      {"FindClose", [&] { return QUILAPI_FindClose(kHandle); }, 0},
      {"FindFirstFile", [&] { return QUILAPI_FindFirstFile(0, u"\\*", &data); }, -1},
      {"FindNextFile", [&] { return QUILAPI_FindNextFile(kHandle, &data); }, 0},
      {"FlushVolume", [&] { return QUILAPI_FlushVolume(0); }, 0},
      {"GetClipId", [&] { return QUILAPI_GetClipId(kHandle, text, 16, &u32); }, 0},
      {"GetFileAttributes", [&] { return QUILAPI_GetFileAttributes(0, u"\\CLIP", &u32); }, 0},
      {"GetFileSize", [&] { return QUILAPI_GetFileSize(kHandle, &i64); }, 0},
      {"GetFileType", [&] { return QUILAPI_GetFileType(kHandle, &u32); }, 0},
      {"GetNRTdata", [&] { return QUILAPI_GetNRTdata(0, &dataRequest, &result); }, 0},
      {"GetNRTinfo", [&] { return QUILAPI_GetNRTinfo(0, &infoRequest, &result); }, 0},
      {"GetVolumeCapacity", [&] { return QUILAPI_GetVolumeCapacity(0, &a, &b); }, 0},
      {"GetVolumeLabel", [&] { return QUILAPI_GetVolumeLabel(0, text, 16, &u32); }, 0},
      {"IsHandleReadable", [&] { return QUILAPI_IsHandleReadable(kHandle, &i32); }, 0},
      {"MoveFile", [&] { return QUILAPI_MoveFile(0, u"\\USERDATA\\A", u"\\USERDATA\\B"); }, 0},
      {"MoveFileEx", [&] { return QUILAPI_MoveFileEx(0, u"\\USERDATA\\A", u"\\USERDATA\\B", 1); }, 0},
      {"ReadFile", [&] { return QUILAPI_ReadFile(kHandle, bytes, 16, &u32); }, 0},
      {"RemoveDirectory", [&] { return QUILAPI_RemoveDirectory(0, u"\\USERDATA\\D"); }, 0},
      {"SetEndOfFile", [&] { return QUILAPI_SetEndOfFile(kHandle); }, 0},
      {"SetFileAttributes", [&] { return QUILAPI_SetFileAttributes(0, u"\\USERDATA\\A", 1); }, 0},
      {"SetFilePointer", [&] { return QUILAPI_SetFilePointer(kHandle, 0, &i64, 0); }, 0},
      {"SetFileSize", [&] { return QUILAPI_SetFileSize(kHandle, 10); }, 0},
      {"SetFileTime", [&] { return QUILAPI_SetFileTime(kHandle, 0, 0, 0); }, 0},
      {"SetVolumeLabel", [&] { return QUILAPI_SetVolumeLabel(0, u"L", 1); }, 0},
      {"WriteFile", [&] { return QUILAPI_WriteFile(kHandle, bytes, 16, &u32); }, 0},
  };
  for (const ClosedCase& c : cases) {
    SCOPED_TRACE(c.name);
    QUILAPI_SetLastError(0);
    EXPECT_EQ(c.call(), c.failure);
    EXPECT_EQ(QUILAPI_GetLastError(), -4);
  }
}

std::string lastErrorMessage() {
  QUILCHAR buffer[256];
  QUILAPI_GetLastErrorWithMessage(buffer, 256, nullptr);
  std::string out;
  for (const QUILCHAR* p = buffer; *p != 0; ++p) out.push_back(static_cast<char>(*p));
  return out;
}

TEST(ClosedVolume, VolumeInformationAndFailedCreateVolume) {
  for (int32_t vol : {0, 7}) {
    SCOPED_TRACE(vol);
    uint32_t status = 1, flags = 1;
    EXPECT_EQ(QUILAPI_GetVolumeInformation(vol, &status, &flags), -1);
    EXPECT_EQ(static_cast<int32_t>(status), -9999);
    EXPECT_EQ(flags, 0u);
  }
  uint32_t untouched = 0x55;
  QUILAPI_SetLastError(0);
  EXPECT_EQ(QUILAPI_GetVolumeInformation(0, nullptr, &untouched), 0);
  EXPECT_EQ(QUILAPI_GetLastError(), -5);
  EXPECT_EQ(untouched, 0x55u);
  QUILAPI_SetLastError(0);
  EXPECT_EQ(QUILAPI_GetVolumeInformation(0, &untouched, nullptr), 0);
  EXPECT_EQ(QUILAPI_GetLastError(), -5);
  EXPECT_EQ(untouched, 0x55u);

  _Volume_Param param{};
  // Whatever this test leaves, later tests expect an empty root path.
  struct RestoreRoot {
    _Volume_Param& p;
    ~RestoreRoot() { QUILAPI_CreateVolume(u"", &p); }
  } restore{param};
  int32_t created = 0;
  const auto lines = linesOf([&] { created = QUILAPI_CreateVolume(u"X:", &param); });
  EXPECT_EQ(created, -1);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(isTrace(lines.back(), 'D', "QUILAPI_CreateVolume", "QUILAPI_CreateVolume return=-1"));
  EXPECT_EQ(QUILAPI_GetLastError(), -9999);
  EXPECT_EQ(lastErrorMessage(), "Not implemented.");

  uint32_t status = 0, flags = 1;
  EXPECT_EQ(QUILAPI_GetVolumeInformation(0, &status, &flags), -1);
  EXPECT_EQ(static_cast<int32_t>(status), -9999);
  // The root path stays until the next volume open: it names the drive and
  // leads every full path, with nothing inserted between.
  const auto deleted = linesOf([] { QUILAPI_DeleteFile(0, u"\\USERDATA\\A.TXT"); });
  ASSERT_EQ(deleted.size(), 3u);
  EXPECT_EQ(deleted[2].text, "X: Deleting the file failed. File: X:\\USERDATA\\A.TXT Error: -4");
}

// ---------------------------------------------------------------------------
// Operation-log lines with no volume open (empty root path: the drive piece is ":")

struct OperationCase {
  const char* name;
  const char* exportName;  // set for lines that carry the source position
  char level;
  std::function<void()> call;
  std::string text;
};

class OperationLog : public testing::TestWithParam<OperationCase> {};

TEST_P(OperationLog, FailureLine) {
  const OperationCase& c = GetParam();
  const auto lines = linesOf(c.call);
  ASSERT_EQ(lines.size(), 3u);  // entry, exit, then the operation-log line
  if (c.exportName != nullptr) {
    EXPECT_TRUE(isTrace(lines[2], c.level, c.exportName, c.text));
  } else {
    EXPECT_EQ(lines[2].level, c.level);
    EXPECT_EQ(lines[2].text, c.text);
  }
}

const std::string kClip = "File: \\CLIP\\C0001.MXF Handle: 0xFFFFFFFF Error: -4";

INSTANTIATE_TEST_SUITE_P(
    NoVolume, OperationLog,
    testing::Values(
        OperationCase{"CreateAlways", nullptr, '3',
                      [] { QUILAPI_CreateFile(0, u"\\CLIP\\C0001.MXF", 0xC0000000u, 0, nullptr, 2, 0, nullptr); },
                      ": Creating the file failed. " + kClip},
        OperationCase{"CreateNew", nullptr, '3',
                      [] { QUILAPI_CreateFile(0, u"\\CLIP\\C0001.MXF", 0x40000000u, 0, nullptr, 1, 0, nullptr); },
                      ": Creating the file failed. " + kClip},
        OperationCase{"OpenAlways", "QUILAPI_CreateFile", 'E',
                      [] { QUILAPI_CreateFile(0, u"\\CLIP\\C0001.MXF", 0xC0000000u, 0, nullptr, 4, 0, nullptr); },
                      ": Opening the file failed. " + kClip},
        OperationCase{"OpenExistingWriteOnly", "QUILAPI_CreateFile", 'E',
                      [] { QUILAPI_CreateFile(0, u"\\CLIP\\C0001.MXF", 0x40000000u, 0, nullptr, 3, 0, nullptr); },
                      ": Opening the file failed. " + kClip},
        OperationCase{"DeleteFile", nullptr, '3', [] { QUILAPI_DeleteFile(0, u"\\USERDATA\\A.TXT"); },
                      ": Deleting the file failed. File: \\USERDATA\\A.TXT Error: -4"},
        OperationCase{"SetFileAttributes", "QUILAPI_SetFileAttributes", 'E',
                      [] { QUILAPI_SetFileAttributes(0, u"\\USERDATA\\A.TXT", 1); },
                      ": Changing the attribute of the file failed. File: \\USERDATA\\A.TXT Error: -4"},
        OperationCase{"MoveFile", nullptr, '3', [] { QUILAPI_MoveFile(0, u"a", u"b"); },
                      ": Changing the filename failed. Old file: a -> New file: b Error: -4"},
        OperationCase{"MoveFileEx", nullptr, '3', [] { QUILAPI_MoveFileEx(0, u"a", u"b", 2); },
                      ": Changing the filename failed. Old file: a -> New file: b Error: -4"},
        OperationCase{"SetVolumeLabelNull", nullptr, '3', [] { QUILAPI_SetVolumeLabel(0, nullptr, 3); },
                      ": Changing the volume label failed. -> New volume label:  Error: -4"},
        OperationCase{"SetVolumeLabel", nullptr, '3', [] { QUILAPI_SetVolumeLabel(0, u"DISC_LABEL", 4); },
                      ": Changing the volume label failed. -> New volume label: DISC Error: -4"},
        OperationCase{"ReadFile", nullptr, '3',
                      [] {
                        char buffer[8];
                        uint32_t read = 0;
                        QUILAPI_ReadFile(kHandle, buffer, 8, &read);
                      },
                      ": Reading the file failed. File:  Handle: 0x00000005 Error: -4"},
        OperationCase{"WriteFile", nullptr, '3', [] { QUILAPI_WriteFile(-2, "x", 1, nullptr); },
                      ": Writing the file failed. Handle: 0xFFFFFFFE Error: -4"}),
    [](const testing::TestParamInfo<OperationCase>& info) { return std::string(info.param.name); });

// Files opened for reading alone, or for neither reading nor writing, and
// handles of unknown open kind leave no operation log at all.
TEST(OperationLog, NoLineWithoutWriteAccess) {
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"ReadOnly", [] { QUILAPI_CreateFile(0, u"\\CLIP\\C0001.MXF", 0x80000000u, 0, nullptr, 2, 0, nullptr); }},
      {"NoAccess", [] { QUILAPI_CreateFile(0, u"\\CLIP\\C0001.MXF", 0, 0, nullptr, 4, 0, nullptr); }},
      {"CloseUnknownHandle", [] { QUILAPI_CloseHandle(kHandle); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    const auto lines = linesOf(call);
    ASSERT_EQ(lines.size(), 2u);
    for (const LogLine& line : lines) EXPECT_EQ(line.level, 'D') << line.raw;
  }
}

}  // namespace
