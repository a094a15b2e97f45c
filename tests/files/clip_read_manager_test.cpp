// The clip read manager against a recording reader: the exact reader calls
// behind evictions, reopens and the replayed position, and the count of open
// reader handles after each.
#include "files/clip_read_manager.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using quil::files::ClipReadEntry;
using quil::files::ClipReadManager;
using Calls = std::vector<std::string>;
using Entries = std::vector<const ClipReadEntry*>;

constexpr int32_t kVolume = 7;
constexpr int64_t kFileSize = 100000;

// What the fake reader saw and what it is told to do.
struct Recorder {
  Calls calls;
  int32_t nextHandle = 100;
  int failCreates = 0;                                                  // the next n creates fail
  std::map<int32_t, std::pair<int32_t, std::u16string>> closeFailures;  // handle -> code, message
  std::map<int32_t, int64_t> position;  // the reader's own position per open handle
  int32_t lastError = 0;
  std::u16string lastMessage;
  bool failRead = false;
  const void* lastExtra = nullptr;  // the pointer the last create received
} gRec;

void record(const char* format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  gRec.calls.emplace_back(text);
}
std::string ascii(std::u16string_view s) { return std::string(s.begin(), s.end()); }

const quil::sibling::ReaderLibrary kFake = {
    [](int32_t volume, const QUILCHAR* path, uint32_t access, uint32_t share, void* security, uint32_t disposition,
       uint32_t flags, void* extra) {
      const std::string x = extra == nullptr ? "none" : std::to_string(*static_cast<unsigned long long*>(extra));
      gRec.lastExtra = extra;
      record("create v%d %s a%X s%X sec%d d%u f%X x%s", volume, ascii(path).c_str(), access, share,
             security != nullptr, disposition, flags, x.c_str());
      if (gRec.failCreates > 0) return --gRec.failCreates, -1;
      const int32_t h = gRec.nextHandle++;
      gRec.position[h] = 0;
      return h;
    },
    [](int32_t file) {
      record("close %d", file);
      gRec.position.erase(file);
      const auto it = gRec.closeFailures.find(file);
      if (it == gRec.closeFailures.end()) return 1;
      std::tie(gRec.lastError, gRec.lastMessage) = it->second;
      return 0;
    },
    // Fills the buffer with the low byte of each file offset, so the bytes
    // show where the read was made. A failing read may still report bytes.
    [](int32_t file, void* buffer, uint32_t size, uint32_t* done) {
      record("read %d %u", file, size);
      *done = gRec.position.count(file) == 0 ? 0 : gRec.failRead ? size / 2 : size;
      if (gRec.position.count(file) == 0 || gRec.failRead) return 0;
      for (uint32_t i = 0; i < size; ++i) static_cast<unsigned char*>(buffer)[i] = gRec.position[file] + i;
      gRec.position[file] += size;
      return 1;
    },
    [](int32_t file, int64_t distance, int64_t* position, uint32_t method) {
      record("seek %d %lld %u%s", file, static_cast<long long>(distance), method, position == nullptr ? " -" : "");
      if (gRec.position.count(file) == 0) return 0;
      int64_t& p = gRec.position[file];
      p = method == 0 ? distance : method == 1 ? p + distance : kFileSize + distance;
      if (position != nullptr) *position = p;
      return 1;
    },
    [](QUILCHAR* buffer, uint32_t length, uint32_t* textLength) {
      record("getLastError %u", length);
      *textLength = static_cast<uint32_t>(gRec.lastMessage.copy(buffer, length - 1));
      buffer[*textLength] = 0;
      return gRec.lastError;
    },
    [](int32_t code, const QUILCHAR* message) { record("setLastError %d %s", code, ascii(message).c_str()); }};

class ClipReads : public testing::Test {
 protected:
  void SetUp() override { gRec = Recorder(); }

  static ClipReadEntry* open(ClipReadManager& m, const char16_t* path) {
    return m.create(path, 0x80000000u, 1, 3, 0x80, nullptr);
  }
  // The reader's create call as open() makes it.
  static std::string opened(const char* path) {
    return std::string("create v7 ") + path + " a80000000 s1 sec0 d3 f80 xnone";
  }
  // The calls made since the last look.
  static Calls take() { return std::exchange(gRec.calls, {}); }
  static Entries order(const ClipReadManager& m) {
    Entries out;
    for (const ClipReadEntry* e = m.head(); e != nullptr; e = e->next) out.push_back(e);
    return out;
  }
};

TEST_F(ClipReads, LimitOfTwoEvictsTheLeastRecentlyUsedAndReplaysThePosition) {
  ClipReadManager m(2, kVolume, kFake);
  ClipReadEntry* a = open(m, u"A");
  unsigned char buffer[16] = {};
  uint32_t done = 0;
  ASSERT_NE(m.read(a, buffer, 10, &done), 0);
  ClipReadEntry* b = open(m, u"B");
  ClipReadEntry* c = open(m, u"C");
  EXPECT_EQ(take(), (Calls{opened("A"), "seek 100 0 0 -", "read 100 10", opened("B"), opened("C"), "close 100"}));
  EXPECT_FALSE(a->isOpen());
  EXPECT_EQ(m.openCount(), 2u);

  ASSERT_NE(m.read(a, buffer, 5, &done), 0);
  EXPECT_EQ(take(), (Calls{opened("A"), "close 101", "seek 103 10 0 -", "read 103 5"}));
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(buffer[0], 10);  // read where the caller left off
  EXPECT_EQ(a->position, 15u);
  EXPECT_FALSE(b->isOpen());
  EXPECT_TRUE(c->isOpen());
  EXPECT_EQ(m.openCount(), 2u);
  EXPECT_EQ(order(m), (Entries{b, c, a}));  // the read moved A to the end
}

TEST_F(ClipReads, SeekOnAnEvictedEntryReopensThenSeeks) {
  // A move from the current position is made from the start: the reopened
  // reader's own position is 0. Seeks without eviction, from the start and
  // the end, are in disc_image_test (ReadsAtAnyOffsetAndSeeks).
  const std::tuple<int64_t, uint32_t, const char*, int64_t> cases[] = {  // distance, method, reader seek, position
      {-3, 1, "seek 102 1 0", 1},
      {-5, 2, "seek 102 -5 2", kFileSize - 5}};
  for (const auto& [distance, method, seek, position] : cases) {
    SCOPED_TRACE(seek);
    gRec = Recorder();
    ClipReadManager m(1, kVolume, kFake);
    ClipReadEntry* a = open(m, u"A");
    unsigned char buffer[4];
    ASSERT_NE(m.read(a, buffer, 4, nullptr), 0);
    open(m, u"B");
    take();
    int64_t out = -1;
    ASSERT_NE(m.setFilePointer(a, distance, &out, method), 0);
    EXPECT_EQ(take(), (Calls{opened("A"), "close 101", seek}));
    EXPECT_EQ(out, position);
    EXPECT_EQ(a->position, static_cast<uint64_t>(position));
    EXPECT_EQ(m.openCount(), 1u);
  }
}

// A failed read hands on what the reader reported but does not advance.
TEST_F(ClipReads, FailedReadDoesNotAdvance) {
  ClipReadManager m(2, kVolume, kFake);
  ClipReadEntry* a = open(m, u"A");
  EXPECT_NE(m.setFilePointer(a, 1234, nullptr, 0), 0);
  gRec.failRead = true;
  unsigned char buffer[8];
  uint32_t done = 99;
  EXPECT_EQ(m.read(a, buffer, 8, &done), 0);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(a->position, 1234u);
}

TEST_F(ClipReads, FailedClosesSurfaceAtTheOwnersClose) {
  ClipReadManager m(1, kVolume, kFake);
  ClipReadEntry* a = open(m, u"A");
  take();
  gRec.closeFailures[100] = {-3020, u"drive busy"};
  ClipReadEntry* b = open(m, u"B");
  ASSERT_NE(b, nullptr);  // the failed close does not stop the open
  EXPECT_EQ(take(), (Calls{opened("B"), "close 100", "getLastError 256"}));
  EXPECT_EQ(m.openCount(), 1u);

  EXPECT_EQ(m.close(a), 0);
  EXPECT_EQ(take(), (Calls{"setLastError -3020 drive busy"}));
  EXPECT_EQ(order(m), (Entries{b}));
  // Evicted cleanly: its close makes no reader call and reports success.
  ClipReadEntry* c = open(m, u"C");
  take();
  EXPECT_EQ(m.close(b), 1);
  EXPECT_EQ(m.close(c), 1);
  EXPECT_EQ(take(), (Calls{"close 102"}));
  EXPECT_EQ(m.head(), nullptr);
  EXPECT_EQ(m.openCount(), 0u);

  // A failed close of an open entry is returned and still frees its slot.
  ClipReadEntry* d = open(m, u"D");
  gRec.closeFailures[103] = {-1, u"gone"};
  take();
  EXPECT_EQ(m.close(d), 0);
  EXPECT_EQ(take(), (Calls{"close 103", "getLastError 256"}));
  EXPECT_EQ(m.openCount(), 0u);
  EXPECT_EQ(m.head(), nullptr);
  ASSERT_NE(open(m, u"E"), nullptr);
  EXPECT_EQ(take().size(), 1u);  // no eviction needed
}

TEST_F(ClipReads, AFailedCreateOrReopenCountsNothingAndEvictsNothing) {
  ClipReadManager m(1, kVolume, kFake);
  ClipReadEntry* a = open(m, u"A");
  take();
  gRec.failCreates = 1;
  EXPECT_EQ(open(m, u"B"), nullptr);
  EXPECT_EQ(take().size(), 1u);
  EXPECT_TRUE(a->isOpen());
  EXPECT_EQ(m.openCount(), 1u);
  EXPECT_EQ(order(m), (Entries{a}));

  // A reopen that fails fails its call without seeking or reading.
  ClipReadEntry* b = open(m, u"B");
  take();
  gRec.failCreates = 2;
  unsigned char buffer[4];
  uint32_t done = 77;
  EXPECT_EQ(m.read(a, buffer, 4, &done), 0);
  int64_t out = -1;
  EXPECT_EQ(m.setFilePointer(a, 1, &out, 1), 0);
  EXPECT_EQ(take(), (Calls{opened("A"), opened("A")}));
  EXPECT_EQ(done, 77u);
  EXPECT_EQ(out, -1);
  EXPECT_TRUE(b->isOpen());
  EXPECT_EQ(m.openCount(), 1u);
  EXPECT_EQ(order(m), (Entries{a, b}));
}

TEST_F(ClipReads, ExtraIsCopiedOnlyWithItsFlagAndReplayedOnReopen) {
  const std::tuple<uint32_t, bool, const char*> cases[] = {  // flags, an extra value passed, the one replayed
      {0x00040000, true, "1234605616436508552"},
      {0x40040080, true, "1234605616436508552"},
      {0x00000080, true, "none"},
      {0x00040000, false, "none"}};
  for (const auto& [flags, passExtra, extra] : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << flags << " " << passExtra);
    gRec = Recorder();
    ClipReadManager m(1, kVolume, kFake);
    unsigned long long value = 0x1122334455667788ull;
    ClipReadEntry* a = m.create(u"A", 0x80000000u, 1, 3, flags, passExtra ? &value : nullptr);
    // The first open hands the reader the caller's own pointer; a reopen, the copy.
    EXPECT_EQ(gRec.lastExtra, std::string(extra) != "none" ? &value : nullptr);
    value = 5;  // the caller's variable may change or vanish after the open
    open(m, u"B");
    take();
    ASSERT_NE(m.getHandle(a), quil::files::kClosedReaderHandle);
    char expected[64];
    std::snprintf(expected, sizeof expected, "create v7 A a80000000 s1 sec0 d3 f%X x%s", flags, extra);
    EXPECT_EQ(take().front(), expected);
    EXPECT_EQ(a->extra != nullptr, std::string(extra) != "none");
    EXPECT_EQ(gRec.lastExtra, a->extra);
  }
}

}  // namespace
