// What the exports cost over the emulator's own calls on the same kind of
// files: 1 MiB writes and reads of a 256 MiB user-data file and of a clip,
// the open-read-close of a 4 KiB user-data file, the listing of a folder of
// 10,000 files, and a rename and delete. The trace level is the
// first argument (--log-level=1 or 2, default 1): at 1 every export still
// makes its filtered trace calls, at 2 every line is written.
//
// Baselines call the writer library (writes, on files of their own on the
// same disc) and the reader library (reads, of the very files the exports
// read) directly.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "disc.h"
#include "quil/quilcoreapi.h"
#include "quil/sibling/quilreader.h"
#include "quil/sibling/quilwriter.h"
#include "ratio_reporter.h"

namespace {

constexpr uint32_t kChunk = 1u << 20;
constexpr int64_t kFileSize = 256ll << 20;
constexpr int64_t kChunks = kFileSize / kChunk;

class NoCache final : public QUILWriter::QUILCacheReader {
 public:
  int32_t cacheOpen(const QUILCHAR*) override { return -1; }
  int32_t cacheClose(int32_t) override { return 0; }
  int32_t cacheRead(int32_t, void*, uint32_t, uint32_t*) override { return 0; }
  int32_t cacheGetSize(int32_t, int64_t*) override { return 0; }
};

struct Setup {
  std::filesystem::path base;
  std::vector<char> buffer = std::vector<char>(kChunk, 'b');
  int32_t readerVolume = -1;  // the baseline's own view of the disc
  int clips = 0;  // every write pass records a new clip

};
Setup g;

template <class Write>
bool pass(Write&& write) {
  for (int64_t i = 0; i < kChunks; ++i) {
    if (!write()) return false;
  }
  return true;
}

std::u16string nextClip() {
  char name[16];
  std::snprintf(name, sizeof name, "C%04d", ++g.clips);
  return std::u16string(name, name + 5);
}

// One open for writing (only one writer may be open on the volume), a whole
// file in 1 MiB writes, one close.
bool exportsWritePass(const std::u16string& path, uint32_t disposition) {
  const int32_t h = QUILAPI_CreateFile(0, path.c_str(), 0x40000000u, 0, nullptr, disposition, 0, nullptr);
  if (h == -1) return false;
  const bool ok = pass([&] {
    uint32_t done = 0;
    return QUILAPI_WriteFile(h, g.buffer.data(), kChunk, &done) != 0 && done == kChunk;
  });
  return QUILAPI_CloseHandle(h) != 0 && ok;
}

template <class W>
bool writerWritePass(W& writer) {
  return pass([&] {
    uint32_t done = 0;
    writer.Write(g.buffer.data(), kChunk, &done);
    return done == kChunk;
  });
}

bool userWriterPass(const std::u16string& name) {
  try {
    auto w = QUILWriter::UserDataWriter::createFile(u"B:", name, 0x40000000u, 0, nullptr, 2, 0, nullptr, false);
    const bool ok = writerWritePass(*w);
    w->Close();
    return ok;
  } catch (const std::exception&) {
    return false;
  }
}

bool clipWriterPass(const std::u16string& name) {
  try {
    _Volume_Param param{};
    auto w = QUILWriter::ClipWriter::create(u"B:", name, QUILWriter::_Clip_Param{param, QUILWriter::QUIL_UMID_MODE_1});
    const bool ok = writerWritePass(*w);
    int32_t result = 0;
    w->Close(&result);
    return ok;
  } catch (const std::exception&) {
    return false;
  }
}

bool exportsReadPass(const char16_t* path) {
  const int32_t h = QUILAPI_CreateFile(0, path, 0x80000000u, 1, nullptr, 3, 0, nullptr);
  if (h == -1) return false;
  const bool ok = pass([&] {
    uint32_t done = 0;
    return QUILAPI_ReadFile(h, g.buffer.data(), kChunk, &done) != 0 && done == kChunk;
  });
  return QUILAPI_CloseHandle(h) != 0 && ok;
}

bool readerReadPass(const char16_t* path) {
  const int32_t h = QUIL_CreateFile(g.readerVolume, path, 0x80000000u, 1, nullptr, 3, 0, nullptr);
  if (h == -1) return false;
  const bool ok = pass([&] {
    uint32_t done = 0;
    return QUIL_ReadFile(h, g.buffer.data(), kChunk, &done) != 0 && done == kChunk;
  });
  return QUIL_CloseHandle(h) != 0 && ok;
}

#define CHECKED(state, expression) \
  if (!(expression)) state.SkipWithError(#expression)

void BM_UserDataWrite_Exports(benchmark::State& s) {
  for (auto _ : s) CHECKED(s, exportsWritePass(u"\\USERDATA\\exports.bin", 2));
  s.SetBytesProcessed(s.iterations() * kFileSize);
}
void BM_UserDataWrite_Writer(benchmark::State& s) {
  for (auto _ : s) CHECKED(s, userWriterPass(u"writer.bin"));
  s.SetBytesProcessed(s.iterations() * kFileSize);
}
void BM_ClipWrite_Exports(benchmark::State& s) {
  for (auto _ : s) {
    s.PauseTiming();
    const std::u16string path = u"\\CLIP\\" + nextClip() + u".MXF";
    s.ResumeTiming();
    CHECKED(s, exportsWritePass(path, 1));
  }
  s.SetBytesProcessed(s.iterations() * kFileSize);
}
void BM_ClipWrite_Writer(benchmark::State& s) {
  for (auto _ : s) {
    s.PauseTiming();
    const std::u16string name = nextClip();
    s.ResumeTiming();
    CHECKED(s, clipWriterPass(name));
  }
  s.SetBytesProcessed(s.iterations() * kFileSize);
}
void BM_UserDataRead_Exports(benchmark::State& s) {
  for (auto _ : s) CHECKED(s, exportsReadPass(u"\\USERDATA\\exports.bin"));
  s.SetBytesProcessed(s.iterations() * kFileSize);
}
void BM_UserDataRead_Reader(benchmark::State& s) {
  for (auto _ : s) CHECKED(s, readerReadPass(u"\\USERDATA\\exports.bin"));
  s.SetBytesProcessed(s.iterations() * kFileSize);
}
void BM_ClipRead_Exports(benchmark::State& s) {
  for (auto _ : s) CHECKED(s, exportsReadPass(u"\\CLIP\\C0001.MXF"));
  s.SetBytesProcessed(s.iterations() * kFileSize);
}
void BM_ClipRead_Reader(benchmark::State& s) {
  for (auto _ : s) CHECKED(s, readerReadPass(u"\\CLIP\\C0001.MXF"));
  s.SetBytesProcessed(s.iterations() * kFileSize);
}
void BM_SmallFile_Exports(benchmark::State& s) {
  for (auto _ : s) {
    const int32_t h = QUILAPI_CreateFile(0, u"\\USERDATA\\small.bin", 0x80000000u, 1, nullptr, 3, 0, nullptr);
    uint32_t done = 0;
    CHECKED(s, h != -1 && QUILAPI_ReadFile(h, g.buffer.data(), 4096, &done) != 0 && done == 4096);
    QUILAPI_CloseHandle(h);
  }
}
void BM_SmallFile_Reader(benchmark::State& s) {
  for (auto _ : s) {
    const int32_t h = QUIL_CreateFile(g.readerVolume, u"\\USERDATA\\small.bin", 0x80000000u, 1, nullptr, 3, 0,
                                      nullptr);
    uint32_t done = 0;
    CHECKED(s, h != -1 && QUIL_ReadFile(h, g.buffer.data(), 4096, &done) != 0 && done == 4096);
    QUIL_CloseHandle(h);
  }
}

// Listing a folder of 10,000 user-data files.
constexpr int kListed = 10000;

int listExports() {
  FindData entry{};
  const int32_t h = QUILAPI_FindFirstFile(0, u"\\USERDATA\\many\\*", &entry);
  if (h == -1) return 0;
  int n = 1;
  while (QUILAPI_FindNextFile(h, &entry) != 0) ++n;
  QUILAPI_FindClose(h);
  return n;
}

int listReader() {
  FindData entry{};
  const int32_t h = QUIL_FindFirstFile(g.readerVolume, u"\\USERDATA\\many\\*", &entry);
  if (h == -1) return 0;
  int n = 1;
  while (QUIL_FindNextFile(h, &entry) != 0) ++n;
  QUIL_FindClose(h);
  return n;
}

void BM_List_Exports(benchmark::State& s) {
  for (auto _ : s) CHECKED(s, listExports() == kListed);
}
void BM_List_Reader(benchmark::State& s) {
  for (auto _ : s) CHECKED(s, listReader() == kListed);
}

// A rename and a delete of a small user-data file; the file is made again
// outside the timing.
void putHostFile() { std::ofstream((g.base / "disc" / "USERDATA" / "move.txt").string()) << "m"; }

void BM_RenameDelete_Exports(benchmark::State& s) {
  for (auto _ : s) {
    s.PauseTiming();
    putHostFile();
    s.ResumeTiming();
    CHECKED(s, QUILAPI_MoveFile(0, u"\\USERDATA\\move.txt", u"\\USERDATA\\moved.txt") != 0 &&
                   QUILAPI_DeleteFile(0, u"\\USERDATA\\moved.txt") != 0);
  }
}
void BM_RenameDelete_Writer(benchmark::State& s) {
  for (auto _ : s) {
    s.PauseTiming();
    putHostFile();
    s.ResumeTiming();
    try {
      QUILWriter::MoveUserDataFile(u"B:", u"move.txt", u"moved.txt");
      QUILWriter::DeleteUserDataFile(u"B:", u"moved.txt");
    } catch (const std::exception& e) {
      s.SkipWithError(e.what());
    }
  }
}

BENCHMARK(BM_List_Reader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_List_Exports)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenameDelete_Writer);
BENCHMARK(BM_RenameDelete_Exports);
BENCHMARK(BM_UserDataWrite_Writer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UserDataWrite_Exports)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClipWrite_Writer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClipWrite_Exports)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UserDataRead_Reader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UserDataRead_Exports)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClipRead_Reader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClipRead_Exports)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallFile_Reader);
BENCHMARK(BM_SmallFile_Exports);

bool setUp() {
  namespace fs = std::filesystem;
  const fs::path disc = g.base / "disc";
  quil::emulator::MediumDescription medium;
  medium.capacity = 64ull << 30;
  if (!quil::emulator::formatDisc(disc.string(), medium).empty()) return false;
  fs::create_directories(g.base / "drives");
  fs::create_directory_symlink(disc, g.base / "drives" / "b:");
  setenv("QUIL_DRIVES", (g.base / "drives").c_str(), 1);

  _Volume_Param param{};
  param.maxClipReadHandles = 4;
  if (QUILAPI_CreateVolume(u"B:", &param) != 0) return false;
  // The files the read passes read: one of each kind for each side.
  if (!exportsWritePass(u"\\USERDATA\\exports.bin", 2) || !userWriterPass(u"writer.bin")) return false;
  if (!exportsWritePass(u"\\CLIP\\C0001.MXF", 1) || !clipWriterPass(u"C0002")) return false;
  g.clips = 2;
  const int32_t small = QUILAPI_CreateFile(0, u"\\USERDATA\\small.bin", 0x40000000u, 0, nullptr, 2, 0, nullptr);
  uint32_t done = 0;
  if (small == -1 || QUILAPI_WriteFile(small, g.buffer.data(), 4096, &done) == 0 || QUILAPI_CloseHandle(small) == 0) {
    return false;
  }
  fs::create_directories(disc / "USERDATA" / "many");
  for (int i = 0; i < kListed; ++i) std::ofstream((disc / "USERDATA" / "many" / ("f" + std::to_string(i))).string());

  QUIL_READER_VOLUME_PARAM record{};
  record.volume = param;
  bool ok = false;
  g.readerVolume = QUIL_CreateVolume(u"B:", &record, &ok);
  return g.readerVolume != -1;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned level = 1;
  if (argc > 1 && std::strncmp(argv[1], "--log-level=", 12) == 0) {
    level = static_cast<unsigned>(std::atoi(argv[1] + 12));
    argv[1] = argv[0];
    ++argv, --argc;
  }
  g.base = std::filesystem::temp_directory_path() / ("quil-session-bench-" + std::to_string(getpid()));
  quilbench::useTemporarySettings(level, (g.base / "settings").string());
  std::printf("LogLevel %u\n", level);
  if (!setUp()) {
    std::fprintf(stderr, "session_bench: setting up the disc failed (last error %d)\n", QUILAPI_GetLastError());
    return 1;
  }
  const char* goal = level >= 2 ? "goal at least 0.9x" : "goal at least 0.95x";
  const int rc = quilbench::runWithRatios(
      argc, argv,
      {{"BM_UserDataWrite_Exports", "BM_UserDataWrite_Writer", std::string("user-data 1 MiB writes; ") + goal, true},
       {"BM_ClipWrite_Exports", "BM_ClipWrite_Writer", std::string("clip 1 MiB writes; ") + goal, true},
       {"BM_UserDataRead_Exports", "BM_UserDataRead_Reader", std::string("user-data 1 MiB reads; ") + goal, true},
       {"BM_ClipRead_Exports", "BM_ClipRead_Reader", std::string("clip 1 MiB reads; ") + goal, true},
       {"BM_SmallFile_Exports", "BM_SmallFile_Reader", "open-read-close of 4 KiB user data", true},
       {"BM_List_Exports", "BM_List_Reader", std::string("listing 10,000 user-data files; ") +
                                                 (level >= 2 ? "every entry traced" : "goal at least 0.9x"),
        true},
       {"BM_RenameDelete_Exports", "BM_RenameDelete_Writer", "rename and delete of a user-data file", true}});
  QUILAPI_CloseVolume(0);
  QUIL_CloseVolume(g.readerVolume);
  std::error_code ec;
  std::filesystem::remove_all(g.base, ec);
  return rc;
}
