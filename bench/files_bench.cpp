// What every file call pays before it reaches a sibling library: turning the
// path into a FileNameManage, counting the handle in the open-file table, and
// for clip reads over the manager's limit, the reopen behind every read.
#include <unistd.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "files/clip_read_manager.h"
#include "files/file_name_manage.h"
#include "files/open_files.h"
#include "ratio_reporter.h"

namespace {

using namespace quil::files;

// A mix like the one a browsing application sends: clips and their
// metadata, edit lists, user data, root files and a few misses.
const std::u16string kPaths[] = {
    u"\\CLIP\\C0001.MXF",    u"\\CLIP\\C0001M01.XML",   u"\\clip\\c0123m02.klv",    u"\\SUB\\C0001S01.MXF",
    u"\\EDIT\\E0003E01.SMI", u"\\EDIT\\E0003M01.XML",   u"\\COMPONENT\\P0001.MXF",  u"\\INDEX.XML",
    u"/discmeta.xml",        u"\\USERDATA\\a\\b.txt",   u"\\GENERAL\\Notes\\x.doc", u"\\CLIP\\Interview.MXF",
    u"\\CLIP\\C0001.MXFX",   u"\\CLIP\\SUB\\C0001.MXF", u"\\PROAV\\INDEX.XML",      u"\\CLIP\\C0999.MXF",
};
constexpr int64_t kPathCount = sizeof kPaths / sizeof kPaths[0];

void BM_Classify(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& p : kPaths) {
      const FileNameManage f(p, false);
      benchmark::DoNotOptimize(f.fileKind());
    }
  }
  state.SetItemsProcessed(state.iterations() * kPathCount);
}
BENCHMARK(BM_Classify);

std::u16string clipPath(int n) {
  std::u16string digits = u"0000";
  for (int i = 3; i >= 0; --i, n /= 10) digits[static_cast<size_t>(i)] = static_cast<char16_t>(u'0' + n % 10);
  return u"\\CLIP\\C" + digits + u".MXF";
}

// One open and close of a clip that is not open yet, with range(0) other
// clips open: increment, the sharing question, decrement and removal.
void BM_OpenFileCycle(benchmark::State& state) {
  const int openFiles = static_cast<int>(state.range(0));
  OpenFileControl control(false);
  std::deque<HandleRecord> held(static_cast<size_t>(openFiles));
  for (int i = 0; i < openFiles; ++i) control.increment(kReading, classifyPath(clipPath(i), false), &held[i]);
  std::vector<FileNamePtr> fresh;
  for (int i = 0; i < 64; ++i) fresh.push_back(classifyPath(clipPath(5000 + i), false));
  HandleRecord handle;
  size_t k = 0;
  for (auto _ : state) {
    const FileNamePtr& p = fresh[k++ & 63];
    OpenFileStruct* r = control.increment(kReading, p, &handle);
    benchmark::DoNotOptimize(control.isOpen(kReading, Clip, p.get(), 1));
    if (r->decrement(kReading, &handle)) control.remove(r);
  }
  state.counters["per_op"] = benchmark::Counter(static_cast<double>(state.iterations()) * 3,
                                                benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OpenFileCycle)->Arg(10)->Arg(100)->Arg(1000);

// The kind-wide question that a write open asks ("any clip open for
// reading?") walks every bucket of the kind.
void BM_KindWideIsOpen(benchmark::State& state) {
  const int openFiles = static_cast<int>(state.range(0));
  OpenFileControl control(false);
  std::deque<HandleRecord> held(static_cast<size_t>(openFiles));
  for (int i = 0; i < openFiles; ++i) control.increment(kReading, classifyPath(clipPath(i), false), &held[i]);
  for (auto _ : state) benchmark::DoNotOptimize(control.isOpen(kWriting, Clip, nullptr, 1));
}
BENCHMARK(BM_KindWideIsOpen)->Arg(10)->Arg(100)->Arg(1000);

// An in-memory reader: every read copies from one 64 KiB buffer.
constexpr uint32_t kReadSize = 64 * 1024;
unsigned char gSource[kReadSize];
int32_t gNextHandle = 1;

const quil::sibling::ReaderLibrary kMemoryReader = {
    [](int32_t, const QUILCHAR*, uint32_t, uint32_t, void*, uint32_t, uint32_t, void*) -> int32_t {
      return gNextHandle++ & 0x7FFFFFFF;
    },
    [](int32_t) -> int32_t { return 1; },
    [](int32_t, void* buffer, uint32_t size, uint32_t* done) -> int32_t {
      const uint32_t n = size < kReadSize ? size : kReadSize;
      std::memcpy(buffer, gSource, n);
      *done = n;
      return 1;
    },
    [](int32_t, int64_t distance, int64_t* position, uint32_t) -> int32_t {
      if (position != nullptr) *position = distance;
      return 1;
    },
    [](QUILCHAR* buffer, uint32_t, uint32_t* length) -> int32_t {
      buffer[0] = 0;
      *length = 0;
      return 0;
    },
    [](int32_t, const QUILCHAR*) {},
};

// range(0) caller handles read round-robin through a manager that keeps at
// most 8 reader handles: with 64 handles every read is a reopen.
void BM_ClipReads(benchmark::State& state) {
  const int handles = static_cast<int>(state.range(0));
  ClipReadManager manager(8, 1, kMemoryReader);
  std::vector<ClipReadEntry*> entries;
  for (int i = 0; i < handles; ++i) {
    entries.push_back(manager.create(clipPath(i), 0x80000000u, 1, 3, 0, nullptr));
  }
  std::vector<unsigned char> buffer(kReadSize);
  size_t k = 0;
  for (auto _ : state) {
    uint32_t done = 0;
    manager.read(entries[k++ % entries.size()], buffer.data(), kReadSize, &done);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * kReadSize);
  for (ClipReadEntry* e : entries) manager.close(e);
}
BENCHMARK(BM_ClipReads)->Arg(8)->Arg(64);

}  // namespace

int main(int argc, char** argv) {
  const std::string folder =
      std::filesystem::temp_directory_path().string() + "/quil-files-bench-" + std::to_string(getpid());
  // LogLevel 1 rejects the debug lines of the manager's reader calls.
  quilbench::useTemporarySettings(1, folder);
  const int rc = quilbench::runWithRatios(
      argc, argv,
      {{"BM_ClipReads/64", "BM_ClipReads/8", "time of a 64 KiB read that reopens per read that does not", false},
       {"BM_OpenFileCycle/1000", "BM_OpenFileCycle/10", "open-file cycle with 1000 clips open per 10", false}});
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return rc;
}
