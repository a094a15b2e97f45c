// The writer library against real emulated discs, where no test through the
// exports reaches: what it writes is on the host afterwards, metadata is
// replaced in one step, refusals carry the writer code and Windows error the
// core maps, and the AV tree check renames names that differ only in case.
// A recording the full medium stops is the Python package's and the quil
// tool's (test_refusals, ARecordingsStopReasonIsKnownWithLoggingOff), a clip
// that exists already the Python package's; injected faults of every kind are
// the fault sweep's and the writer adapter's tests'.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <type_traits>

#include "disc_folder.h"
#include "share_registry.h"

namespace {

using namespace emutest;
using namespace quil::emulator;
using namespace QUILWriter;
using QUILWriterLastError::QUILLastErrorManager;

class WriterTest : public DiscFolder {
 protected:
  void SetUp() override {
    DiscFolder::SetUp();
    QUILLastErrorManager::clear();
  }
  void setMedium(const std::function<void(MediumDescription&)>& change) {
    editMedium(change);
    _Volume_Param param{};
    Media_Param_ media{};
    CreateVolume(root, param, media, nullptr);  // re-reads the capacity
  }
  // Leaves `room` bytes free on the medium.
  void leaveRoom(uint64_t room) {
    setMedium([&](MediumDescription& m) { m.capacity = usedBytes(folder) + room; });
  }
  // The AV tree check as the core runs it at every volume open.
  void checkTree() { CheckKeldaFile(root, _Volume_Param{}, discId, alias); }
  // Files put on the disc behind the writer's back: relative path, content.
  void plant(std::initializer_list<std::pair<std::string, std::string>> files) {
    for (const auto& [file, text] : files) spit(host(file), text);
  }
  std::string discId;
  QUIL_AliasRename alias;
};

// ---------------------------------------------------------------------------
// Clips and components

template <class Units>
uint64_t fnv1a(const Units& units) {
  uint64_t h = 14695981039346656037ull;
  for (auto unit : units) h = (h ^ static_cast<std::make_unsigned_t<decltype(unit)>>(unit)) * 1099511628211ull;
  return h;
}

TEST_F(WriterTest, ClipRecordingLandsOnTheHostWithItsMetadata) {
  auto clip = ClipWriter::create(root, u"C0001", _Clip_Param{});
  uint32_t written = 0;
  clip->Write("0123456789", 10, &written);
  EXPECT_EQ(written, 10u);
  int64_t position = -1;
  clip->Seek(2, &position, QUIL_WHENCE_BEGIN);
  clip->Seek(4, &position, QUIL_WHENCE_CURRENT);  // from the end: the writer adapter's round trip
  EXPECT_EQ(position, 6);
  clip->Write("ABCDEF", 6, &written);
  EXPECT_EQ(clip->GetFileSize(), 12);
  EXPECT_EQ(clip->GetFileType(), QUIL_FILE_TYPE_DISK);
  EXPECT_EQ(thrownBy([&] { clip->Seek(-1, &position, QUIL_WHENCE_BEGIN); }), 0x82000020u);

  // The identifier the reader gives too: the folded name's UTF-16 units,
  // then the disc's KeldaIdRef bytes, each through FNV-1a-64.
  const std::string meta = slurp(host("DISCMETA.XML"));
  const size_t at = meta.find("KeldaIdRef value=\"") + 18;
  char expected[80];
  std::snprintf(expected, sizeof expected, "060A2B340101010501010D4313%016llX%016llX",
                static_cast<unsigned long long>(fnv1a(std::u16string(u"C0001"))),
                static_cast<unsigned long long>(fnv1a(meta.substr(at, meta.find('"', at) - at))));
  EXPECT_EQ(quil::toUtf8(clip->GetClipId()), expected);

  int32_t result = -1;
  clip->Close(&result);
  EXPECT_EQ(result, 0) << "the medium did not fill";
  EXPECT_EQ(slurp(host("CLIP/C0001.MXF")), "012345ABCDEF");
  const std::string nrt = slurp(host("CLIP/C0001M01.XML"));
  EXPECT_NE(nrt.find("<ClipName value=\"C0001\""), std::string::npos) << nrt;
  EXPECT_NE(nrt.find("<Duration value=\"12\""), std::string::npos) << nrt;
}

// The longest free name whose files all fit a listing record (57 units and
// "M01.XML"); one more is refused before anything is made.
TEST_F(WriterTest, AClipOfTheLongestFreeNameClosesWithItsMetadata) {
  const std::string name(57, 'n');
  int32_t result = -1;
  ClipWriter::create(root, quil::fromUtf8(name), _Clip_Param{})->Close(&result);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(fs::exists(host("CLIP/" + name + "M01.XML")));
  EXPECT_EQ(thrownBy([&] { ClipWriter::create(root, quil::fromUtf8(name + "n"), _Clip_Param{}); }), 0x86000003u);
  EXPECT_FALSE(fs::exists(host("CLIP/" + name + "n.MXF")));
}

TEST_F(WriterTest, ComponentSizesAndRefusesGrowthBeyondTheMedium) {
  auto component = ComponentWriter::create(root, u"P0001", _Component_Param{});
  uint32_t written = 0;
  component->Write("abc", 3, &written);
  component->SetFileSize(2);
  EXPECT_EQ(component->GetFileSize(), 2);
  EXPECT_EQ(thrownBy([&] { component->SetFileSize(int64_t{1} << 40); }), 0x82000002u);
  component->Close();
  EXPECT_EQ(slurp(host("COMPONENT/P0001.MXF")), "ab");
}

// ---------------------------------------------------------------------------
// Metadata files: replaced in one step at Close

TEST_F(WriterTest, MetadataIsCommittedAtCloseInOneStep) {
  const std::string old = "<old content that is longer/>";
  auto rewrite = [&](const char* file, auto open) {
    SCOPED_TRACE(file);
    fs::create_directories(fs::path(host(file)).parent_path());
    spit(host(file), old);
    auto w = open();
    char buffer[64] = {};
    uint32_t count = 0;
    w->Read(buffer, sizeof buffer, &count);
    EXPECT_EQ(std::string(buffer, count), old);
    int64_t position = 0;
    w->Seek(0, &position, QUIL_WHENCE_BEGIN);
    w->Write("<new/>", 6, &count);
    w->SetFileSize(6);
    EXPECT_EQ(w->GetFileSize(), 6);
    EXPECT_EQ(slurp(host(file)), old) << "nothing reaches the disc before Close";
    w->Close();
    EXPECT_EQ(slurp(host(file)), "<new/>");
    EXPECT_FALSE(std::ranges::any_of(fs::recursive_directory_iterator(folder), [](const auto& e) {
      return e.path().filename().string().starts_with(".quil-tmp-");
    })) << "no temporary file left";
  };
  rewrite("ALIAS.XML", [&] { return AliasWriter::open(root); });
  rewrite("CLIP/C0001M01.XML", [&] { return ClipNRTMetaWriter::open(root, u"C0001", QUIL_NAMING_STRICT); });
  rewrite("EDIT/E0001E01.SMI",
          [&] { return EditlistWriter::open(root, u"E0001E01", QUIL_NAMING_STRICT, QUIL_UMID_MODE_2); });
  rewrite("EDIT/E0001M01.XML", [&] { return EdlNRTMetaWriter::open(root, u"E0001M01", QUIL_NAMING_STRICT); });
  rewrite("CLIP/C0001M02.KLV", [&] { return UserMetaWriter::open(root, u"C0001", QUIL_NAMING_STRICT); });
}

TEST_F(WriterTest, MetadataOpenAndCreateFollowExistence) {
  EXPECT_EQ(thrownBy([&] { ClipNRTMetaWriter::open(root, u"C0009", QUIL_NAMING_STRICT); }), 0x86000010u);
  EXPECT_EQ(thrownBy([&] { AliasWriter::create(root); }), 0x86000008u);
  EXPECT_EQ(thrownBy([&] { DiscMetaWriter::open(root, false); }), 0x86000008u);
  auto edl = EditlistWriter::create(root, u"E0002E01", QUIL_NAMING_STRICT, QUIL_UMID_MODE_1);
  EXPECT_TRUE(fs::exists(host("EDIT/E0002E01.SMI"))) << "the name is taken at once";
  EXPECT_EQ(thrownBy([&] { EditlistWriter::create(root, u"e0002e01", QUIL_NAMING_STRICT, QUIL_UMID_MODE_1); }),
            0x86000008u);
  leaveRoom(10);
  uint32_t count = 0;
  EXPECT_EQ(thrownBy([&] { edl->Write(std::string(11, 'x').data(), 11, &count); }), 0x82000002u);
  edl->Write("<smil/>", 7, &count);
  edl->Close();
  EXPECT_EQ(slurp(host("EDIT/E0002E01.SMI")), "<smil/>");
}

TEST_F(WriterTest, MetadataGrowthBeyondItsCapIsRefusedBeforeReserving) {
  // More room than the 64 MiB cap (and less than the host has, which also bounds it).
  setMedium([](MediumDescription& m) { m.capacity = uint64_t{1} << 30; });
  auto aliasFile = AliasWriter::open(root);
  const uint64_t free = SpaceAccount::of(folder).freeBytes();
  uint32_t count = 0;
  int64_t position = 0;
  EXPECT_EQ(thrownBy([&] { aliasFile->SetFileSize(int64_t{1} << 61); }), 0x86000006u);
  aliasFile->Seek(int64_t{1} << 50, &position, QUIL_WHENCE_BEGIN);
  EXPECT_EQ(thrownBy([&] { aliasFile->Write("x", 1, &count); }), 0x86000006u);
  EXPECT_EQ(SpaceAccount::of(folder).freeBytes(), free) << "nothing stays reserved";
  aliasFile->Close();
}

bool parse(const std::string& text, std::string& id, bool& current) {
  return parseDiscmeta(text.data(), static_cast<uint32_t>(text.size()), id, current);
}

TEST_F(WriterTest, DiscMetaOfA23ModeVolumeIsBroughtTo100) {
  _Volume_Param param{};
  param.Quil23Mode = true;
  Media_Param_ media{};
  CreateVolume(root, param, media, nullptr);
  EXPECT_EQ(media.mediumType, 'S');
  const std::string original = slurp(host("DISCMETA.XML"));
  std::string id, idAfter;
  bool current = true;
  ASSERT_TRUE(parse(original, id, current));
  EXPECT_FALSE(current) << "the formatter writes 1.10";
  auto w = DiscMetaWriter::open(root, true);
  uint32_t count = 0;
  w->Write(original.data(), static_cast<uint32_t>(original.size()), &count);
  w->Close();
  ASSERT_TRUE(parse(slurp(host("DISCMETA.XML")), idAfter, current));
  EXPECT_TRUE(current);
  EXPECT_EQ(idAfter, id);
}

// What it accepts, and the version it tells, are above and in the AV tree
// check's identifier (NamesDifferingOnlyInCaseAreRenamed).
TEST(WriterParseDiscmeta, RefusesWhatIsNotDiscMetadata) {
  std::string id;
  bool current = true;
  for (const char* text : {"<DiscMeta><KeldaIdRef value=\"id3\"/>", "<Other><KeldaIdRef value=\"id4\"/></Other>",
                           "<DiscMeta><InitializedDate value=\"x\"/></DiscMeta>", "\x01\x02 garbage"}) {
    EXPECT_FALSE(parse(text, id, current)) << text;
  }
}

// ---------------------------------------------------------------------------
// Renaming, user data and general files

TEST_F(WriterTest, RenamesMoveTheWholeSetOrNothing) {
  plant({{"CLIP/C0001.MXF", "essence"}, {"CLIP/C0001M01.XML", "meta"}, {"SUB/C0001S01.MXF", "sub"},
         {"CLIP/C0003M01.XML", "stale"}});
  EXPECT_EQ(thrownBy([&] { RenameClipFile(root, u"C0001", u"C0003", QUIL_NAMING_STRICT); }), 0x86000008u);
  EXPECT_TRUE(fs::exists(host("CLIP/C0001.MXF")));
  RenameClipFile(root, u"C0001", u"C0002", QUIL_NAMING_STRICT);
  EXPECT_EQ(slurp(host("CLIP/C0002.MXF")), "essence");
  EXPECT_EQ(slurp(host("CLIP/C0002M01.XML")), "meta");
  EXPECT_EQ(slurp(host("SUB/C0002S01.MXF")), "sub");
  EXPECT_FALSE(fs::exists(host("CLIP/C0001.MXF")));
  DeleteClipFile(root, u"c0002", QUIL_NAMING_STRICT);
  for (const char* f : {"CLIP/C0002.MXF", "CLIP/C0002M01.XML", "SUB/C0002S01.MXF"}) {
    EXPECT_FALSE(fs::exists(host(f))) << f << ": the whole set is deleted";
  }

  plant({{"EDIT/E0001E01.SMI", "smil"}, {"EDIT/E0001M01.XML", "meta"}});
  RenameEdlFile(root, u"E0001E01", u"E0007E01", QUIL_NAMING_STRICT);
  EXPECT_TRUE(fs::exists(host("EDIT/E0007E01.SMI")) && fs::exists(host("EDIT/E0007M01.XML")));
  DeleteEdlFile(root, u"E0007E01", QUIL_NAMING_STRICT);
  EXPECT_TRUE(fs::is_empty(host("EDIT")));
}

std::shared_ptr<UserDataWriter> openUser(const std::u16string& root, const std::u16string& name, uint32_t access,
                                         uint32_t share, uint32_t disposition, bool general = false) {
  return UserDataWriter::createFile(root, name, access, share, nullptr, disposition, 0x80, nullptr, general);
}

// What the core relays when a writer call is refused: the writer code and
// the Windows error, with nothing on the disc changed.
TEST_F(WriterTest, RefusalsCarryCodeAndWindowsError) {
  plant({{"USERDATA/present.txt", "x"}, {"USERDATA/from.txt", "new"}, {"USERDATA/to.txt", "old"},
         {"USERDATA/held.txt", "keep"}, {"CLIP/C0004.MXF", "x"}, {"CLIP/C0004M01.XML", "x"}});
  CreateGeneralDirectory(root, u"a", nullptr);
  spit(host("GENERAL/a/ro.txt"), "locked");
  SetGeneralFileAttributes(root, u"A\\RO.TXT", 0x1);
  // Open elsewhere for reading, sharing neither writing nor deleting.
  auto& shares = ShareRegistry::instance();
  const uint64_t tokens[] = {shares.acquire(folder, host("USERDATA/held.txt"), kAccessRead, kShareRead),
                             shares.acquire(folder, host("CLIP/C0004M01.XML"), kAccessRead, kShareRead)};
  ASSERT_TRUE(tokens[0] != 0 && tokens[1] != 0);
  const auto open = [&](const char16_t* name, uint32_t disposition, uint32_t access = kRead | kWrite,
                        uint32_t share = 0) { return [=, this] { openUser(root, name, access, share, disposition); }; };
  const struct {
    const char* what;
    std::function<void()> call;
    uint32_t code, windowsError;
  } cases[] = {
      {"create new over a name differing in case", open(u"PRESENT.txt", kCreateNew), 0x86000008u, 80},
      {"open nothing", open(u"absent.txt", kOpenExisting), 0x86000010u, 2},
      {"open in no folder", open(u"no\\file.txt", kOpenAlways), 0x86000010u, 3},
      {"unknown disposition", open(u"present.txt", 9), 0x86000006u, 87},
      {"wildcard in the name", open(u"a?b", kOpenAlways), 0x86000003u, 123},
      {"separator alone", open(u"\\", kOpenAlways), 0x86000003u, 123},
      {"remove the user-data folder", [&] { RemoveUserDataDirectory(root, u"\\"); }, 0x86000003u, 123},
      {"delete separators", [&] { DeleteUserDataFile(root, u"\\/"); }, 0x86000003u, 123},
      {"delete a read-only file", [&] { DeleteGeneralFile(root, u"a\\ro.txt"); }, 0x82000024u, 5},
      {"remove a folder not empty", [&] { RemoveGeneralDirectory(root, u"a"); }, 0x8A000002u, 145},
      {"folder over a file", [&] { CreateGeneralDirectory(root, u"A\\RO.TXT", nullptr); }, 0x86000008u, 183},
      {"move over without replacing", [&] { MoveUserDataFileEx(root, u"from.txt", u"TO.TXT", 0); }, 0x86000008u, 183},
      {"move nothing", [&] { MoveUserDataFile(root, u"absent.txt", u"x.txt"); }, 0x86000010u, 2},
      // A read-only open that may create goes to the writer, past the core's sharing checks.
      {"truncate a file held for reading", open(u"held.txt", kCreateAlways, kRead, kShareRead | kShareWrite),
       0x82000024u, 32},
      {"truncate for reading alone", open(u"present.txt", kTruncateExisting, kRead, kShareRead), 0x86000006u, 87},
      {"delete a clip held without delete sharing", [&] { DeleteClipFile(root, u"C0004", QUIL_NAMING_STRICT); },
       0x82000024u, 32},
      {"rename that clip", [&] { RenameClipFile(root, u"C0004", u"C0005", QUIL_NAMING_STRICT); }, 0x82000024u, 32},
      {"label of 33 characters", [&] { SetVolumeLabel(root, std::u16string(33, u'x')); }, 0x86000006u, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QUILLastErrorManager::clear();
    EXPECT_EQ(thrownBy(c.call), c.code);
    EXPECT_EQ(QUILLastErrorManager::get(), c.windowsError);
  }
  for (const uint64_t token : tokens) shares.release(token);
  EXPECT_EQ(slurp(host("USERDATA/present.txt")), "x");
  EXPECT_EQ(slurp(host("USERDATA/held.txt")), "keep");
  EXPECT_EQ(slurp(host("GENERAL/a/ro.txt")), "locked");
  EXPECT_TRUE(fs::exists(host("CLIP/C0004M01.XML")) && !fs::exists(host("CLIP/C0005.MXF")));
  EXPECT_TRUE(fs::is_directory(host("USERDATA")) && fs::is_directory(host("GENERAL")));

  MoveUserDataFileEx(root, u"from.txt", u"TO.TXT", 0x1);
  EXPECT_EQ(slurp(host("USERDATA/TO.TXT")), "new");
  EXPECT_FALSE(fs::exists(host("USERDATA/to.txt"))) << "no second name differing in case";
}

// Its refusals are in the table above.
TEST_F(WriterTest, TruncatingForReadingGivesNoWriter) {
  spit(host("USERDATA/f.txt"), "keep");
  auto f = openUser(root, u"f.txt", kRead, kShareRead | kShareWrite, kCreateAlways);
  EXPECT_EQ(fs::file_size(host("USERDATA/f.txt")), 0u);
  uint32_t count = 0;
  EXPECT_EQ(thrownBy([&] { f->Write("x", 1, &count); }), 0x82000024u);
  EXPECT_EQ(QUILLastErrorManager::get(), 5u);
  openUser(root, u"f.txt", kRead, kShareRead, kOpenExisting)->Close();  // f holds read access only
  f->Close();
}

// ---------------------------------------------------------------------------
// The AV tree check: duplicated names, unsupported trees, write protection

TEST_F(WriterTest, NamesDifferingOnlyInCaseAreRenamed) {
  plant({{"CLIP/C0001.MXF", "first"}, {"CLIP/c0001.mxf", "second"}, {"CLIP/C0001M01.XML", "m1"},
         {"CLIP/c0001m01.xml", "m2"}, {"CLIP/C0007.MXF", "other"}});
  checkTree();
  EXPECT_NE(slurp(host("DISCMETA.XML")).find("value=\"" + discId + "\""), std::string::npos);
  ASSERT_EQ(alias.renames.size(), 2u);
  EXPECT_EQ(alias.renames[0].directory, u"CLIP");
  EXPECT_EQ(alias.renames[0].oldName, u"c0001.mxf");
  EXPECT_EQ(alias.renames[0].newName, u"C0008.MXF") << "the next free number";
  EXPECT_EQ(alias.renames[1].newName, u"C0008M01.XML") << "the metadata follows its clip";
  EXPECT_EQ(slurp(host("CLIP/C0008.MXF")), "second");
  EXPECT_EQ(slurp(host("CLIP/C0001.MXF")), "first");
  const std::string table(alias.virtualAlias.begin(), alias.virtualAlias.end());
  EXPECT_NE(table.find("name=\"c0001.mxf\" alias=\"C0008.MXF\""), std::string::npos) << table;

  checkTree();
  EXPECT_TRUE(alias.renames.empty() && alias.virtualAlias.empty()) << "nothing left to do";
}

TEST_F(WriterTest, AFailedRenamePutsBackTheRenamesDone) {
  const std::string longName(251, 'b');  // its new name, with "_1", is too long for the host
  plant({{"a.txt", "a1"}, {"A.TXT", "a2"}, {longName + ".txt", "b1"}, {longName + ".TXT", "b2"}});
  EXPECT_EQ(thrownBy([&] { checkTree(); }), 0x8A000003u);
  EXPECT_EQ(slurp(host("a.txt")), "a1") << "the first rename is undone";
  EXPECT_FALSE(fs::exists(host("a_1.txt")));
  EXPECT_TRUE(alias.renames.empty());
}

TEST_F(WriterTest, UnsupportedTreesAreRefused) {
  auto refusal = [&] { return thrownBy([&] { checkTree(); }); };
  fs::remove(host("SUB"));
  EXPECT_EQ(refusal(), 0x8400000Fu) << "a missing folder";
  fs::create_directory(host("SUB"));
  spit(host("CLIP/notes.txt"), "x");
  EXPECT_EQ(refusal(), 0x8400000Fu) << "a foreign file";
  fs::remove(host("CLIP/notes.txt"));
  fs::create_directory(host("EDIT/E0001.XML"));
  EXPECT_EQ(refusal(), 0x8400000Fu) << "a subfolder";
}

TEST_F(WriterTest, NotWritableMediumOpensProtectedAndRefusesChanges) {
  spit(host("CLIP/C0001.MXF"), "x");
  setMedium([](MediumDescription& m) { m.writable = false; });
  EXPECT_EQ(thrownBy([&] { checkTree(); }), 0x84000010u);
  EXPECT_TRUE(alias.virtualAlias.empty()) << "no duplicates";
  spit(host("CLIP/c0001.MXF"), "y");
  EXPECT_EQ(thrownBy([&] { checkTree(); }), 0x84000010u);
  EXPECT_FALSE(alias.virtualAlias.empty()) << "the new names are presented through the alias";
  EXPECT_TRUE(alias.renames.empty());
  EXPECT_TRUE(fs::exists(host("CLIP/c0001.MXF"))) << "nothing renamed on the medium";

  const std::function<void()> changes[] = {
      [&] { ClipWriter::create(root, u"C0002", _Clip_Param{}); },
      [&] { AliasWriter::open(root); },
      [&] { DeleteClipFile(root, u"C0001", QUIL_NAMING_STRICT); },
      [&] { LockClipFile(root, u"C0001", true, QUIL_NAMING_STRICT); },
      [&] { CreateUserDataDirectory(root, u"d", nullptr); },
      [&] { openUser(root, u"f.txt", kWrite, 0, kOpenAlways); },
      [&] { SetVolumeLabel(root, u"LABEL"); },
  };
  for (size_t i = 0; i < std::size(changes); ++i) EXPECT_EQ(thrownBy(changes[i]), 0x88000013u) << "change " << i;
}

}  // namespace
