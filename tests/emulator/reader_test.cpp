// The reader library against real emulated discs: the Win32 rules for
// access and sharing hold, listings match patterns, and failures reach the
// caller with the codes the core relays. The core opens reader files for
// reading alone (what may create or write goes to the writer), so what a
// read handle gives is checked here and writing through the reader only as
// far as it is refused. The notifications the exports' tests find in the
// journal, and the label and listing records the tools show, are left to
// them.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "disc_folder.h"

namespace {

using namespace emutest;
using namespace quil::emulator;

constexpr uint32_t kShareNone = 0, kShareR = 1, kShareRW = 3;

std::string readSome(int32_t h, uint32_t n) {
  std::string s(n, '\0');
  uint32_t done = 0;
  EXPECT_NE(QUIL_ReadFile(h, s.data(), n, &done), 0);
  return s.substr(0, done);
}

class ReaderTest : public DiscFolder {
 protected:
  void TearDown() override {
    if (volume > 0) QUIL_CloseVolume(volume);
    DiscFolder::TearDown();
  }
  int32_t openVolume(uint32_t recInhMode = 0) {
    QUIL_READER_VOLUME_PARAM p{};
    p.volume.recInhMode = recInhMode;
    bool checkOk = false;
    return volume = QUIL_CreateVolume(root.c_str(), &p, &checkOk);
  }
  void hostFile(const std::string& relative, const std::string& content, fs::perms mode = fs::perms(0644)) {
    spit(host(relative), content);
    fs::permissions(host(relative), mode);
  }
  int32_t open(const std::u16string& path, uint32_t access, uint32_t disposition, uint32_t share = kShareRW) {
    return QUIL_CreateFile(volume, path.c_str(), access, share, nullptr, disposition, 0, nullptr);
  }
  int32_t volume = -1;
};

// --- write protection, the AV tree, sharing ----------------------------------------

// The core opens reader files for reading only; the reader still refuses a
// change on a write-inhibited volume. The core hands over its whole
// write-protect word, so any bit of it inhibits (0x10: not writable).
TEST_F(ReaderTest, WriteInhibitedVolumeRefusesEveryChange) {
  hostFile("USERDATA/a.txt", "abc");
  ASSERT_GT(openVolume(0x10), 0);
  EXPECT_FAILS(open(u"\\USERDATA\\b.txt", kWrite, kCreateNew), -1, -3012, 19);
  EXPECT_FAILS(open(u"\\USERDATA\\a.txt", kRead | kWrite, kOpenExisting), -1, -3012, 19);
  EXPECT_EQ(open(u"\\USERDATA\\a.txt", kRead, kCreateAlways), -1) << "truncation is a change too";
  EXPECT_EQ(slurp(host("USERDATA/a.txt")), "abc");
  EXPECT_GT(open(u"\\USERDATA\\a.txt", kRead, kOpenExisting), 0);
}

TEST_F(ReaderTest, AvFilesAreReadButNeverChangedThroughTheReader) {
  hostFile("CLIP/C0001.MXF", "essence bytes");
  hostFile("CLIP/C0002.MXF", "locked", fs::perms(0444));
  hostFile("USERDATA/ro.txt", "locked", fs::perms(0444));
  ASSERT_GT(openVolume(), 0);
  using Case = std::pair<const char16_t*, const char*>;
  for (const auto& [path, hostPath] : {Case{u"\\INDEX.XML", "INDEX.XML"}, Case{u"\\clip\\c0001.mxf", "CLIP/C0001.MXF"},
                                       Case{u"\\CLIP\\C0002.MXF", "CLIP/C0002.MXF"}}) {
    const std::string content = slurp(host(hostPath));
    const int32_t h = open(path, kRead, kOpenExisting, kShareR);
    ASSERT_GT(h, 0);
    EXPECT_EQ(readSome(h, 4096), content);
    EXPECT_FAILS(QUIL_SetFileSize(h, 0), 0, -3011, 0);
    uint32_t done = 0;
    EXPECT_FAILS(QUIL_WriteFile(h, "x", 1, &done), 0, -3011, 0);
    QUIL_CloseHandle(h);
    EXPECT_EQ(slurp(host(hostPath)), content);
  }
  // no Windows error outside user data
  EXPECT_FAILS(open(u"\\CLIP\\C0001.MXF", kRead | kWrite, kOpenExisting), -1, -3011, 0);
  EXPECT_FAILS(open(u"\\CLIP\\C0003.MXF", kWrite, kCreateNew), -1, -3011, 0);
  EXPECT_FALSE(fs::exists(host("CLIP/C0003.MXF")));
  // a locked file
  EXPECT_FAILS(open(u"\\CLIP\\C0002.MXF", kWrite, kOpenExisting), -1, -8, 0);
  EXPECT_FAILS(open(u"\\USERDATA\\ro.txt", kRead | kWrite, kOpenExisting), -1, -8, 5);
  EXPECT_FAILS(open(u"\\CLIP", kRead, kOpenExisting), -1, -1100, 0);
}

// The core leaves sharing between readers of user data to the reader, and
// hands a caller's move method to it as it is.
TEST_F(ReaderTest, AUserFileReadHandleMovesAndSharesAsWin32Does) {
  hostFile("USERDATA/a.txt", "abc");
  ASSERT_GT(openVolume(), 0);
  const int32_t reader = open(u"\\USERDATA\\a.txt", kRead, kOpenExisting, kShareR);
  ASSERT_GT(reader, 0);
  int64_t position = -1;
  ASSERT_NE(QUIL_SetFilePointer(reader, -1, &position, 2), 0);
  EXPECT_EQ(position, 2) << "moved from the end";
  EXPECT_EQ(readSome(reader, 10), "c");
  EXPECT_FAILS(QUIL_SetFilePointer(reader, -4, &position, 2), 0, -5, 131);
  uint32_t done = 0;
  EXPECT_FAILS(QUIL_WriteFile(reader, "x", 1, &done), 0, -3011, 5);  // opened for reading
  EXPECT_FAILS(open(u"\\USERDATA\\a.txt", kWrite, kOpenExisting, kShareRW), -1, -3010, 32);
  EXPECT_EQ(open(u"\\USERDATA\\a.txt", kRead, kCreateAlways, kShareRW), -1) << "refused before truncating";
  EXPECT_EQ(slurp(host("USERDATA/a.txt")), "abc");
  const int32_t second = open(u"\\USERDATA\\a.txt", kRead, kOpenExisting, kShareR);
  EXPECT_GT(second, 0) << "readers that share reading coexist";
  EXPECT_FAILS(open(u"\\userdata\\A.TXT", kRead, kOpenExisting, kShareNone), -1, -3010, 32);
  QUIL_CloseHandle(reader);
  QUIL_CloseHandle(second);
  EXPECT_GT(open(u"\\USERDATA\\a.txt", kRead, kOpenExisting, kShareNone), 0) << "closing gave the file back";
}

TEST_F(ReaderTest, AttributesReflectTheHostFile) {
  hostFile("CLIP/C0001.MXF", "locked", fs::perms(0444));
  hostFile("USERDATA/ro.txt", "locked", fs::perms(0444));
  hostFile("USERDATA/rw.txt", "open");
  ASSERT_GT(openVolume(), 0);
  const struct {
    const char16_t* path;
    uint32_t attributes;  // 0: missing
    Outcome failure;
  } cases[] = {{u"\\CLIP\\C0001.MXF", 0x01, {}},      {u"\\USERDATA\\ro.txt", 0x01, {}},
               {u"\\userdata\\RW.TXT", 0x80, {}},     {u"\\CLIP", 0x10, {}},
               {u"\\", 0x10, {}},                     {u"\\USERDATA\\none.txt", 0, {1000, 2}},
               {u"\\USERDATA\\no\\none.txt", 0, {1000, 3}}, {u"\\CLIP\\C0404.MXF", 0, {1000, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(quil::toUtf8(c.path));
    uint32_t attributes = 0;
    clearErrors();
    EXPECT_EQ(QUIL_GetFileAttributes(volume, c.path, &attributes) != 0, c.attributes != 0);
    EXPECT_EQ(attributes, c.attributes);
    EXPECT_EQ(last(), c.failure);
  }
}

TEST_F(ReaderTest, ListingsMatchPatternsWithoutCase) {
  for (const char* name : {"C0001.MXF", "C0002.MXF", "C0010.MXF", "c0003.mxf", "C0001M01.XML", ".quil-tmp", ".QUIL-X"}) {
    spit(host(std::string("CLIP/") + name), "x");
  }
  for (const char* name : {"abc", "abc.txt"}) spit(host(std::string("USERDATA/") + name), "x");
  hostFile("USERDATA/" + std::string(70, 'n'), "x");
  ASSERT_GT(openVolume(), 0);
  using Names = std::vector<std::string>;
  const Names all = {"C0001.MXF", "C0001M01.XML", "C0002.MXF", "c0003.mxf", "C0010.MXF"};
  const struct {
    const char16_t* pattern;
    Names names;
    uint32_t windows = 0;  // user data also carries the Windows error of no match or the listing's end
  } cases[] = {
      // "*" alone over a whole folder: volume_namespace_test (TenThousandFiles...).
      {u"\\CLIP\\*.*", all},
      {u"\\CLIP\\*.MXF", {"C0001.MXF", "C0002.MXF", "c0003.mxf", "C0010.MXF"}},
      {u"\\CLIP\\C000?.MXF", {"C0001.MXF", "C0002.MXF", "c0003.mxf"}},
      {u"/clip/c001?.mxf", {"C0010.MXF"}},
      {u"\\CLIP\\C0001", {}},
      {u"\\CLIP\\X*", {}},
      // The DOS rules: a name without a dot matches as if it ended in one,
      // and question marks at the end may match nothing.
      {u"\\USERDATA\\abc.*", {"abc", "abc.txt"}, 18},
      {u"\\USERDATA\\*.", {"abc"}, 18},
      {u"\\USERDATA\\ABC?", {"abc"}, 18},
      // A name longer than the record's field (made outside the emulator)
      // is left out, never handed out cut.
      {u"\\USERDATA\\n*", {}, 2},
      {u"\\USERDATA\\none\\*", {}, 3},
      {u"\\*",
       {"ALIAS.XML", "CLIP", "COMPONENT", "DISCMETA.XML", "EDIT", "GENERAL", "INDEX.XML", "KELDA", "MEDIAPRO.XML",
        "SUB", "SYSPRO.XML", "USERDATA"}}};
  for (const auto& [pattern, expected, windows] : cases) {
    SCOPED_TRACE(quil::toUtf8(pattern));
    clearErrors();
    Names names;
    QUIL_FIND_DATA d{};
    const int32_t find = QUIL_FindFirstFile(volume, pattern, &d);
    if (find != -1) {
      do names.push_back(quil::toUtf8(std::u16string(d.name, std::find(d.name, d.name + 64, u'\0'))));
      while (QUIL_FindNextFile(find, &d) != 0);
    }
    EXPECT_EQ(last(), (Outcome{1000, windows})) << "no match, or the end of the listing";
    EXPECT_EQ(names, expected);
    if (find != -1) {
      EXPECT_NE(QUIL_FindClose(find), 0);
    }
  }
}

// --- the volume --------------------------------------------------------------------

// Opening through the drive folder and closing with files open are the
// exports' everyday path; these are the refusals and the 23-mode check.
TEST_F(ReaderTest, VolumeOpenChecksTheDisc) {
  editMedium([](MediumDescription& m) { m.is23ModeCheckOk = false; });
  QUIL_READER_VOLUME_PARAM p{};
  bool checkOk = true;
  ASSERT_GT(volume = QUIL_CreateVolume(root.c_str(), &p, &checkOk), 0);
  EXPECT_FALSE(checkOk);
  EXPECT_FAILS(QUIL_CreateVolume(u"/no/such/disc", &p, &checkOk), -1, -1000, 0);
  fs::remove(host("INDEX.XML"));
  EXPECT_FAILS(QUIL_CreateVolume(root.c_str(), &p, &checkOk), -1, -3002, 0);
  spit(host("INDEX.XML"), "<IndexTable/>");
  fs::remove(host(std::string(kMediumFileName)));
  EXPECT_FAILS(QUIL_CreateVolume(root.c_str(), &p, &checkOk), -1, -3002, 0);
}

TEST_F(ReaderTest, ClipIdIsStablePerClipAndCutToTheBuffer) {
  spit(host("CLIP/C0001.MXF"), "one");
  ASSERT_GT(openVolume(), 0);
  auto idOf = [&](const std::u16string& path, uint32_t size = 128) {
    const int32_t h = open(path, kRead, kOpenExisting);
    QUILCHAR id[128] = {};
    uint32_t length = 0;
    EXPECT_EQ(QUIL_GetClipId(h, id, size, &length) != 0, size > 58);
    EXPECT_EQ(length, 59u);
    QUIL_CloseHandle(h);
    return std::u16string(id);
  };
  const std::u16string first = idOf(u"\\CLIP\\C0001.MXF");
  EXPECT_EQ(first, clipIdentifier(folder, u"C0001")) << "the writer's test checks its value";
  EXPECT_EQ(idOf(u"\\clip\\c0001.mxf"), first);
  EXPECT_EQ(idOf(u"\\CLIP\\C0001.MXF", 8), first.substr(0, 7)) << "what fits, terminated";
  EXPECT_EQ(last().code, -5);
  const int32_t index = open(u"\\INDEX.XML", kRead, kOpenExisting);
  QUILCHAR small[8];
  EXPECT_FAILS(QUIL_GetClipId(index, small, 8, nullptr), 0, -6, 0);
}

// Clip numbers run to four digits.
TEST_F(ReaderTest, NrtInfoAndDataOfClipMetadata) {
  std::string meta(300, '\0');
  for (size_t i = 0; i < meta.size(); ++i) meta[i] = static_cast<char>(1 + i * 7);  // no two neighbours alike
  spit(host("CLIP/C1234M01.XML"), meta);
  ASSERT_GT(openVolume(), 0);
  NrtResult r{};
  const NrtInfoRequest info{1234, 0}, missing{2, 0}, zero{0, 0};
  ASSERT_EQ(QUIL_GetNRTinfo(volume, &info, &r), 1);
  EXPECT_EQ(std::tuple(r.value1, r.value2, r.pointer), std::tuple(300u, 1u, nullptr));
  const NrtDataRequest cut{1234, 100, 0}, whole{1234, 1000, 0};
  ASSERT_EQ(QUIL_GetNRTdata(volume, &cut, &r), 1);
  EXPECT_EQ(std::tuple(r.value1, r.value2), std::tuple(100u, 0u)) << "the file did not fit";
  EXPECT_EQ(std::string(static_cast<const char*>(r.pointer), 100), meta.substr(0, 100));
  ASSERT_EQ(QUIL_GetNRTdata(volume, &whole, &r), 1);
  EXPECT_EQ(std::tuple(r.value1, r.value2), std::tuple(300u, 1u));
  EXPECT_EQ(std::string(static_cast<const char*>(r.pointer), 300), meta);
  EXPECT_FAILS(QUIL_GetNRTinfo(volume, &missing, &r), 0, 1000, 0);
  EXPECT_FAILS(QUIL_GetNRTinfo(volume, &zero, &r), 0, -5, 0);
}

// The other notifications only reach the journal, where the exports' tests
// find them; a virtual alias also changes what \ALIAS.XML shows.
TEST_F(ReaderTest, VirtualAliasIsShownInsteadOfTheDiscs) {
  ASSERT_GT(openVolume(), 0);
  const std::string alias = "<AliasTable virtual=\"yes\"/>";
  const auto* aliasBytes = reinterpret_cast<const uint8_t*>(alias.data());
  EXPECT_EQ(QUIL_NotifyVirtualAlias(volume, aliasBytes, static_cast<uint32_t>(alias.size())), 1);
  EXPECT_FAILS(QUIL_NotifyCreateFile(volume + 100, 0, u"\\x"), 0, -4, 0);
  const auto journal = takeJournal();
  ASSERT_EQ(journal.size(), 1u) << "the refused notification is not recorded";
  EXPECT_EQ(std::string(journal[0].bytes.begin(), journal[0].bytes.end()), alias);

  EXPECT_EQ(readSome(open(u"\\ALIAS.XML", kRead, kOpenExisting), 256), alias) << "handed over, not the disc's";
  EXPECT_EQ(QUIL_NotifyVirtualAlias(volume, nullptr, 0), 1);
  EXPECT_EQ(readSome(open(u"\\ALIAS.XML", kRead, kOpenExisting), 256), slurp(host("ALIAS.XML")));
}

TEST_F(ReaderTest, InjectedFaultsFailTheNextCallOnlyAndNeverThrow) {
  spit(host("USERDATA/a.txt"), "abc");
  ASSERT_GT(openVolume(), 0);
  QUIL_FIND_DATA d{};
  // A reader error injected into the volume open reaches the caller's last
  // error in volume_session_test (OpeningFails/ReaderVolume).
  const std::tuple<FaultKind, const char*, std::function<bool()>, Outcome, const char16_t*> cases[] = {
      {FaultKind::kWindowsError, "QUIL_CreateFile",
       [&] { return open(u"\\USERDATA\\a.txt", kRead, kOpenExisting) > 0; }, {-1, 32}, u"bad sector"},
      {FaultKind::kStandardException, "QUIL_FindFirstFile",
       [&] { return QUIL_FindFirstFile(volume, u"\\USERDATA\\*", &d) > 0; }, {-1, 0},
       u"QUIL_FindFirstFile: bad sector"},
      {FaultKind::kNonStandardObject, "QUIL_GetVolumeCapacity",
       [&] { return QUIL_GetVolumeCapacity(volume, nullptr, nullptr) != 0; }, {-1, 0},
       u"QUIL_GetVolumeCapacity: an unknown exception was raised"}};
  for (const auto& [kind, function, call, outcome, text] : cases) {
    SCOPED_TRACE(function);
    failNext(function, 1, Fault{.kind = kind, .readerCode = -1308, .windowsError = 32, .message = u"bad sector"});
    clearErrors();
    EXPECT_FALSE(call());
    EXPECT_EQ(last(), outcome);
    QUILCHAR message[256] = {};
    QUIL_GetLastErrorWithMessage(message, 256, nullptr);
    EXPECT_EQ(std::u16string(message), text);
    EXPECT_TRUE(call()) << "only the next call fails";
  }
}

}  // namespace
