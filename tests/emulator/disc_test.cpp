// The emulator's own ground: path resolution, sharing between openers,
// space, the medium description under concurrent saves, and the driver's
// refusals. The formatter keeps the medium it is given and never formats over
// a disc: quil_tool_test (UsageErrors, ARecordingsStopReasonIsKnownWithLoggingOff)
// and the clip identifiers built from its KeldaIdRef (writer_test).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "disc_folder.h"
#include "quil/platform_error.h"
#include "quil/sibling/quildriver.h"
#include "share_registry.h"

namespace {

using namespace emutest;
using namespace quil::emulator;
using namespace std::string_view_literals;

using DiscTest = DiscFolder;

// One unit longer than a name may be.
const std::u16string kOverlongName = u"\\USERDATA\\" + std::u16string(256, u'n');

struct PathCase {
  std::u16string_view path;
  bool accepted;
  const char* host;  // below the disc folder
  bool exists;
};

class ResolvePath : public DiscFolder, public ::testing::WithParamInterface<PathCase> {};

TEST_P(ResolvePath, StaysInsideTheDiscAndMatchesWithoutCase) {
  const auto& c = GetParam();
  const auto r = resolvePath(folder, c.path);
  ASSERT_EQ(r.has_value(), c.accepted);
  if (!c.accepted) return;
  EXPECT_EQ(r->host, folder + c.host);
  EXPECT_EQ(r->exists, c.exists);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ResolvePath,
    ::testing::Values(PathCase{u"\\index.xml", true, "/INDEX.XML", true},
                      PathCase{u"/clip/", true, "/CLIP", true},
                      PathCase{u"\\Clip\\C0001.MXF", true, "/CLIP/C0001.MXF", false},
                      PathCase{u"\\UserData\\new\\deeper.txt", true, "/USERDATA/new/deeper.txt", false},
                      PathCase{u"\\USERDATA\\..\\..\\etc\\passwd", false, "", false},
                      PathCase{u"\\USERDATA\\.", false, "", false},
                      PathCase{u"\\C:\\x", false, "", false},
                      PathCase{u"\\USERDATA\\a\u001Fb", false, "", false},  // the last control character
                      PathCase{kOverlongName, false, "", false},
                      PathCase{u"\\USERDATA\\a\0b"sv, false, "", false},
                      PathCase{u"\\USERDATA\\trailing.", false, "", false},
                      PathCase{u"\\USERDATA\\what?", false, "", false},
                      PathCase{u"\\USERDATA\\lone\xD800", false, "", false},
                      PathCase{u"\\USERDATA\\\U0001F3A5", true, "/USERDATA/\xF0\x9F\x8E\xA5", false},
                      // The emulator's own files, in any case.
                      PathCase{u"\\.QUIL-MEDIUM", false, "", false},
                      PathCase{u"\\CLIP\\.Quil-tmp-1", false, "", false},
                      PathCase{u"\\USERDATA\\\u00c9t\u00e9.txt", true, "/USERDATA/\xC3\x89t\xC3\xA9.txt", false}));

// The name index behind case-insensitive lookups follows the folder: the
// emulator's own changes and changes made behind its back alike.
TEST_F(DiscTest, LookupsInAnotherCaseFollowEveryChangeOfTheFolder) {
  const auto resolved = [&](std::u16string_view path) {
    const auto r = resolvePath(folder, path);
    return r && r->exists ? r->host.substr(folder.size()) : std::string("-");
  };
  spit(host("USERDATA/Alpha.txt"), "a");
  EXPECT_EQ(resolved(u"\\userdata\\ALPHA.TXT"), "/USERDATA/Alpha.txt");
  // Behind the emulator's back: a rename, a new name, a removal.
  fs::rename(host("USERDATA/Alpha.txt"), host("USERDATA/Beta.txt"));
  EXPECT_EQ(resolved(u"\\USERDATA\\alpha.txt"), "-");
  EXPECT_EQ(resolved(u"\\USERDATA\\BETA.TXT"), "/USERDATA/Beta.txt");
  spit(host("USERDATA/Gamma.txt"), "g");
  EXPECT_EQ(resolved(u"\\USERDATA\\gamma.TXT"), "/USERDATA/Gamma.txt");
  fs::remove(host("USERDATA/Gamma.txt"));
  EXPECT_EQ(resolved(u"\\USERDATA\\gamma.txt"), "-");
  // The emulator's own: a rename through the writer is seen at once.
  QUILWriter::MoveUserDataFile(root, u"beta.txt", u"Delta.txt");
  EXPECT_EQ(resolved(u"\\USERDATA\\BETA.txt"), "-");
  EXPECT_EQ(resolved(u"\\USERDATA\\delta.TXT"), "/USERDATA/Delta.txt");
  // A link in another case's place is refused, as one spelled exactly is.
  fs::create_symlink("/etc", host("USERDATA/Outside"));
  bool throughLink = false;
  EXPECT_FALSE(resolvePath(folder, u"\\USERDATA\\OUTSIDE\\passwd", &throughLink));
  EXPECT_TRUE(throughLink);
  EXPECT_FALSE(resolvePath(folder, u"\\USERDATA\\Outside\\passwd", &throughLink));
  EXPECT_TRUE(throughLink);
}

// The disc folder's descriptor is kept between calls, but not past its
// volume, and a disc made anew at its path is the one read: at once when
// the old folder was removed, and from the next check of the path (a
// writer call, a volume opening) when it was moved aside.
TEST_F(DiscTest, ADiscMadeAnewAtThePathIsTheOneRead) {
  const auto exists = [&](std::u16string_view path) { return resolvePath(folder, path)->exists; };
  spit(host("USERDATA/old.txt"), "o");
  ASSERT_TRUE(exists(u"\\USERDATA\\old.txt"));
  // A closed volume leaves the folder free: on a removable medium it could
  // not be unmounted otherwise.
  const auto descriptorsOfTheFolder = [&] {
    int n = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      n += fs::read_symlink(fd.path(), ec) == fs::path(folder) ? 1 : 0;
    }
    return n;
  };
  QUIL_READER_VOLUME_PARAM p{};
  const int32_t v = QUIL_CreateVolume(root.c_str(), &p, nullptr);
  ASSERT_GT(v, 0);
  EXPECT_TRUE(exists(u"\\USERDATA\\old.txt"));
  EXPECT_EQ(descriptorsOfTheFolder(), 1);
  EXPECT_NE(QUIL_CloseVolume(v), 0);
  EXPECT_EQ(descriptorsOfTheFolder(), 0);
  ASSERT_TRUE(exists(u"\\USERDATA\\old.txt"));  // held again
  fs::remove_all(folder);
  fs::create_directories(host("USERDATA"));
  spit(host("USERDATA/new.txt"), "n");
  EXPECT_FALSE(exists(u"\\USERDATA\\old.txt"));
  EXPECT_TRUE(exists(u"\\USERDATA\\new.txt"));
  fs::rename(folder, folder + ".aside");
  fs::create_directories(host("USERDATA"));
  spit(host("USERDATA/third.txt"), "t");
  EXPECT_EQ(discFolderOfRoot(root), folder);
  EXPECT_TRUE(exists(u"\\USERDATA\\third.txt"));
  EXPECT_FALSE(exists(u"\\USERDATA\\new.txt"));
  fs::remove_all(folder + ".aside");
}

// Readers that share reading coexist in reader_test, and an open that
// shares nothing blocks a delete in writer_test's refusals.
TEST_F(DiscTest, SharingFollowsWindowsRules) {
  auto& reg = ShareRegistry::instance();
  const std::string f = host("USERDATA/x");
  const uint64_t reader = reg.acquire(folder, f, kAccessRead, kShareRead);
  ASSERT_NE(reader, 0u);
  EXPECT_EQ(reg.acquire(folder, f, kAccessWrite, kShareRead | kShareWrite), 0u) << "the reader does not share write";
  const uint64_t attributes = reg.acquire(folder, f, 0, 0);
  EXPECT_NE(attributes, 0u) << "an open for attributes only takes no part in sharing";
  reg.release(reader);
  reg.release(attributes);
  const uint64_t writer = reg.acquire(folder, f, kAccessWrite, kShareRead | kShareWrite | kShareDelete);
  EXPECT_EQ(reg.acquire(folder, f, kAccessRead, kShareRead), 0u) << "a reader must share the writer's write";
  const uint64_t sharing = reg.acquire(folder, f, kAccessRead, kShareRead | kShareWrite);
  EXPECT_NE(sharing, 0u);
  EXPECT_TRUE(reg.blocksDelete(folder, f)) << "the second reader does not share delete";
  reg.release(sharing);
  EXPECT_FALSE(reg.blocksDelete(folder, f));
  reg.release(writer);
}

TEST_F(DiscTest, SpaceRunsOutAndRefreshKeepsWhatOpenFilesHold) {
  auto& space = SpaceAccount::of(folder);
  space.refresh();
  const uint64_t before = space.freeBytes();
  ASSERT_EQ(space.reserve(4096), 4096u);  // held by an open file, not on the disc yet
  space.refresh();
  EXPECT_EQ(space.freeBytes(), before - 4096);
  spit(host("USERDATA/outside"), std::string(10000, 'x'));
  space.refresh();
  EXPECT_LE(space.freeBytes(), before - 10000) << "what was added outside counts";
  const uint64_t free = space.freeBytes();
  ASSERT_GT(free, 10u);
  EXPECT_EQ(space.reserve(free - 10), free - 10);
  EXPECT_EQ(space.reserve(100), 10u) << "only what is left";
  EXPECT_EQ(space.reserve(1), 0u);
  space.release(50);
  EXPECT_EQ(space.freeBytes(), 50u);
}

TEST_F(DiscTest, ConcurrentSavesOfTheMediumNeverFailOrTear) {
  auto m = *MediumDescription::load(folder);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      auto mine = m;
      for (int i = 0; i < 100; ++i) {
        mine.label = t == 0 ? u"FIRST" : u"SECOND";
        if (!mine.save(folder)) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  const auto after = MediumDescription::load(folder);
  ASSERT_TRUE(after);
  EXPECT_TRUE(after->label == u"FIRST" || after->label == u"SECOND");
  EXPECT_EQ(after->capacity, m.capacity);
  for (const auto& e : fs::directory_iterator(folder)) {
    EXPECT_EQ(e.path().filename().string().find(".new"), std::string::npos) << "no temporary left behind";
  }
}

// What the core never asks of the driver; the control codes it uses, and
// faults injected into them, are checked through the writer volume and the
// exports, and a drive with no link in the drive folder through the quil
// tool (FirstUseProblemsSayWhatToFix).
TEST_F(DiscTest, DriverRefusals) {
  const std::string drives = folder + "-drives";
  fs::create_directories(drives);
  fs::create_directory_symlink(folder, drives + "/e:");
  setenv("QUIL_DRIVES", drives.c_str(), 1);
  EXPECT_EQ(QUILDriver_Open(u"E:"), -1);
  const int32_t dev = QUILDriver_Open(u"\\\\.\\e:");
  ASSERT_NE(dev, -1);
  unsigned char device[58];
  uint32_t got = 0;
  EXPECT_EQ(QUILDriver_Control(dev, GLYSCTL_GET_DEVICE_INFORMATION, nullptr, 0, device, 57, &got), 0);
  EXPECT_EQ(QUILPlatform_GetLastError(), 122u);
  EXPECT_EQ(QUILDriver_Control(dev, 0x00090000, nullptr, 0, nullptr, 0, nullptr), 0);
  EXPECT_EQ(QUILPlatform_GetLastError(), 1u);
  EXPECT_NE(QUILDriver_Close(dev), 0);
  EXPECT_EQ(QUILDriver_Close(dev), 0);
  fs::remove_all(drives);
}

}  // namespace
