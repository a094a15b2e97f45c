// Enumeration, delete and rename, attributes and locks, directories, label
// and clip id, end to end through the exports on a fresh emulated disc.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "quil/platform_error.h"
#include "quil/sibling/quilreader.h"
#include "text/utf.h"
#include "volume/emulated_volume.h"

namespace voltest {
namespace {

namespace fs = std::filesystem;

// The names an enumeration gives, through the exports or (for a volume of
// the reader's own) through the reader library.
using FindFirst = int32_t (*)(int32_t, const QUILCHAR*, FindData*);
std::vector<std::u16string> list(const char16_t* pattern, int32_t volume = 0, FindFirst first = QUILAPI_FindFirstFile,
                                 int32_t (*next)(int32_t, FindData*) = QUILAPI_FindNextFile,
                                 int32_t (*close)(int32_t) = QUILAPI_FindClose) {
  std::vector<std::u16string> names;
  FindData d{};
  const int32_t h = first(volume, pattern, &d);
  if (h == -1) return names;
  do {
    names.emplace_back(d.name, std::find(d.name, d.name + 64, u'\0'));
  } while (next(h, &d) != 0);
  EXPECT_NE(close(h), 0);
  return names;
}

bool listed(const char16_t* pattern, const std::u16string& name) { return std::ranges::count(list(pattern), name) > 0; }

using Namespace = WithClip;

// ---------------------------------------------------------------------------
// Delete and rename

// The changes by name fail with 0.
class NameTable : public AttemptTable {};

TEST_P(NameTable, RefusedOrDone) { runRow(0); }

// An edit list on the disc, then open for reading.
void editListRead() {
  record(u"\\EDIT\\E0001E01.SMI", "<smil/>");
  keepOpen(u"\\EDIT\\E0001E01.SMI", kRead, kOpenExisting, 1)();
}
int32_t del(const char16_t* path) { return QUILAPI_DeleteFile(0, path); }
int32_t move(const char16_t* from, const char16_t* to) { return QUILAPI_MoveFile(0, from, to); }

INSTANTIATE_TEST_SUITE_P(
    Volume, NameTable,
    ::testing::Values(
        Attempt{"DeleteIndex", nothing, [] { return del(u"\\INDEX.XML"); }, -3005},
        Attempt{"DeleteClipMetadata", nothing, [] { return del(u"\\CLIP\\C0001M01.XML"); }, -3005},
        Attempt{"DeleteNothingNamed", nothing, [] { return del(u"\\NOWHERE"); }, -9},
        Attempt{"DeleteClip", nothing, [] { return del(u"\\CLIP\\C0001.MXF"); }, 0},
        Attempt{"DeleteClipBeingRead", keepOpen(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 7),
                [] { return del(u"\\CLIP\\C0001.MXF"); }, -3010},
        Attempt{"DeleteClipWhileEditListRead", editListRead, [] { return del(u"\\CLIP\\C0001.MXF"); }, -8},
        Attempt{"RenameClipWhileEditListRead", editListRead,
                [] { return move(u"\\CLIP\\C0001.MXF", u"\\CLIP\\C0005.MXF"); }, 0},
        Attempt{"DeleteWhileAClipIsWritten", keepOpen(u"\\CLIP\\C0002.MXF", kWrite, kCreateNew),
                [] { return del(u"\\USERDATA\\x"); }, -8},
        Attempt{"DeleteTheClipBeingWritten", keepOpen(u"\\CLIP\\C0002.MXF", kWrite, kCreateNew),
                [] { return del(u"\\CLIP\\C0002.MXF"); }, -3010},
        Attempt{"RenameWhileAClipIsWritten", keepOpen(u"\\CLIP\\C0002.MXF", kWrite, kCreateNew),
                [] { return move(u"\\CLIP\\C0001.MXF", u"\\CLIP\\C0009.MXF"); }, -8},
        Attempt{"RenameAcrossKinds", nothing, [] { return move(u"\\CLIP\\C0001.MXF", u"\\COMPONENT\\P0001.MXF"); },
                -3005},
        Attempt{"RenameToNothing", nothing, [] { return move(u"\\CLIP\\C0001.MXF", u"\\NOWHERE"); }, -9},
        Attempt{"RenameIndex", nothing, [] { return move(u"\\INDEX.XML", u"\\NOWHERE"); }, -3005},
        Attempt{"MetadataReaderSharingDelete", keepOpen(u"\\CLIP\\C0001M01.XML", kRead, kOpenExisting, 2 | 4),
                [] { return del(u"\\CLIP\\C0001.MXF"); }, 0},
        Attempt{"MetadataReaderNotSharingDelete", keepOpen(u"\\CLIP\\C0001M01.XML", kRead, kOpenExisting, 2),
                [] { return del(u"\\CLIP\\C0001.MXF"); }, -8},
        Attempt{"RenameUserDataBeingRead",
                [] { record(u"\\USERDATA\\x", ""); keepOpen(u"\\USERDATA\\x", kRead, kOpenExisting, 1)(); },
                [] { return move(u"\\USERDATA\\x", u"\\USERDATA\\y"); }, -3010},
        Attempt{"MoveExOfClips", nothing,
                [] { return QUILAPI_MoveFileEx(0, u"\\CLIP\\C0001.MXF", u"\\CLIP\\C0002.MXF", 0); }, -3005}),
    rowName);

// A reader that shares writing and deleting gives way to a writer.
TEST_F(Namespace, SharingReaderIsSuspendedForTheWriter) {
  const int32_t reader = openFile(u"\\CLIP\\C0001M01.XML", kRead, kOpenExisting, 2 | 4);
  const int32_t writer = openFile(u"\\CLIP\\C0001M01.XML", kWrite, kCreateAlways);
  ASSERT_NE(writer, -1) << QUILAPI_GetLastError();
  char buffer[16];
  uint32_t read = 0;
  EXPECT_EQ(refusal(QUILAPI_ReadFile(reader, buffer, sizeof buffer, &read)), -3011);
  EXPECT_NE(QUILAPI_CloseHandle(reader), 0) << "a suspended reader still closes cleanly";
  EXPECT_NE(QUILAPI_CloseHandle(writer), 0);
}

// (Replacing renames, and listings after a change of user data: the Python
// package's test_host_folder_information_and_changes.)
TEST_F(Namespace, RenamedAndDeletedFilesShowInTheListingAndTheLog) {
  ASSERT_NE(QUILAPI_CloseHandle(openFile(u"\\USERDATA\\a.txt", kWrite, kCreateAlways)), 0);
  EXPECT_TRUE(listed(u"/USERDATA/*", u"a.txt")) << "slashes reach the reader as backslashes";
  EXPECT_EQ(QUILAPI_MoveFile(0, u"\\USERDATA\\a.txt", u"\\USERDATA\\b.txt"), -1);
  EXPECT_EQ(QUILAPI_MoveFile(0, u"\\CLIP\\C0001.MXF", u"\\CLIP\\C0004.MXF"), -1);
  EXPECT_TRUE(listed(u"\\CLIP\\*", u"C0004.MXF"));
  EXPECT_FALSE(listed(u"\\CLIP\\*", u"C0001.MXF"));
  EXPECT_EQ(QUILAPI_DeleteFile(0, u"\\USERDATA\\b.txt"), -1);
  EXPECT_EQ(QUILAPI_DeleteFile(0, u"\\USERDATA\\b.txt"), 0) << "gone";

  const auto journal = quil::emulator::takeJournal();
  const auto moved =
      std::ranges::find(journal, std::string("QUIL_NotifyMoveFile"), &quil::emulator::JournalEntry::function);
  ASSERT_NE(moved, journal.end());
  EXPECT_EQ(moved->path, u"\\Clip\\C0001.MXF");
  EXPECT_EQ(moved->newPath, u"\\Clip\\C0004.MXF");
  const auto log = logLines("123");
  EXPECT_TRUE(contains(log, "1 E: Changing the filename finished. Old file: E:\\USERDATA\\a.txt -> New file: "
                            "E:\\USERDATA\\b.txt"));
  EXPECT_TRUE(contains(log, "1 E: Deleting the file finished. File: E:\\USERDATA\\b.txt"));
  EXPECT_TRUE(contains(log, "3 E: Deleting the file failed. File: E:\\USERDATA\\b.txt Error: "));
}

TEST_F(Namespace, UserDataDeleteRefusedBySharingHappensAtClose) {
  const int32_t h = openFile(u"\\USERDATA\\busy.txt", kWrite, kCreateAlways);
  ASSERT_TRUE(writeAll(h, "busy"));
  QUILPlatform_SetLastError(0);
  EXPECT_EQ(refusal(QUILAPI_DeleteFile(0, u"\\USERDATA\\busy.txt")), 0) << "the cause is in the thread's Windows error";
  EXPECT_EQ(QUILPlatform_GetLastError(), 32u);
  EXPECT_TRUE(fs::exists(host("USERDATA/busy.txt")));
  EXPECT_NE(QUILAPI_CloseHandle(h), 0);
  EXPECT_FALSE(fs::exists(host("USERDATA/busy.txt")));
}

// The writer's repair status: 9 says the failure may have changed the disc.
class FailedDeletes : public Namespace, public ::testing::WithParamInterface<int32_t> {};

TEST_P(FailedDeletes, MarkTheVolumeWhenTheReaderIsTold) {
  const bool notifies = GetParam() == 9;
  quil::emulator::takeJournal();
  // 0x8A000004: -3203, the DeleteFile error.
  quil::emulator::failNext("QUILWriter::DeleteClipFile", 1, writerFault(0x8A000004, GetParam()));
  EXPECT_EQ(refusal(QUILAPI_DeleteFile(0, u"\\CLIP\\C0001.MXF")), -3203);
  EXPECT_TRUE(fs::exists(host("CLIP/C0001.MXF"))) << "the writer failed before deleting anything";
  const auto journal = quil::emulator::takeJournal();
  EXPECT_EQ(!journal.empty(), notifies);
  if (!journal.empty()) {
    EXPECT_EQ(journal[0].function, "QUIL_NotifyDeleteFile");
    EXPECT_EQ(static_cast<int32_t>(journal[0].status), -3203);
  }
  EXPECT_EQ((volumeInformation().second & 0x80000000u) != 0, notifies);
  if (notifies) {
    EXPECT_EQ(refusal(QUILAPI_DeleteFile(0, u"\\CLIP\\C0001.MXF")), -3002) << "bit 0x80000000 alone";
  }
}

INSTANTIATE_TEST_SUITE_P(Volume, FailedDeletes, ::testing::Values(0, 9));

// The write-protect bits decide the code of every change (a medium that is
// not writable sets 0x10 itself: volume_session_test, NotWritable).
TEST_F(EmulatedVolume, WriteProtectionBitsDecideTheCode) {
  for (const auto& [flags, code] : {std::pair<uint32_t, int32_t>{0x80000000u, -3002}, {0x80000010u, -3012}}) {
    _Volume_Param p = params();
    p.recInhMode = flags;
    ASSERT_EQ(openVolume(p), 0);
    EXPECT_EQ(refusal(openFile(u"\\USERDATA\\x", kWrite, kCreateAlways), -1), code);
    EXPECT_EQ(refusal(QUILAPI_DeleteFile(0, u"\\USERDATA\\x")), code);
    EXPECT_EQ(refusal(QUILAPI_SetVolumeLabel(0, u"X", 1)), code);
    EXPECT_EQ(refusal(QUILAPI_CreateDirectory(0, u"\\USERDATA\\d", nullptr)), code);
    EXPECT_EQ(QUILAPI_FlushVolume(0), -1) << "flushing is no change";
    EXPECT_EQ(QUILAPI_CloseVolume(0), -1);
  }
}

// Clip protection refuses every change to a clip with -8, and nothing else.
TEST_F(EmulatedVolume, ClipProtectionRefusesChangesToClips) {
  _Volume_Param p = params();
  p.clipProtectMode = 1;
  ASSERT_EQ(openVolume(p), 0);
  EXPECT_EQ(refusal(openFile(u"\\CLIP\\C0001.MXF", kWrite, kCreateNew), -1), -8);
  EXPECT_EQ(refusal(QUILAPI_DeleteFile(0, u"\\CLIP\\C0001.MXF")), -8);
  EXPECT_EQ(refusal(QUILAPI_MoveFile(0, u"\\CLIP\\C0001.MXF", u"\\CLIP\\C0002.MXF")), -8);
  EXPECT_EQ(refusal(QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0001.MXF", 0x1)), -8);
  EXPECT_EQ(QUILAPI_SetVolumeLabel(0, u"X", 1), -1);
}

// ---------------------------------------------------------------------------
// Attributes and locks

bool hostWritable(const fs::path& p) { return (fs::status(p).permissions() & fs::perms::owner_write) != fs::perms{}; }

TEST_F(Namespace, AttributesOnTheAvTree) {
  quil::emulator::takeJournal();
  EXPECT_EQ(QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0001.MXF", 0x20), -1) << "neither read-only nor normal";
  EXPECT_TRUE(quil::emulator::takeJournal().empty());
  EXPECT_TRUE(hostWritable(host("CLIP/C0001.MXF")));
  EXPECT_EQ(QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0001.MXF", 0x1), -1);
  EXPECT_FALSE(hostWritable(host("CLIP/C0001.MXF")));
  EXPECT_EQ(refusal(QUILAPI_DeleteFile(0, u"\\CLIP\\C0001.MXF")), -3012) << "a locked clip stays";
  EXPECT_EQ(QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0001.MXF", 0x80), -1);
  EXPECT_TRUE(hostWritable(host("CLIP/C0001.MXF")));
  EXPECT_EQ(refusal(QUILAPI_SetFileAttributes(0, u"\\INDEX.XML", 0x1)), -3005);
  uint32_t attributes = 0;
  EXPECT_NE(QUILAPI_GetFileAttributes(0, u"/CLIP/C0001.MXF", &attributes), 0);
  EXPECT_EQ(attributes & 0x1u, 0u);
  EXPECT_TRUE(contains(logLines("123"), "1 E: Changing the attribute of the file finished. File: E:\\CLIP\\C0001.MXF"));
  // Clip metadata made read-only on the disc is not opened for writing.
  fs::permissions(host("CLIP/C0001M01.XML"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(refusal(openFile(u"\\CLIP\\C0001M01.XML", kWrite, kOpenExisting), -1), -8);
}

TEST_F(Namespace, LockOfTheClipBeingWrittenWaitsForItsClose) {
  const int32_t h = openFile(u"\\CLIP\\C0002.MXF", kWrite, kCreateNew);
  ASSERT_TRUE(writeAll(h, pattern(1000, 2)));
  EXPECT_EQ(refusal(QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0001.MXF", 0x1)), -8) << "another clip";
  EXPECT_EQ(QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0002.MXF", 0x1), -1);
  EXPECT_TRUE(hostWritable(host("CLIP/C0002.MXF")));
  quil::emulator::takeJournal();
  EXPECT_NE(QUILAPI_CloseHandle(h), 0);
  EXPECT_FALSE(hostWritable(host("CLIP/C0002.MXF")));
  const auto journal = quil::emulator::takeJournal();
  EXPECT_TRUE(std::any_of(journal.begin(), journal.end(), [](const auto& e) {
    return e.function == "QUIL_NotifySetFileAttribute" && e.path == u"\\Clip\\C0002.MXF" && e.status == 0;
  }));
  EXPECT_TRUE(contains(logLines(), "lockFile start for \"\\Clip\\C0002.MXF\" at close"));
}

// ---------------------------------------------------------------------------
// Directories, label, clip id

TEST_F(Namespace, DirectoriesAndLabel) {
  EXPECT_EQ(refusal(QUILAPI_CreateDirectory(0, u"\\USERDATA", nullptr)), -3005);
  EXPECT_EQ(QUILAPI_CreateDirectory(0, u"\\USERDATA\\A", nullptr), -1);

  // A name the listing record cannot carry whole (65 units) is never made:
  // each making call is refused with the Windows error for a name too long.
  const std::u16string longName = u"\\USERDATA\\" + std::u16string(65, u'n');
  const std::pair<const char*, std::function<bool()>> tooLong[] = {
      {"create", [&] { return openFile(longName.c_str(), kWrite, kCreateAlways) == -1; }},
      {"mkdir", [&] { return QUILAPI_CreateDirectory(0, longName.c_str(), nullptr) == 0; }},
      {"rename", [&] { return QUILAPI_MoveFile(0, u"\\USERDATA\\A", longName.c_str()) == 0; }},
  };
  for (const auto& [what, refused] : tooLong) {
    EXPECT_TRUE(refused()) << what;
    EXPECT_EQ(QUILAPI_GetLastError(), 0) << what;
    EXPECT_EQ(QUILPlatform_GetLastError(), 206u) << what;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(host("USERDATA")), {}), 1) << "only A";

  const std::u16string forty(40, u'L');
  EXPECT_EQ(QUILAPI_SetVolumeLabel(0, forty.c_str(), 32), -1);
  QUILCHAR label[64] = {};
  uint32_t length = 0;
  EXPECT_NE(QUILAPI_GetVolumeLabel(0, label, 64, &length), 0);
  EXPECT_EQ(std::u16string(label), forty.substr(0, 32));
  // A buffer the label fills, with no NUL after it: only `length` units
  // are read (AddressSanitizer sees a read beyond the allocation).
  const std::vector<QUILCHAR> unterminated(5, u'U');
  EXPECT_EQ(QUILAPI_SetVolumeLabel(0, unterminated.data(), 5), -1);
  EXPECT_NE(QUILAPI_GetVolumeLabel(0, label, 64, &length), 0);
  EXPECT_EQ(std::u16string(label), u"UUUUU");
  // A NULL label, the capacity and a failed metadata query: null_arguments_test.
  const auto log = logLines("123");
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "1 E: Changing the volume label finished. -> New volume label: " + std::string(32, 'L')),
            1);
}

TEST_F(Namespace, ClipIdCutToTheBuffer) {
  const int32_t r = openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 1);
  const int32_t w = openFile(u"\\CLIP\\C0002.MXF", kWrite, kCreateNew);
  std::u16string ids[2];
  for (const int32_t h : {r, w}) {
    ASSERT_NE(h, -1);
    QUILCHAR whole[128] = {};
    uint32_t length = 0;
    ASSERT_NE(QUILAPI_GetClipId(h, whole, 128, &length), 0) << QUILAPI_GetLastError();
    ids[h == w] = whole;
    EXPECT_GT(ids[h == w].size(), 8u);
  }
  EXPECT_NE(ids[0], ids[1]) << "two clips, two identifiers";
  // The writer side cuts the identifier to the buffer and tells its length.
  QUILCHAR eight[8];
  std::fill(eight, eight + 8, u'#');
  uint32_t required = 0;
  EXPECT_NE(QUILAPI_GetClipId(w, eight, 8, &required), 0);
  EXPECT_EQ(std::u16string(eight), ids[1].substr(0, 7));
  EXPECT_EQ(required, ids[1].size() + 1);
}

// ---------------------------------------------------------------------------
// Enumeration

TEST_F(Namespace, EnumerationHandlesShareNumbersWithFiles) {
  const int32_t file = openFile(u"\\INDEX.XML", kRead, kOpenExisting, 1);
  FindData d{};
  const int32_t find = QUILAPI_FindFirstFile(0, u"\\*", &d);
  const int32_t next = openFile(u"\\INDEX.XML", kRead, kOpenExisting, 1);
  EXPECT_EQ(find, file + 1);
  EXPECT_EQ(next, find + 1);
  EXPECT_EQ(QUILAPI_CloseHandle(find), 0) << "an enumeration ends with find-close";
  EXPECT_EQ(refusal(QUILAPI_FindClose(file)), -4) << "a file is no enumeration";
  EXPECT_NE(QUILAPI_FindClose(find), 0);
  EXPECT_EQ(refusal(QUILAPI_FindClose(find)), -4);
  EXPECT_EQ(QUILAPI_FindFirstFile(0, u"\\NOWHERE\\*", &d), -1);
  EXPECT_NE(QUILAPI_GetLastError(), 0) << "the reader's error is taken over";
}

TEST_F(Namespace, TenThousandFilesListedCompletelyInTheReadersOrder) {
  constexpr int kFiles = 10000;
  std::set<std::u16string> made;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i) + ".dat";
    std::ofstream(host("USERDATA/" + name)).put('x');
    made.insert(quil::fromUtf8(name));
  }
  const auto names = list(u"\\USERDATA\\*");
  EXPECT_EQ(names.size(), static_cast<size_t>(kFiles));
  EXPECT_EQ(std::set<std::u16string>(names.begin(), names.end()), made);

  // The same order as the reader library gives on a volume of its own.
  QUIL_READER_VOLUME_PARAM record{};
  bool ok = false;
  const int32_t own = QUIL_CreateVolume(u"E:", &record, &ok);
  ASSERT_NE(own, -1);
  const auto direct = list(u"\\USERDATA\\*", own, QUIL_FindFirstFile, QUIL_FindNextFile, QUIL_FindClose);
  QUIL_CloseVolume(own);
  EXPECT_EQ(names, direct);
  EXPECT_EQ(QUILAPI_CloseVolume(0), -1) << "no handle left behind";
}

}  // namespace
}  // namespace voltest
