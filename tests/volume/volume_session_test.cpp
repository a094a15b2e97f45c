// The volume session end to end through the exports on a fresh emulated
// disc: opening and closing with the disc metadata, create and open with
// the sharing rules, read, write and close with what close reports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>
#include <string>

#include "support/pipe_server.h"
#include "volume/emulated_volume.h"

namespace voltest {
namespace {

using quil::emulator::Fault;

using Session = EmulatedVolume;

TEST_F(Session, RecordsAClipAndUserDataAndReadsThemBack) {
  ASSERT_EQ(openVolume(params(2)), 0);
  EXPECT_EQ(volumeInformation().first, 0);
  const std::string clip = pattern(300 * 1024 + 17, 1);
  const int32_t h = openFile(u"\\CLIP\\C0001.MXF", kWrite, kCreateNew);
  ASSERT_EQ(h, 1);
  ASSERT_TRUE(writeAll(h, clip));
  int32_t readable = 7;
  EXPECT_EQ(QUILAPI_IsHandleReadable(h, &readable), -1);
  EXPECT_EQ(readable, 0) << "a clip being written cannot be read back";
  char byte;
  uint32_t read = 0;
  EXPECT_EQ(refusal(QUILAPI_ReadFile(h, &byte, 1, &read)), -3005);
  ASSERT_NE(QUILAPI_CloseHandle(h), 0);

  const auto journal = quil::emulator::takeJournal();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal.back().function, "QUIL_NotifyCreateFile");
  EXPECT_EQ(journal.back().status, 0u);
  EXPECT_EQ(journal.back().path, u"\\Clip\\C0001.MXF");

  const int32_t r = openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 1);
  ASSERT_EQ(r, 2) << "handle numbers keep rising";
  EXPECT_EQ(readAll(r), clip);
  int64_t size = 0;
  EXPECT_NE(QUILAPI_GetFileSize(r, &size), 0);
  EXPECT_EQ(size, static_cast<int64_t>(clip.size()));
  EXPECT_NE(QUILAPI_CloseHandle(r), 0);

  const std::string notes = pattern(5000, 2);
  const int32_t w = openFile(u"\\USERDATA\\notes.txt", kRead | kWrite, kCreateAlways);
  ASSERT_NE(w, -1) << QUILAPI_GetLastError();
  ASSERT_TRUE(writeAll(w, notes));
  int64_t position = -1;
  EXPECT_NE(QUILAPI_SetFilePointer(w, 10, &position, 0), 0);
  EXPECT_EQ(position, 10);
  EXPECT_EQ(readAll(w), notes.substr(10)) << "user data opened to write reads back through the writer";
  EXPECT_NE(QUILAPI_CloseHandle(w), 0);
  EXPECT_EQ(hostBytes("USERDATA/notes.txt"), notes);

  const auto log = logLines("123");
  EXPECT_TRUE(contains(log, "1 E: Creating the file started. File: E:\\CLIP\\C0001.MXF Handle: 0x00000001"));
  EXPECT_TRUE(contains(log, "1 E: Closing the file finished. Handle: 0x00000001"));
  EXPECT_FALSE(contains(log, "Handle: 0x00000002")) << "reading alone leaves no operation log";
  EXPECT_EQ(QUILAPI_CloseVolume(0), -1);
  EXPECT_EQ(refusal(QUILAPI_CloseVolume(0)), -4);
}

TEST_F(Session, ClosingTheVolumeEndsEveryHandle) {
  ASSERT_EQ(openVolume(), 0);
  EXPECT_EQ(refusal(openVolume(), -1), -3001) << "a second open";
  EXPECT_EQ(volumeInformation().first, 0) << "a refused second open leaves the status";
  record(u"\\CLIP\\C0001.MXF", pattern(1000, 3));
  const int32_t reader = openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 1);
  const int32_t writer = openFile(u"\\USERDATA\\open.txt", kWrite, kCreateAlways);
  ASSERT_NE(reader, -1);
  ASSERT_TRUE(writeAll(writer, "kept"));
  EXPECT_EQ(QUILAPI_CloseVolume(0), -1);
  EXPECT_EQ(refusal(QUILAPI_CloseHandle(reader)), -4);
  EXPECT_EQ(hostBytes("USERDATA/open.txt"), "kept");
  ASSERT_EQ(openVolume(), 0) << "the disc opens again: nothing was left behind";
}

// Handle numbers never wrap: at the top of the range the create and the
// find-first are refused with a message, and what they had acquired on
// the reader's or writer's side is given back.
TEST_F(Session, HandleNumbersRunOutWithoutWrapping) {
  ::setenv("QUIL_TEST_FIRST_HANDLE", "2147483644", 1);
  ASSERT_EQ(openVolume(), 0);
  ::unsetenv("QUIL_TEST_FIRST_HANDLE");
  record(u"\\CLIP\\C0001.MXF", pattern(100, 1));  // takes 2147483644
  const int32_t reader = openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 1);
  EXPECT_EQ(reader, 2147483645);
  FindData entry{};
  const int32_t find = QUILAPI_FindFirstFile(0, u"\\CLIP\\*", &entry);
  EXPECT_EQ(find, 2147483646);
  const std::pair<const char*, std::function<int32_t()>> refused[] = {
      {"write open", [] { return openFile(u"\\USERDATA\\held.txt", kWrite, kCreateAlways); }},
      {"read open", [] { return openFile(u"\\CLIP\\C0001M01.XML", kRead, kOpenExisting, 1); }},
      {"clip read", [] { return openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 1); }},
      {"find", [&] { return QUILAPI_FindFirstFile(0, u"\\CLIP\\*", &entry); }},
  };
  for (const auto& [what, call] : refused) {
    EXPECT_EQ(refusal(call(), -1), -1) << what;
    QUILCHAR message[256] = {};
    QUILAPI_GetLastErrorWithMessage(message, 256, nullptr);
    EXPECT_NE(std::u16string(message).find(u"No handle numbers are left"), std::u16string::npos) << what;
  }
  EXPECT_EQ(QUILAPI_CloseHandle(reader), -1);
  EXPECT_NE(QUILAPI_FindClose(find), 0);
  EXPECT_EQ(QUILAPI_CloseVolume(0), -1);
  // Nothing was left open: the refused writer's file can be written again,
  // with no sharing, by a new session.
  ASSERT_EQ(openVolume(), 0);
  const int32_t writer = openFile(u"\\USERDATA\\held.txt", kWrite, kOpenExisting);
  EXPECT_EQ(writer, 1) << "numbers start at 1 again";
  EXPECT_EQ(QUILAPI_CloseHandle(writer), -1);
}

// A process may end with its volume and files still open: the library lets
// go of them at unload, after the sibling libraries' own state.
TEST_F(Session, ExitingWithTheVolumeOpenIsClean) {
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    alarm(60);  // a hang fails the test instead of stalling the run
    FindData entry{};
    const bool opened = openVolume() == 0 && openFile(u"\\SYSPRO.XML", kRead, kOpenExisting, 1) != -1 &&
                        QUILAPI_FindFirstFile(0, u"\\*", &entry) != -1 &&
                        writeAll(openFile(u"\\CLIP\\C0001.MXF", kWrite, kCreateNew), "abc");
    if (!opened) _exit(3);
    std::exit(0);  // static destructors run
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---------------------------------------------------------------------------
// Sharing

class Sharing : public AttemptTable {};

TEST_P(Sharing, Table) { runRow(-1); }

INSTANTIATE_TEST_SUITE_P(
    Volume, Sharing,
    ::testing::Values(
        Attempt{"MetadataWriterBlocksClipReader", keepOpen(u"\\CLIP\\C0001M01.XML", kWrite, kOpenExisting),
                [] { return openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting); }, -8},
        Attempt{"ClipBeingWrittenMayBeRead", keepOpen(u"\\CLIP\\C0002.MXF", kWrite, kCreateNew),
                [] { return openFile(u"\\CLIP\\C0002.MXF", kRead, kOpenExisting, 3); }, 0},
        Attempt{"SecondWriter", keepOpen(u"\\CLIP\\C0002.MXF", kWrite, kCreateNew),
                [] { return openFile(u"\\CLIP\\C0003.MXF", kWrite, kCreateNew); }, -8},
        Attempt{"SameClipTwice", keepOpen(u"\\CLIP\\C0002.MXF", kWrite, kCreateNew),
                [] { return openFile(u"\\CLIP\\C0002.MXF", kWrite, kCreateNew); }, -3010},
        Attempt{"NonSharingMetadataReader", keepOpen(u"\\CLIP\\C0001M01.XML", kRead, kOpenExisting, 1),
                [] { return openFile(u"\\CLIP\\C0001M01.XML", kWrite, kOpenExisting); }, -3010},
        Attempt{"MediaProfileWaitsForAComponentBeingWritten", keepOpen(u"\\COMPONENT\\P0001.MXF", kWrite, kCreateNew),
                [] { return openFile(u"\\MEDIAPRO.XML", kRead, kOpenExisting, 1); }, -8},
        Attempt{"MediaProfileIsNotWritable", nothing,
                [] { return openFile(u"\\MEDIAPRO.XML", kWrite, kOpenExisting); }, -3005},
        Attempt{"AliasNeedsItsFlag", nothing, [] { return openFile(u"\\ALIAS.XML", kWrite, kOpenExisting); }, -3005},
        Attempt{"DispositionFive", nothing, [] { return openFile(u"\\CLIP\\C0002.MXF", kWrite, 5); }, -5},
        Attempt{"FifthGeneralWriter",
                [] {
                  for (const char16_t* p : {u"\\GENERAL\\g1", u"\\GENERAL\\g2", u"\\GENERAL\\g3", u"\\GENERAL\\g4"}) {
                    keepOpen(p, kWrite, kCreateAlways)();
                  }
                },
                [] { return openFile(u"\\GENERAL\\g5", kWrite, kCreateAlways); }, -3010},
        Attempt{"UserDataWriterBlocksGeneralWriter", keepOpen(u"\\USERDATA\\u", kWrite, kCreateAlways),
                [] { return openFile(u"\\GENERAL\\g", kWrite, kCreateAlways); }, -8},
        Attempt{"ReadOnlyCreateOfUserDataCountsAsWriting", keepOpen(u"\\USERDATA\\new.txt", kRead, kCreateNew),
                [] { return openFile(u"\\USERDATA\\new.txt", kRead, kOpenExisting); }, -3010},
        Attempt{"NoAccessAtAll", nothing, [] { return openFile(u"\\CLIP\\C0001.MXF", 0, kOpenExisting); }, -5},
        Attempt{"UnknownPath", nothing, [] { return openFile(u"\\NOWHERE\\x", kRead, kOpenExisting); }, -9}),
    rowName);

// ---------------------------------------------------------------------------
// Write protection and the disc metadata (the codes of each write-protect
// bit: volume_namespace_test, WriteProtectionBitsDecideTheCode)

struct NotWritable : EmulatedVolume { NotWritable() { medium_.writable = false; } };

TEST_F(NotWritable, WritesAreRefusedAndReadsWork) {
  ASSERT_EQ(openVolume(), 0);
  EXPECT_NE(volumeInformation().second & 0x10u, 0u);
  EXPECT_EQ(refusal(openFile(u"\\CLIP\\C0001.MXF", kWrite, kCreateNew), -1), -3012);
  EXPECT_FALSE(readAll(openFile(u"\\INDEX.XML", kRead, kOpenExisting, 1)).empty());
}

// A broken DISCMETA.XML is rewritten from the template at the open, its date
// with the zone designator in the zones a drive meets.
TEST_F(Session, BrokenDiscMetaIsRewrittenFromTheTemplate) {
  struct ResetZone { ~ResetZone() { unsetenv("TZ"); tzset(); } } resetZone;
  for (const auto& [zone, designator] : {std::pair{"UTC", "Z"}, std::pair{"Asia/Tokyo", "+09:00"},
                                         std::pair{"EST5", "-05:00"},
                                         // daylight time all year: one hour towards east
                                         std::pair{"EST5EDT,0/0,J365/25", "-04:00"}}) {
    SCOPED_TRACE(zone);
    setenv("TZ", zone, 1);
    tzset();
    putHostBytes("DISCMETA.XML", "<not a disc metadata file");
    quil::emulator::takeJournal();
    ASSERT_EQ(openVolume(), 0) << QUILAPI_GetLastError();
    const std::string meta = hostBytes("DISCMETA.XML");
    EXPECT_TRUE(meta.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<DiscMeta xmlns=\"urn:schemas-orbelDisc:discMeta:ver.1.10\"")) << meta;
    // The identifier the AV-tree check gave (a new one: the old file is unreadable).
    EXPECT_NE(meta.find("\t<KeldaIdRef value=\"urn:smpte:umid:"), std::string::npos) << meta;
    const std::string key = "\t<InitializedDate value=\"";
    const size_t date = meta.find(key);
    ASSERT_NE(date, std::string::npos);
    // "YYYY-MM-DDThh:mm:ss" and the zone.
    const std::string value = meta.substr(date + key.size(), meta.find('\n', date) - date - key.size());
    const std::string suffix = std::string(designator) + "\"/>";
    EXPECT_EQ(value.size(), 19 + suffix.size()) << value;
    EXPECT_EQ(value.substr(19), suffix) << value;
    EXPECT_EQ(value[4], '-');
    EXPECT_EQ(value[10], 'T');
    const auto journal = quil::emulator::takeJournal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.front().function, "QUIL_NotifyCreateFile");
    EXPECT_EQ(journal.front().path, u"\\DISCMETA.XML");
    EXPECT_EQ(QUILAPI_CloseVolume(0), -1);
  }
  const auto log = logLines();
  EXPECT_TRUE(contains(log, "parse Discmeta error"));
  EXPECT_TRUE(contains(log, "DISCMETA.XML rewrite successed for broken DISCMETA.XML"));
}

struct RecordableOnly : EmulatedVolume { RecordableOnly() { medium_.mediumType = 'R'; medium_.writeOnce = true; } };

TEST_F(RecordableOnly, BrokenDiscMetaThatMayNotBeRewrittenFailsTheOpen) {
  putHostBytes("DISCMETA.XML", "broken");
  EXPECT_EQ(refusal(openVolume(), -1), -4001);
  EXPECT_EQ(volumeInformation().first, -4001);
  EXPECT_EQ(hostBytes("DISCMETA.XML"), "broken");
  EXPECT_TRUE(contains(logLines(), "DISCMETA.XML not rewritable because MediumType=0x52, WriteProtectFlag=0x0, "
                                   "Quil23Mode=OFF & is23modeCheckOK=true"));
}

// ---------------------------------------------------------------------------
// Duplicated names, stopped recordings and failed closes reach the utility

// The one message the utility got over the close-error pipe.
void expectOneMessage(quiltest::PipeServer& utility, uint32_t type, const std::u16string& fileName) {
  const auto messages = utility.waitFor(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].type, type);
  EXPECT_EQ(messages[0].drive, u'E');
  EXPECT_EQ(messages[0].fileName, fileName);
}

TEST_F(Session, DuplicatedNamesAreRenamedAndReported) {
  putHostBytes("USERDATA/keep", "");
  putHostBytes("CLIP/C0007.MXF", "first");
  putHostBytes("CLIP/c0007.mxf", "second");
  setenv("QUIL_ACTIVE_SESSION", "4", 1);
  quiltest::PipeServer utility(pipeFolder().string(), 4);
  ASSERT_EQ(openVolume(), 0) << QUILAPI_GetLastError();
  expectOneMessage(utility, 2, u"");
  const auto log = logLines("1");
  ASSERT_TRUE(contains(log, "1 E: Changing the duplicated filename finished. Old file: E:\\CLIP\\")) << log.size();
  EXPECT_TRUE(contains(logLines(), "ALIAS.XML rewrite successed"));
}

struct ShortClips : EmulatedVolume { ShortClips() { medium_.clipLimit = 1000; } };

TEST_F(ShortClips, StoppedRecordingIsLoggedAndReported) {
  setenv("QUIL_ACTIVE_SESSION", "2", 1);
  quiltest::PipeServer utility(pipeFolder().string(), 2);
  ASSERT_EQ(openVolume(), 0);
  const int32_t h = openFile(u"\\CLIP\\C0001.MXF", kWrite, kCreateNew);
  uint32_t written = 0;
  EXPECT_NE(QUILAPI_WriteFile(h, pattern(4096, 6).data(), 4096, &written), 0);
  EXPECT_EQ(written, 1000u);
  EXPECT_NE(QUILAPI_CloseHandle(h), 0);
  expectOneMessage(utility, 1, u"C0001.MXF");
  EXPECT_TRUE(contains(logLines("2"), "2 E: Stopped halfway through writing the file. Reason: Duration Full "
                                      "Handle: 0x00000001"));
  EXPECT_TRUE(contains(logLines(), "post notifiCloseError Truncate closeErrorFilename=\\CLIP\\C0001.MXF m_rootPath=E:"));
}

// The writer's repair status: 9 says the failure may have changed the disc.
class FailedCloses : public EmulatedVolume, public ::testing::WithParamInterface<int32_t> {};

TEST_P(FailedCloses, WrittenFileIsReported) {
  setenv("QUIL_ACTIVE_SESSION", "3", 1);
  quiltest::PipeServer utility(pipeFolder().string(), 3);
  ASSERT_EQ(openVolume(), 0);
  const int32_t h = openFile(u"\\CLIP\\C0001.MXF", kWrite, kCreateNew);
  ASSERT_TRUE(writeAll(h, pattern(2048, 7)));
  quil::emulator::failNext("ClipWriter::Close", 1, writerFault(0x8200000D, GetParam()));
  EXPECT_EQ(refusal(QUILAPI_CloseHandle(h)), -1400);
  expectOneMessage(utility, 0, u"C0001.MXF");
  EXPECT_TRUE(contains(logLines("3"), "3 E: Closing the file failed. Handle: 0x00000001 Error: -1400"));
  EXPECT_TRUE(contains(logLines(), "post notifiCloseError CloseError closeErrorFilename=\\CLIP\\C0001.MXF m_rootPath=E:"));
  const bool marked = GetParam() == 9;
  EXPECT_EQ((volumeInformation().second & 0x80000000u) != 0, marked);
  if (marked) {
    EXPECT_EQ(refusal(openFile(u"\\USERDATA\\after", kWrite, kCreateAlways), -1), -3002);
  }
}

INSTANTIATE_TEST_SUITE_P(Volume, FailedCloses, ::testing::Values(0, 9));

TEST_F(Session, DeleteByHandleHappensAtClose) {
  ASSERT_EQ(openVolume(), 0);
  const int32_t h = openFile(u"\\USERDATA\\gone.txt", kRead | kWrite | 0x00010000u, kCreateAlways);
  ASSERT_TRUE(writeAll(h, "soon gone"));
  EXPECT_EQ(QUILAPI_DeleteFileWithHandle(h), -1);
  uint32_t written = 0;
  EXPECT_EQ(refusal(QUILAPI_WriteFile(h, "x", 1, &written)), -8);
  EXPECT_NE(QUILAPI_CloseHandle(h), 0);
  EXPECT_FALSE(std::filesystem::exists(host("USERDATA/gone.txt")));
  const int32_t plain = openFile(u"\\USERDATA\\kept.txt", kWrite, kCreateAlways);
  EXPECT_EQ(refusal(QUILAPI_DeleteFileWithHandle(plain)), -8);
}

// What a kind refuses (the pointer moves and the end of user data through
// the Python package: test_binary_round_trip, "r+b").
TEST_F(Session, HandleOperationsByKind) {
  ASSERT_EQ(openVolume(), 0);
  const int32_t u = openFile(u"\\USERDATA\\a.bin", kRead | kWrite, kCreateAlways);
  EXPECT_EQ(refusal(QUILAPI_SetFileSize(u, 10)), -6);
  EXPECT_NE(QUILAPI_CloseHandle(u), 0);
  const int32_t c = openFile(u"\\CLIP\\C0001.MXF", kWrite, kCreateNew);
  EXPECT_EQ(refusal(QUILAPI_SetEndOfFile(c)), -6);
  uint32_t type = 0;
  EXPECT_NE(QUILAPI_GetFileType(c, &type), 0);
  EXPECT_EQ(refusal(QUILAPI_CloseHandle(12345)), -4);
}

// ---------------------------------------------------------------------------
// A failure at every step of the opening leaves nothing open

struct OpenFailure { const char* name; const char* function; Fault fault; int32_t code; };

class OpeningFails : public EmulatedVolume, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpeningFails, NothingStaysOpenAndTheNextOpenWorks) {
  const OpenFailure& f = GetParam();
  quil::emulator::failNext(f.function, 1, f.fault);
  EXPECT_EQ(refusal(openVolume(), -1), f.code);
  EXPECT_EQ(volumeInformation().first, f.code);
  EXPECT_FALSE(quil::emulator::driverState().privileged);
  EXPECT_EQ(refusal(openFile(u"\\INDEX.XML", kRead, kOpenExisting), -1), -4);
  quil::emulator::reset();
  ASSERT_EQ(openVolume(), 0) << QUILAPI_GetLastError();
  const int32_t h = openFile(u"\\INDEX.XML", kRead, kOpenExisting, 1);
  EXPECT_NE(h, -1);
  EXPECT_NE(QUILAPI_CloseHandle(h), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Volume, OpeningFails,
    ::testing::Values(OpenFailure{"DeviceOpen", "CreateFile(device)", windowsFault(2), -3101},
                      OpenFailure{"MountInformation", "DeviceIoControl(GLYSCTL_GET_VOLUME_MOUNT_INFORMATION)",
                                  windowsFault(1), -3101},
                      OpenFailure{"WriterVolume", "QUILWriter::CreateVolume", writerFault(0x82000005), -1100},
                      OpenFailure{"Registration", "DeviceIoControl(GLYSCTL_REGISTER_PRIVILEGED_PROCESS)",
                                  windowsFault(5), -3101},
                      OpenFailure{"UnsupportedTree", "QUILWriter::CheckKeldaFile", writerFault(0x8400000F), -3007},
                      OpenFailure{"TreeCheckFails", "QUILWriter::CheckKeldaFile", writerFault(0x82000005), -1},
                      OpenFailure{"ReaderVolume", "QUIL_CreateVolume", readerFault(-1101), -1101},
                      OpenFailure{"VolumeCheck", "QUILWriter::CheckVolume", writerFault(0x8200001B), -1300},
                      OpenFailure{"DiscMetaUnreadable", "QUIL_CreateFile", readerFault(-1102), -3002}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace voltest
