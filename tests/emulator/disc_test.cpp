// The emulator's own ground: path resolution, the medium description, the
// formatter, sharing between openers, space, the driver and fault injection.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "disc.h"
#include "quil/emulator_control.h"
#include "quil/platform_error.h"
#include "quil/sibling/quildriver.h"
#include "share_registry.h"

namespace {

namespace fs = std::filesystem;
using namespace quil::emulator;

std::string tempFolder(const char* tag) {
  const char* env = std::getenv("QUIL_TEST_TMP");
  const std::string base = env != nullptr && *env != '\0' ? env : "/tmp";
  std::string name = tag;
  for (auto& c : name) c = (c == '/') ? '_' : c;  // parameterised test names carry a slash
  const std::string dir = base + "/disc-" + name + "-" + std::to_string(getpid());
  fs::remove_all(dir);
  return dir;
}

class DiscTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    MediumDescription m;
    m.label = u"TESTDISC";
    m.capacity = 1 << 20;
    ASSERT_EQ(formatDisc(folder, m), "");
    reset();
  }
  void TearDown() override { fs::remove_all(folder); }
  std::string folder;
};

TEST_F(DiscTest, FormatterMakesTheTreeAndHidesTheMedium) {
  for (const char* name : {"INDEX.XML", "ALIAS.XML", "DISCMETA.XML", "MEDIAPRO.XML", "SYSPRO.XML"}) {
    EXPECT_TRUE(fs::is_regular_file(folder + "/" + name)) << name;
  }
  for (const char* name : {"CLIP", "SUB", "COMPONENT", "EDIT", "USERDATA", "GENERAL", "KELDA"}) {
    EXPECT_TRUE(fs::is_directory(folder + "/" + name)) << name;
  }
  std::ifstream in(folder + "/DISCMETA.XML");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("<DiscMeta xmlns=\"urn:schemas-orbelDisc:discMeta:ver.1.10\""), std::string::npos);
  EXPECT_NE(text.find("\t<KeldaIdRef value=\"urn:smpte:umid:"), std::string::npos);
  const auto m = MediumDescription::load(folder);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->label, u"TESTDISC");
  EXPECT_EQ(m->capacity, 1u << 20);
  EXPECT_FALSE(resolvePath(folder, u"\\.quil-medium"));
  EXPECT_NE(formatDisc(folder, MediumDescription{}), "") << "a disc is never formatted over another";
}

struct PathCase {
  const char16_t* path;
  bool accepted;
  const char* host;  // below the disc folder
  bool exists;
};

class ResolvePath : public DiscTest, public ::testing::WithParamInterface<PathCase> {};

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
                      PathCase{u"\\USERDATA\\a\u0001b", false, "", false},
                      PathCase{u"\\USERDATA\\trailing.", false, "", false},
                      PathCase{u"\\USERDATA\\what?", false, "", false},
                      PathCase{u"\\USERDATA\\lone\xD800", false, "", false},
                      PathCase{u"\\USERDATA\\\U0001F3A5", true, "/USERDATA/\xF0\x9F\x8E\xA5", false},
                      // The emulator's own files, in any case.
                      PathCase{u"\\.QUIL-MEDIUM", false, "", false},
                      PathCase{u"\\CLIP\\.Quil-tmp-1", false, "", false},
                      PathCase{u"\\USERDATA\\\u00c9t\u00e9.txt", true, "/USERDATA/\xC3\x89t\xC3\xA9.txt", false}));

TEST_F(DiscTest, NulInsideAPathIsRefused) {
  const std::u16string withNul(u"\\USERDATA\\a\0b", 13);
  EXPECT_FALSE(resolvePath(folder, withNul));
}

TEST_F(DiscTest, SharingFollowsWindowsRules) {
  auto& reg = ShareRegistry::instance();
  const std::string f = folder + "/USERDATA/x";
  const uint64_t reader = reg.acquire(f, kAccessRead, kShareRead);
  ASSERT_NE(reader, 0u);
  EXPECT_EQ(reg.acquire(f, kAccessWrite, kShareRead | kShareWrite), 0u) << "the reader does not share write";
  const uint64_t second = reg.acquire(f, kAccessRead, kShareRead);
  EXPECT_NE(second, 0u);
  EXPECT_TRUE(reg.blocksDelete(f));
  reg.release(reader);
  reg.release(second);
  EXPECT_FALSE(reg.isOpen(f));
  const uint64_t writer = reg.acquire(f, kAccessWrite, kShareRead | kShareWrite | kShareDelete);
  EXPECT_EQ(reg.acquire(f, kAccessRead, kShareRead), 0u) << "a reader must share the writer's write";
  const uint64_t sharing = reg.acquire(f, kAccessRead, kShareRead | kShareWrite);
  EXPECT_NE(sharing, 0u);
  EXPECT_TRUE(reg.blocksDelete(f)) << "the second reader does not share delete";
  reg.release(sharing);
  EXPECT_FALSE(reg.blocksDelete(f));
  reg.release(writer);
}

TEST_F(DiscTest, OpensForAttributesOnlyTakeNoPartInSharing) {
  auto& reg = ShareRegistry::instance();
  const std::string f = folder + "/USERDATA/y";
  const uint64_t attributes = reg.acquire(f, 0, 0);
  ASSERT_NE(attributes, 0u);
  const uint64_t reader = reg.acquire(f, kAccessRead, kShareRead);
  EXPECT_NE(reader, 0u);
  EXPECT_NE(reg.acquire(f, 0, 0), 0u) << "even against a reader that shares nothing but read";
  reg.release(reader);
  reg.release(attributes);
}

TEST_F(DiscTest, RefreshKeepsWhatOpenFilesHold) {
  auto& space = SpaceAccount::of(folder);
  space.refresh();
  const uint64_t before = space.freeBytes();
  ASSERT_EQ(space.reserve(4096), 4096u);  // held by an open file, not on the disc yet
  space.refresh();
  EXPECT_EQ(space.freeBytes(), before - 4096);
  std::ofstream(folder + "/USERDATA/outside", std::ios::binary) << std::string(10000, 'x');
  space.refresh();
  EXPECT_LE(space.freeBytes(), before - 10000) << "what was added outside counts";
  space.release(4096);
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

TEST_F(DiscTest, SpaceRunsOut) {
  auto& space = SpaceAccount::of(folder);
  space.refresh();
  const uint64_t free = space.freeBytes();
  ASSERT_GT(free, 0u);
  EXPECT_EQ(space.reserve(free - 10), free - 10);
  EXPECT_EQ(space.reserve(100), 10u) << "only what is left";
  EXPECT_EQ(space.reserve(1), 0u);
  space.release(50);
  EXPECT_EQ(space.freeBytes(), 50u);
}

class DriverTest : public DiscTest {
 protected:
  void SetUp() override {
    DiscTest::SetUp();
    drives = folder + "-drives";
    fs::create_directories(drives);
    fs::create_directory_symlink(folder, drives + "/e:");
    setenv("QUIL_DRIVES", drives.c_str(), 1);
  }
  void TearDown() override {
    fs::remove_all(drives);
    DiscTest::TearDown();
  }
  void setMedium(void (*change)(MediumDescription&)) {
    auto m = *MediumDescription::load(folder);
    change(m);
    ASSERT_TRUE(m.save(folder));
  }
  std::string drives;
};

TEST_F(DriverTest, AnswersTheSixControlCodes) {
  setMedium([](MediumDescription& m) { m.firmware = "0123", m.mediumType = 'W'; });
  const int32_t dev = QUILDriver_Open(u"\\\\.\\E:");
  ASSERT_NE(dev, -1);
  unsigned char mount[16];
  uint32_t got = 0;
  ASSERT_NE(QUILDriver_Control(dev, GLYSCTL_GET_VOLUME_MOUNT_INFORMATION, nullptr, 0, mount, 16, &got), 0);
  EXPECT_EQ(got, 16u);
  uint32_t notWritable = 1;
  std::memcpy(&notWritable, mount + 4, 4);
  EXPECT_EQ(notWritable, 0u);
  EXPECT_EQ(mount[12], 'W');
  unsigned char device[58];
  ASSERT_NE(QUILDriver_Control(dev, GLYSCTL_GET_DEVICE_INFORMATION, nullptr, 0, device, 58, &got), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(device + 24), 4), "0123");
  EXPECT_EQ(QUILDriver_Control(dev, GLYSCTL_GET_DEVICE_INFORMATION, nullptr, 0, device, 57, &got), 0);
  EXPECT_EQ(QUILPlatform_GetLastError(), 122u);
  ASSERT_NE(QUILDriver_Control(dev, GLYSCTL_REGISTER_PRIVILEGED_PROCESS, nullptr, 0, nullptr, 0, nullptr), 0);
  ASSERT_NE(QUILDriver_Control(dev, GLYSCTL_ENTER_PRIVILEGED_MODE, nullptr, 0, nullptr, 0, nullptr), 0);
  const uint32_t policy = 2;
  ASSERT_NE(QUILDriver_Control(dev, GLYSCTL_MARK_VOLUME_DIRTY, &policy, 4, nullptr, 0, nullptr), 0);
  auto s = driverState();
  EXPECT_EQ(s.registeredProcesses, 1u);
  EXPECT_TRUE(s.privileged);
  EXPECT_EQ(s.dirtyMarks, 1u);
  EXPECT_EQ(s.lastFlushPolicy, 2u);
  ASSERT_NE(QUILDriver_Control(dev, GLYSCTL_EXIT_PRIVILEGED_MODE, nullptr, 0, nullptr, 0, nullptr), 0);
  EXPECT_FALSE(driverState().privileged);
  EXPECT_EQ(QUILDriver_Control(dev, 0x00090000, nullptr, 0, nullptr, 0, nullptr), 0);
  EXPECT_EQ(QUILPlatform_GetLastError(), 1u);
  EXPECT_NE(QUILDriver_Close(dev), 0);
  EXPECT_EQ(QUILDriver_Close(dev), 0);
}

TEST_F(DriverTest, WriteOnceAndNotWritableMedia) {
  setMedium([](MediumDescription& m) { m.writeOnce = true, m.writable = false; });
  const int32_t dev = QUILDriver_Open(u"\\\\.\\e:");
  ASSERT_NE(dev, -1);
  unsigned char mount[16];
  ASSERT_NE(QUILDriver_Control(dev, GLYSCTL_GET_VOLUME_MOUNT_INFORMATION, nullptr, 0, mount, 16, nullptr), 0);
  EXPECT_EQ(mount[12], 0x52);
  EXPECT_EQ(mount[4], 1);
  QUILDriver_Close(dev);
}

TEST_F(DriverTest, UnknownDrivesAndInjectedFaults) {
  EXPECT_EQ(QUILDriver_Open(u"\\\\.\\Q:"), -1);
  EXPECT_EQ(QUILPlatform_GetLastError(), 2u);
  EXPECT_EQ(QUILDriver_Open(u"E:"), -1);
  Fault f;
  f.kind = FaultKind::kWindowsError;
  f.windowsError = 21;  // not ready
  failNext("DeviceIoControl", 1, f);
  const int32_t dev = QUILDriver_Open(u"\\\\.\\E:");
  ASSERT_NE(dev, -1);
  EXPECT_EQ(QUILDriver_Control(dev, GLYSCTL_REGISTER_PRIVILEGED_PROCESS, nullptr, 0, nullptr, 0, nullptr), 0);
  EXPECT_EQ(QUILPlatform_GetLastError(), 21u);
  EXPECT_NE(QUILDriver_Control(dev, GLYSCTL_REGISTER_PRIVILEGED_PROCESS, nullptr, 0, nullptr, 0, nullptr), 0)
      << "only the next call fails";
  QUILDriver_Close(dev);
}

TEST(EmulatorControl, JournalIsReadAndCleared) {
  reset();
  recordNotification(JournalEntry{"QUIL_NotifyDeleteFile", 0, u"\\Clip\\C0001.MXF", u"", {}});
  auto j = takeJournal();
  ASSERT_EQ(j.size(), 1u);
  EXPECT_EQ(j[0].function, "QUIL_NotifyDeleteFile");
  EXPECT_TRUE(takeJournal().empty());
}

}  // namespace
