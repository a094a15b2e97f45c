// Nothing outside the disc folder is reachable through a link inside it:
// every reader, writer and formatter operation refuses a path through a
// link to a file or a folder outside, leaves the outside as it was, and a
// link swapped in while a path is being used is refused as well.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "disc_folder.h"

namespace {

using namespace emutest;
using namespace quil::emulator;

constexpr uint32_t kInvalidName = 0x86000003, kNotFound = 0x86000010, kUnsupportedTree = 0x8400000F;
constexpr auto kStrict = QUILWriter::QUIL_NAMING_STRICT;

// Every entry below a folder with its kind, mode and content.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const auto status = e.symlink_status();
    out[fs::relative(e.path(), folder).string()] = std::to_string(static_cast<int>(status.type())) + ":" +
                                                   std::to_string(static_cast<int>(status.permissions())) + ":" +
                                                   (fs::is_regular_file(status) ? slurp(e.path()) : "");
  }
  return out;
}

class LinkTest : public DiscFolder {
 protected:
  void SetUp() override {
    DiscFolder::SetUp();
    outside = folder + "-outside";
    fs::remove_all(outside);
    fs::create_directories(outside + "/sub");
    spit(outside + "/secret.txt", "host secret");
    spit(folder + "/USERDATA/real.txt", "inside");
    const std::pair<const char*, std::string> links[] = {
        {"USERDATA/dirlink", outside},          {"USERDATA/filelink", outside + "/secret.txt"},
        {"USERDATA/dangling", outside + "/planted.txt"}, {"CLIP/C0009.MXF", outside + "/secret.txt"},
        {"CLIP/C0001M01.XML", outside + "/secret.txt"}, {"CLIP/C0003M02.KLV", outside + "/planted.txt"},
        {"CLIP/C0011.MXF", outside + "/planted.txt"}};
    for (const auto& [at, target] : links) fs::create_symlink(target, folder + "/" + at);
    before = snapshot(outside);
  }
  void TearDown() override {
    useKernelWalk(true);
    fs::remove_all(outside);
    DiscFolder::TearDown();
  }
  std::string outside;
  std::map<std::string, std::string> before;
};

struct ReaderCase {
  const char* what;
  std::function<int32_t(int32_t volume)> call;
  int32_t code;
  uint32_t windows;
};

TEST_F(LinkTest, ReaderRefusesEveryPathThroughALink) {
  QUIL_READER_VOLUME_PARAM p{};
  const int32_t v = QUIL_CreateVolume(root.c_str(), &p, nullptr);
  ASSERT_GT(v, 0);
  const auto open = [](const char16_t* path, uint32_t access, uint32_t disposition) {
    return [=](int32_t volume) { return QUIL_CreateFile(volume, path, access, 3, nullptr, disposition, 0, nullptr); };
  };
  QUIL_FIND_DATA data{};
  uint32_t bits = 0;
  const NrtDataRequest request{1, 100, 0};
  NrtResult result{};
  const ReaderCase cases[] = {
      {"read through a folder link", open(u"\\USERDATA\\dirlink\\secret.txt", kRead, kOpenExisting), -9, 123},
      {"truncate a file link", open(u"\\USERDATA\\filelink", kWrite, kCreateAlways), -9, 123},
      {"create through a dangling link", open(u"\\USERDATA\\dangling", kWrite, kOpenAlways), -9, 123},
      {"read a clip link", open(u"\\CLIP\\C0009.MXF", kRead, kOpenExisting), -9, 0},
      // A call that answers with a BOOL gives -1 for its failure.
      {"attributes of a file link",
       [&](int32_t vol) { return QUIL_GetFileAttributes(vol, u"\\USERDATA\\filelink", &bits) != 0 ? 1 : -1; }, -9, 123},
      {"list a folder link", [&](int32_t vol) { return QUIL_FindFirstFile(vol, u"\\USERDATA\\dirlink\\*", &data); },
       -9, 123},
      // Its size (QUIL_GetNRTinfo) is found through the same lookup.
      {"metadata of a linked file",
       [&](int32_t vol) { return QUIL_GetNRTdata(vol, &request, &result) != 0 ? 1 : -1; }, 1000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FAILS(c.call(v), -1, c.code, c.windows);
    EXPECT_EQ(snapshot(outside), before);
  }
  // A listing shows what is on the disc and no link.
  const int32_t find = QUIL_FindFirstFile(v, u"\\USERDATA\\*", &data);
  ASSERT_GT(find, 0);
  std::set<std::u16string> names{data.name};
  while (QUIL_FindNextFile(find, &data) != 0) names.insert(data.name);
  QUIL_FindClose(find);
  EXPECT_EQ(names, std::set<std::u16string>{u"real.txt"});
  QUIL_CloseVolume(v);
}

struct WriterCase {
  const char* what;
  uint32_t windows;  // 123 for user data, none for the AV tree
  std::function<void(const std::u16string& root)> call;
  uint32_t code = kInvalidName;
};

TEST_F(LinkTest, WriterRefusesEveryPathThroughALink) {
  using namespace QUILWriter;
  const auto create = [](const char16_t* name, uint32_t disposition) {
    return [=](auto& r) { UserDataWriter::createFile(r, name, kWrite, 0, nullptr, disposition, 0, nullptr, false); };
  };
  const WriterCase cases[] = {
      {"create in a folder link", 123, create(u"dirlink\\planted.txt", kCreateNew)},
      {"truncate a file link", 123, create(u"filelink", kCreateAlways)},
      {"delete a file link", 123, [](auto& r) { DeleteUserDataFile(r, u"filelink"); }},
      {"move out of a folder link", 123, [](auto& r) { MoveUserDataFile(r, u"dirlink\\secret.txt", u"stolen"); }},
      {"move into a folder link", 123, [](auto& r) { MoveUserDataFile(r, u"real.txt", u"dirlink\\planted.txt"); }},
      {"make a folder in a folder link", 123, [](auto& r) { CreateUserDataDirectory(r, u"dirlink\\x", nullptr); }},
      {"remove a folder through a link", 123, [](auto& r) { RemoveUserDataDirectory(r, u"dirlink\\sub"); }},
      {"lock a file link", 123, [](auto& r) { SetUserDataFileAttributes(r, u"filelink", 1); }},
      {"clip metadata that is a link", 0, [](auto& r) { ClipNRTMetaWriter::open(r, u"C0001", kStrict); }},
      {"user metadata at a dangling link", 0, [](auto& r) { UserMetaWriter::create(r, u"C0003", kStrict); }},
      {"record at a dangling link", 0, [](auto& r) { ClipWriter::create(r, u"C0011", _Clip_Param{}); }},
      {"delete a linked clip", 0, [](auto& r) { DeleteClipFile(r, u"C0009", kStrict); }},
      {"rename a linked clip", 0, [](auto& r) { RenameClipFile(r, u"C0009", u"C0020", kStrict); }},
      {"lock a linked clip", 0, [](auto& r) { LockClipFile(r, u"C0009", true, kStrict); }},
      {"check a tree holding links", 0,
       [](auto& r) { std::string id; QUIL_AliasRename alias; CheckKeldaFile(r, _Volume_Param{}, id, alias); },
       kUnsupportedTree},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QUILWriterLastError::QUILLastErrorManager::clear();
    EXPECT_EQ(thrownBy([&] { c.call(root); }), c.code);
    EXPECT_EQ(QUILWriterLastError::QUILLastErrorManager::get(), c.windows);
    EXPECT_EQ(snapshot(outside), before);
    EXPECT_EQ(slurp(folder + "/USERDATA/real.txt"), "inside");
  }
}

TEST_F(LinkTest, FormatterAndMediumFileNeverFollowALink) {
  const std::string fresh = folder + "-fresh";
  fs::remove_all(fresh);
  fs::create_directories(fresh);
  fs::create_directory_symlink(outside, fresh + "/CLIP");
  EXPECT_NE(formatDisc(fresh, MediumDescription{}), "");
  EXPECT_FALSE(fs::exists(fresh + "/INDEX.XML"));
  fs::remove_all(fresh);

  // The medium description and the space count read the disc folder too.
  spit(outside + "/big", std::string(5000, 'x'));
  spit(outside + "/medium", "capacity=999\nlabel=STOLEN\n");
  before = snapshot(outside);
  const uint64_t used = usedBytes(folder);
  fs::create_symlink(outside + "/big", folder + "/USERDATA/big");
  EXPECT_EQ(usedBytes(folder), used) << "what a link points at is not on the disc";
  fs::remove(folder + "/.quil-medium");
  fs::create_symlink(outside + "/medium", folder + "/.quil-medium");
  EXPECT_FALSE(MediumDescription::load(folder));
  EXPECT_TRUE(MediumDescription{}.save(folder));
  EXPECT_FALSE(fs::is_symlink(folder + "/.quil-medium")) << "the link is replaced, not written through";
  EXPECT_EQ(snapshot(outside), before);
}

// --- a link swapped in after the path was resolved ------------------------------

class SwappedLink : public LinkTest, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    useKernelWalk(GetParam());
    fs::create_directory(folder + "/USERDATA/sw");
    spit(folder + "/USERDATA/sw/f.txt", "inside");
    spit(outside + "/f.txt", "OUTSIDE");
    before = snapshot(outside);
  }
};

TEST_P(SwappedLink, EveryCallRefusesALinkThatAppearedAfterResolving) {
  const std::string sw = folder + "/USERDATA/sw";
  const struct {
    const char* what;
    std::function<int()> call;
  } cases[] = {
      {"open", [&] { return openBeneath(folder, sw + "/f.txt", O_RDONLY); }},
      {"create", [&] { return openBeneath(folder, sw + "/planted.txt", O_WRONLY | O_CREAT, 0644); }},
      {"stat", [&] { struct stat st {}; return statBeneath(folder, sw + "/f.txt", st); }},
      {"mkdir", [&] { return mkdirBeneath(folder, sw + "/made", 0755); }},
      {"remove", [&] { return removeBeneath(folder, sw + "/f.txt", false); }},
      {"rename out", [&] { return renameBeneath(folder, sw + "/f.txt", folder + "/USERDATA/stolen"); }},
      {"rename in", [&] { return renameBeneath(folder, folder + "/USERDATA/real.txt", sw + "/planted.txt"); }},
      {"chmod", [&] { return chmodBeneath(folder, sw + "/f.txt", 0); }},
      {"list", [&] { return openBeneath(folder, sw, O_RDONLY | O_DIRECTORY); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(resolvePath(folder, u"\\USERDATA\\sw\\f.txt")->exists);
    // The resolver, asked again, would refuse it: disc_test's
    // LookupsInAnotherCaseFollowEveryChangeOfTheFolder walks a link that way.
    fs::rename(sw, sw + ".real");  // a link to the outside folder takes its place
    fs::create_directory_symlink(outside, sw);
    errno = 0;
    EXPECT_EQ(c.call(), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(snapshot(outside), before);
    fs::remove(sw);
    fs::rename(sw + ".real", sw);
  }
  // The last component swapped for a link to a file outside.
  fs::remove(sw + "/f.txt");
  fs::create_symlink(outside + "/f.txt", sw + "/f.txt");
  struct stat st {};
  EXPECT_EQ(openBeneath(folder, sw + "/f.txt", O_RDONLY), -1);
  EXPECT_EQ(statBeneath(folder, sw + "/f.txt", st), -1);
  EXPECT_EQ(chmodBeneath(folder, sw + "/f.txt", 0), -1);
  EXPECT_EQ(errno, ELOOP);
  EXPECT_EQ(snapshot(outside), before);
}

// One thread keeps exchanging USERDATA/sw with a link to the outside folder
// while another opens through it: no open may ever reach the outside.
TEST_P(SwappedLink, NoOpenRacingASwapReachesTheOutside) {
  fs::create_directory_symlink(outside, folder + "/USERDATA/alt");
  const std::string sw = folder + "/USERDATA/sw", alt = folder + "/USERDATA/alt";
  std::atomic<bool> stop{false};
  std::atomic<long> swaps{0};
  std::thread swapper([&] {
    while (!stop) {
      if (renameat2(AT_FDCWD, sw.c_str(), AT_FDCWD, alt.c_str(), RENAME_EXCHANGE) == 0) ++swaps;
    }
  });
  QUIL_READER_VOLUME_PARAM p{};
  const int32_t v = QUIL_CreateVolume(root.c_str(), &p, nullptr);
  ASSERT_GT(v, 0);
  // A read, a refused read, a write and a refused write, and no other outcome.
  const std::set<std::string> expected{"read inside", "reader -9", "written", "writer invalid name"};
  std::set<std::string> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int i = 0; (i < 2000 || !std::ranges::includes(seen, expected)) && std::chrono::steady_clock::now() < deadline;
       ++i) {
    const int32_t h = QUIL_CreateFile(v, u"\\USERDATA\\sw\\f.txt", kRead, 3, nullptr, kOpenExisting, 0, nullptr);
    if (h > 0) {
      char text[16] = {};
      uint32_t done = 0;
      QUIL_ReadFile(h, text, sizeof text, &done);
      seen.insert("read " + std::string(text, done));
      QUIL_CloseHandle(h);
    } else {
      seen.insert("reader " + std::to_string(QUIL_GetLastErrorWithMessage(nullptr, 0, nullptr)));
    }
    const std::u16string name = u"sw\\n" + quil::fromUtf8(std::to_string(i));
    try {
      QUILWriter::UserDataWriter::createFile(root, name, kWrite, 0, nullptr, kCreateNew, 0, nullptr, false)->Close();
      seen.insert("written");
    } catch (const QUILWriter::QUILWriterException& e) {
      seen.insert(e.errorCode() == kInvalidName ? "writer invalid name"
                  : e.errorCode() == kNotFound  ? "writer not found"
                                                : "writer " + std::to_string(e.errorCode()));
    }
  }
  stop = true;
  swapper.join();
  QUIL_CloseVolume(v);
  seen.erase("writer not found");  // the folder was a link when its existence was checked
  EXPECT_EQ(seen, expected);
  EXPECT_GT(swaps.load(), 0);
  EXPECT_EQ(snapshot(outside), before);
}

INSTANTIATE_TEST_SUITE_P(Walks, SwappedLink, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Kernel" : "Own"; });

}  // namespace
