// The shipped library seen through its public header, as any caller sees it:
// results and last errors with no volume open, and the trace and
// operation-log lines that each call leaves in the log file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "quil/quilcoreapi.h"
#include "support/process_log.h"

namespace {

struct LogLine {
  char level = '?';
  std::string text;  // after "[X] [hh:mm:ss:mmm.000] "
  std::string raw;
};

// The lines that `call` appended to the log. A day that turns over during
// the run only adds a file and its "#Date=" header, which are left out.
std::vector<LogLine> linesOf(const std::function<void()>& call) {
  auto all = [] {
    std::vector<std::string> lines = quiltest::processLogLines();
    std::erase_if(lines, [](const std::string& l) { return l.starts_with("#Date="); });
    return lines;
  };
  const size_t before = all().size();
  call();
  static const std::regex prefix(R"(^\[(.)\] \[\d{2}:\d{2}:\d{2}:\d{3}\.000\] )");
  std::vector<LogLine> added;
  const std::vector<std::string> lines = all();
  for (size_t i = before; i < lines.size(); ++i) {
    std::smatch m;
    const bool ok = std::regex_search(lines[i], m, prefix);
    added.push_back({ok ? m[1].str()[0] : '!', ok ? m.suffix().str() : lines[i], lines[i]});
  }
  return added;
}

// A trace line of an export: level letter, process id, the export's source
// line (whichever it is) and name, then exactly `message`.
testing::AssertionResult isTrace(const LogLine& line, char level, const std::string& exportName,
                                 const std::string& message) {
  static const std::regex sourceLine(R"(^(PID:\d+ QUILCOREAPI:)\d+ )");
  const std::string expected = "PID:" + std::to_string(::getpid()) + " QUILCOREAPI:N " + exportName + "() " + message;
  if (line.level == level && std::regex_replace(line.text, sourceLine, "$1N ") == expected) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "\n  actual: " << line.raw << "\nexpected: [" << level << "] " << expected;
}

// "%p" of the Microsoft runtime: 16 upper-case hex digits, no "0x".
std::string P(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%016" PRIXPTR, reinterpret_cast<uintptr_t>(p));
  return text;
}
const std::string kNull = "0000000000000000";

constexpr int32_t kHandle = 5;  // no volume is open, so no handle is known

// ---------------------------------------------------------------------------
// Entry and exit trace lines

// What one call leaves: its result, the entry line "<export><args>", the exit
// line "<export><exit>" (none when `exit` is empty), then `operationLines`.
struct Trace {
  int32_t result;
  std::string args, exit;
  int32_t lastError = -4;
  char entryLevel = 'D';
  size_t operationLines = 0;
  int32_t presetError = 0;  // the last error before the call
};

void expectTrace(const std::string& exportName, const std::function<int32_t()>& call, const Trace& t) {
  QUILAPI_SetLastError(t.presetError);
  int32_t result = 0;
  const std::vector<LogLine> lines = linesOf([&] { result = call(); });
  EXPECT_EQ(result, t.result);
  ASSERT_EQ(lines.size(), (t.exit.empty() ? 1 : 2) + t.operationLines);
  EXPECT_TRUE(isTrace(lines[0], t.entryLevel, exportName, exportName + t.args));
  if (!t.exit.empty()) {
    EXPECT_TRUE(isTrace(lines[1], 'D', exportName, exportName + t.exit));
  }
  EXPECT_EQ(QUILAPI_GetLastError(), t.lastError);
}

#define EXPECT_TRACE(fn, args, ...)                                \
  do {                                                             \
    SCOPED_TRACE(#fn #args);                                       \
    expectTrace(#fn, [&] { return fn args; }, Trace{__VA_ARGS__}); \
  } while (0)

TEST(ExportTrace, ArgumentsAndResults) {
  // An unknown handle has open kind 0: no operation-log line.
  EXPECT_TRACE(QUILAPI_CloseHandle, (-1), 0, "(-1)", " return=0");
  EXPECT_TRACE(QUILAPI_CreateDirectory, (0, u"\\USERDATA\\NEW", nullptr), 0,
               "(0, \"\\USERDATA\\NEW\", " + kNull + ")", " return=0");
  int extra = 0;
  EXPECT_TRACE(QUILAPI_CreateFile, (0, u"\\CLIP\\C0001.MXF", 0x80000000u, 1, nullptr, 3, 0x80, &extra), -1,
               "(0, \"\\CLIP\\C0001.MXF\", 0x80000000, 0x00000001, " + kNull + ", 0x00000003, 0x00000080, " +
                   P(&extra) + ")",
               " return=-1");
  EXPECT_TRACE(QUILAPI_DeleteFile, (0, u"\\USERDATA\\A.TXT"), 0, "(0, \"\\USERDATA\\A.TXT\")", " return=0", -4, 'D', 1);
  EXPECT_TRACE(QUILAPI_FlushVolume, (0), 0, "(0)", " return=0", -4, 'I');
  EXPECT_TRACE(QUILAPI_SetVolumeLabel, (0, u"DISC_LABEL", 4), 0, "(0, \"DISC\", 4)", " return=0", -4, 'D', 1);
  expectTrace("QUILAPI_SetLastError", [] { return QUILAPI_SetLastError(-3010), 0; }, {0, "(-3010)", "", -3010});
}

// Each out-value is filled before the call, so the exit line shows whether
// the frame printed it, and from which pointer. (The NULL variants are in the
// NULL-argument test.)
TEST(ExportTrace, OutValues) {
  int64_t size = -7;
  EXPECT_TRACE(QUILAPI_GetFileSize, (kHandle, &size), 0, "(5, " + P(&size) + ")", " return=0 (-7)");
  int32_t readable = -7;
  EXPECT_TRACE(QUILAPI_IsHandleReadable, (kHandle, &readable), 0, "(5, " + P(&readable) + ")", "(5, -7) return=0");
  int64_t position = 42;
  EXPECT_TRACE(QUILAPI_SetFilePointer, (kHandle, -100, &position, 2), 0, "(5, -100, " + P(&position) + ", 0x00000002)",
               " return=0 (42)");
  uint32_t status = 1, flags = 1;
  EXPECT_TRACE(QUILAPI_GetVolumeInformation, (7, &status, &flags), -1, "(7, " + P(&status) + ", " + P(&flags) + ")",
               " return=-1 (0xFFFFD8F1, 0x00000000)", 0);
  int marker = 0;
  const NrtDataRequest request{18446744073709551615ull, 4000000000u, 0};
  NrtResult nrt{4000000001u, 7, &marker};
  EXPECT_TRACE(QUILAPI_GetNRTdata, (0, &request, &nrt), 0, "(0, (18446744073709551615, 4000000000), " + P(&nrt) + ")",
               " return=0 (4000000001, 7, " + P(&marker) + ")");
  // The buffer is not terminated within its length; what follows must not show.
  struct {
    QUILCHAR buffer[4], after[4];
  } id{{u'C', u'L', u'I', u'P'}, {u'Z', u'Z', u'Z', 0}};
  uint32_t length = 9;
  EXPECT_TRACE(QUILAPI_GetClipId, (kHandle, id.buffer, 4, &length), 0,
               "(5, " + P(id.buffer) + ", 4, " + P(&length) + ")", " retrun=0 (\"CLIP\", 9)");
  uint64_t a = 11, b = 18446744073709551615ull;
  EXPECT_TRACE(QUILAPI_GetVolumeCapacity, (0, &a, &b), 0, "(0, " + P(&a) + ", " + P(&b) + ")",
               " return=0 (11, 18446744073709551615)");

  // The message against buffers of every cut, each filled with '#' first: a
  // missing terminator would show in the exit line, a write past the given
  // length in the unit after it. The required length counts the terminator
  // (and is 1 for no message: LastError.EachThreadHasItsOwn).
  QUILCHAR text[257];
  const struct {
    uint32_t length;
    std::string shown;
  } cuts[] = {{256, "file sharing violation"}, {23, "file sharing violation"}, {22, "file sharing violatio"}, {1, ""}};
  for (const auto& c : cuts) {
    std::fill(std::begin(text), std::end(text), u'#');
    uint32_t required = 0;
    EXPECT_TRACE(QUILAPI_GetLastErrorWithMessage, (text, c.length, &required), -3010,
                 "(" + P(text) + " " + std::to_string(c.length) + " " + P(&required) + ")",
                 " return=-3010 (\"" + c.shown + "\", 23)", -3010, 'D', 0, -3010);
    EXPECT_EQ(text[c.length], u'#') << "written past a length of " << c.length;
  }
  EXPECT_TRACE(QUILAPI_GetLastErrorWithMessage, (text, 5, nullptr), -3010, "(" + P(text) + " 5 " + kNull + ")",
               " return=-3010 (\"file\", NULL)", -3010, 'D', 0, -3010);
}

// The last error is the calling thread's own: a new thread starts with none,
// and what it sets leaves the other threads' alone.
TEST(LastError, EachThreadHasItsOwn) {
  QUILAPI_SetLastError(-4);
  int32_t seen = 1;
  uint32_t seenRequired = 0, required = 0;
  std::thread([&] {
    seen = QUILAPI_GetLastErrorWithMessage(nullptr, 0, &seenRequired);
    QUILAPI_SetLastError(-3010);
  }).join();
  EXPECT_EQ(seen, 0);
  EXPECT_EQ(seenRequired, 1u);
  EXPECT_EQ(QUILAPI_GetLastErrorWithMessage(nullptr, 0, &required), -4);
  EXPECT_EQ(required, 39u) << "the message of -4 is kept";
}

// A name that fills all 64 units without a NUL. The attributes that follow
// it read as a space: a trace that ran past the field would show one.
TEST(ExportTrace, FindDataRecord) {
  QUIL_FIND_DATA d{};
  std::fill(std::begin(d.name), std::end(d.name), u'N');
  d.attributes = 0x20;
  d.time1 = {2024, 5, 3, 14, 9, 8, 7, 6};
  d.time2 = {2023, 12, 0, 31, 23, 59, 58, 999};
  d.time3 = {1, 2, 3, 4, 5, 6, 7, 80};
  d.size = 1234;
  const std::string record = " (\"" + std::string(64, 'N') +
                             "\", 0x00000020, (2024,5/3/14 9:8:7.006), (2023,12/0/31 23:59:58.999), "
                             "(1,2/3/4 5:6:7.080), 1234)";
  EXPECT_TRACE(QUILAPI_FindFirstFile, (0, u"\\*", &d), -1, "(0, \"\\*\", " + P(&d) + ")", " return=-1" + record);
  EXPECT_TRACE(QUILAPI_FindNextFile, (kHandle, &d), 0, "(5, " + P(&d) + ")", " return=0" + record);
}

TEST(ExportTrace, SetDebugModeWritesAndChangesNothing) {
  QUILAPI_SetLastError(-3010);
  EXPECT_TRUE(linesOf([] { QUILAPI_SetDebugMode(1); }).empty());
  EXPECT_TRUE(linesOf([] { QUILAPI_SetDebugMode(0); }).empty());
  EXPECT_EQ(QUILAPI_GetLastError(), -3010);
  EXPECT_EQ(linesOf([] { QUILAPI_GetLastError(); }).size(), 2u) << "debug lines are still written";
}

TEST(ExportTrace, OverlongLineIsCutTo4096Characters) {
  const std::u16string path = u"\\USERDATA\\" + std::u16string(5000, u'p');
  const auto lines = linesOf([&] { QUILAPI_DeleteFile(0, path.c_str()); });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].raw.size(), 4096u);
  EXPECT_TRUE(lines[0].text.starts_with("PID:" + std::to_string(::getpid()) + " QUILCOREAPI:"));
  EXPECT_NE(lines[0].raw.find("QUILAPI_DeleteFile() QUILAPI_DeleteFile(0, \"\\USERDATA\\pppp"), std::string::npos);
  EXPECT_EQ(lines[0].raw.back(), 'p');
  EXPECT_TRUE(isTrace(lines[1], 'D', "QUILAPI_DeleteFile", "QUILAPI_DeleteFile return=0"));
  EXPECT_EQ(lines[2].raw.size(), 4096u);  // the operation-log line holds the path too
  EXPECT_EQ(lines[2].level, '3');
}

// ---------------------------------------------------------------------------
// Results with no volume open

// The exports traced above are checked there, and those with pointer
// arguments in the NULL-argument test.
TEST(ClosedVolume, EveryOtherOperationFailsWithInvalidHandle) {
  const std::pair<const char*, std::function<int32_t()>> cases[] = {
      {"DeleteFileWithHandle", [] { return QUILAPI_DeleteFileWithHandle(kHandle); }},
      {"FindClose", [] { return QUILAPI_FindClose(kHandle); }},
      {"SetEndOfFile", [] { return QUILAPI_SetEndOfFile(kHandle); }},
      {"SetFileSize", [] { return QUILAPI_SetFileSize(kHandle, 10); }},
      {"SetFileTime", [] { return QUILAPI_SetFileTime(kHandle, 0, 0, 0); }},
  };
  for (const auto& [name, call] : cases) {
    SCOPED_TRACE(name);
    QUILAPI_SetLastError(0);
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(QUILAPI_GetLastError(), -4);
  }
}

TEST(ClosedVolume, AFailedCreateVolumeLeavesItsRootPath) {
  _Volume_Param param{};
  // Whatever this test leaves, later tests expect an empty root path.
  struct RestoreRoot {
    _Volume_Param& p;
    ~RestoreRoot() { QUILAPI_CreateVolume(u"", &p); }
  } restore{param};
  // No drive X: here: the driver cannot open its device.
  EXPECT_EQ(QUILAPI_CreateVolume(u"X:", &param), -1);
  EXPECT_EQ(QUILAPI_GetLastError(), -3101);
  // The root path stays until the next volume open: it names the drive and
  // leads every full path, with nothing inserted between.
  const auto deleted = linesOf([] { QUILAPI_DeleteFile(0, u"\\USERDATA\\A.TXT"); });
  ASSERT_EQ(deleted.size(), 3u);
  EXPECT_EQ(deleted[2].text, "X: Deleting the file failed. File: X:\\USERDATA\\A.TXT Error: -4");
}

// ---------------------------------------------------------------------------
// Operation-log lines with no volume open (empty root path: the drive piece is ":")

// The line after the entry and exit lines; `exportName` for lines that carry
// the source position.
void expectOperationLine(const std::function<void()>& call, char level, const std::string& text,
                         const char* exportName = nullptr) {
  const auto lines = linesOf(call);
  SCOPED_TRACE(lines.empty() ? "no line" : lines[0].raw);  // the entry line names the call and its arguments
  ASSERT_EQ(lines.size(), 3u);
  if (exportName != nullptr) {
    EXPECT_TRUE(isTrace(lines[2], level, exportName, text));
  } else {
    EXPECT_EQ(lines[2].level, level);
    EXPECT_EQ(lines[2].text, text);
  }
}

std::function<void()> createClip(uint32_t access, uint32_t disposition) {
  return [=] { QUILAPI_CreateFile(0, u"\\CLIP\\C0001.MXF", access, 0, nullptr, disposition, 0, nullptr); };
}

TEST(OperationLog, FailureLines) {
  const std::string clip = "File: \\CLIP\\C0001.MXF Handle: 0xFFFFFFFF Error: -4";
  expectOperationLine(createClip(0xC0000000u, 2), '3', ": Creating the file failed. " + clip);
  expectOperationLine(createClip(0x40000000u, 1), '3', ": Creating the file failed. " + clip);
  expectOperationLine(createClip(0xC0000000u, 4), 'E', ": Opening the file failed. " + clip, "QUILAPI_CreateFile");
  expectOperationLine(createClip(0x40000000u, 3), 'E', ": Opening the file failed. " + clip, "QUILAPI_CreateFile");
  expectOperationLine([] { QUILAPI_DeleteFile(0, u"\\USERDATA\\A.TXT"); }, '3',
                      ": Deleting the file failed. File: \\USERDATA\\A.TXT Error: -4");
  expectOperationLine([] { QUILAPI_SetFileAttributes(0, u"\\USERDATA\\A.TXT", 1); }, 'E',
                      ": Changing the attribute of the file failed. File: \\USERDATA\\A.TXT Error: -4",
                      "QUILAPI_SetFileAttributes");
  const std::string moved = ": Changing the filename failed. Old file: a -> New file: b Error: -4";
  expectOperationLine([] { QUILAPI_MoveFile(0, u"a", u"b"); }, '3', moved);
  expectOperationLine([] { QUILAPI_MoveFileEx(0, u"a", u"b", 2); }, '3', moved);
  expectOperationLine([] { QUILAPI_SetVolumeLabel(0, nullptr, 3); }, '3',
                      ": Changing the volume label failed. -> New volume label:  Error: -4");
  expectOperationLine([] { QUILAPI_SetVolumeLabel(0, u"DISC_LABEL", 4); }, '3',
                      ": Changing the volume label failed. -> New volume label: DISC Error: -4");
  char buffer[8];
  uint32_t read = 0;
  expectOperationLine([&] { QUILAPI_ReadFile(kHandle, buffer, 8, &read); }, '3',
                      ": Reading the file failed. File:  Handle: 0x00000005 Error: -4");
  expectOperationLine([] { QUILAPI_WriteFile(-2, "x", 1, nullptr); }, '3',
                      ": Writing the file failed. Handle: 0xFFFFFFFE Error: -4");
}

// Files opened for reading alone, or for neither reading nor writing, and
// handles of unknown open kind leave no operation log at all.
TEST(OperationLog, NoLineWithoutWriteAccess) {
  for (const auto& call : {createClip(0x80000000u, 2), createClip(0, 4),
                           std::function<void()>([] { QUILAPI_CloseHandle(kHandle); })}) {
    const auto lines = linesOf(call);
    for (const LogLine& line : lines) EXPECT_EQ(line.level, 'D') << line.raw;
    EXPECT_EQ(lines.size(), 2u) << (lines.empty() ? "" : lines[0].raw);
  }
}

}  // namespace
