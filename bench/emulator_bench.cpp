// What the reader library costs over the host file system on bulk user data:
// sequential 1 MiB writes, then reads, of a 256 MiB file on an emulated disc,
// once through QUIL_WriteFile/QUIL_ReadFile and once with pwrite/pread on the
// very same host file. Each iteration is one pass over the whole file; a
// write pass starts from an empty file, so the reader's pass also pays for
// reserving the space it grows into.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "disc.h"
#include "quil/sibling/quilreader.h"
#include "ratio_reporter.h"
#include "text/utf.h"

namespace {

constexpr uint32_t kChunk = 1u << 20;
constexpr int64_t kFileSize = 256ll << 20;
constexpr int64_t kChunks = kFileSize / kChunk;

struct Setup {
  std::string folder;
  int32_t volume = -1;
  int32_t file = -1;  // through the reader
  int raw = -1;       // the same host file, opened directly
  std::vector<char> buffer = std::vector<char>(kChunk);
};
Setup g;

bool readerPass(bool write) {
  if (QUIL_SetFilePointer(g.file, 0, nullptr, 0) == 0) return false;
  for (int64_t i = 0; i < kChunks; ++i) {
    uint32_t done = 0;
    const int32_t ok = write ? QUIL_WriteFile(g.file, g.buffer.data(), kChunk, &done)
                             : QUIL_ReadFile(g.file, g.buffer.data(), kChunk, &done);
    if (ok == 0 || done != kChunk) return false;
  }
  return true;
}

bool rawPass(bool write) {
  for (int64_t i = 0; i < kChunks; ++i) {
    const ssize_t n = write ? ::pwrite(g.raw, g.buffer.data(), kChunk, i * kChunk)
                            : ::pread(g.raw, g.buffer.data(), kChunk, i * kChunk);
    if (n != static_cast<ssize_t>(kChunk)) return false;
  }
  return true;
}

void BM_WriteThroughReader(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const bool emptied = QUIL_SetFileSize(g.file, 0) != 0;
    state.ResumeTiming();
    if (!emptied || !readerPass(true)) {
      state.SkipWithError("writing through the reader failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_WriteThroughReader)->Unit(benchmark::kMillisecond);

void BM_WriteRaw(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const bool emptied = ::ftruncate(g.raw, 0) == 0;
    state.ResumeTiming();
    if (!emptied || !rawPass(true)) {
      state.SkipWithError("pwrite failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_WriteRaw)->Unit(benchmark::kMillisecond);

void BM_ReadThroughReader(benchmark::State& state) {
  for (auto _ : state) {
    if (!readerPass(false)) {
      state.SkipWithError("reading through the reader failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadThroughReader)->Unit(benchmark::kMillisecond);

void BM_ReadRaw(benchmark::State& state) {
  for (auto _ : state) {
    if (!rawPass(false)) {
      state.SkipWithError("pread failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadRaw)->Unit(benchmark::kMillisecond);

bool prepare() {
  const char* tmp = std::getenv("TMPDIR");
  g.folder =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quil-emulator-bench-" + std::to_string(getpid());
  std::filesystem::remove_all(g.folder);
  quil::emulator::MediumDescription medium;
  medium.label = u"BENCH";
  medium.capacity = 1ull << 30;
  const std::string error = quil::emulator::formatDisc(g.folder, medium);
  if (!error.empty()) {
    std::fprintf(stderr, "cannot make the disc: %s\n", error.c_str());
    return false;
  }
  QUIL_READER_VOLUME_PARAM param{};
  bool checkOk = false;
  g.volume = QUIL_CreateVolume(quil::fromUtf8(g.folder).c_str(), &param, &checkOk);
  g.file = QUIL_CreateFile(g.volume, u"\\USERDATA\\bench.bin", 0xC0000000u, 3, nullptr, 1, 0, nullptr);
  g.raw = ::open((g.folder + "/USERDATA/bench.bin").c_str(), O_RDWR | O_CLOEXEC);
  for (size_t i = 0; i < g.buffer.size(); ++i) g.buffer[i] = static_cast<char>(i * 131 + (i >> 12));
  // The read passes need the whole file, whichever benchmarks are selected.
  return g.volume > 0 && g.file > 0 && g.raw >= 0 && readerPass(true);
}

}  // namespace

int main(int argc, char** argv) {
  int rc = 1;
  if (prepare()) {
    rc = quilbench::runWithRatios(
        argc, argv,
        {{"BM_WriteThroughReader", "BM_WriteRaw", "write throughput through the reader against pwrite", true},
         {"BM_ReadThroughReader", "BM_ReadRaw", "read throughput through the reader against pread", true}});
  } else {
    std::fprintf(stderr, "cannot prepare the 256 MiB user-data file on the emulated disc\n");
  }
  if (g.raw >= 0) ::close(g.raw);
  if (g.file > 0) QUIL_CloseHandle(g.file);
  if (g.volume > 0) QUIL_CloseVolume(g.volume);
  std::filesystem::remove_all(g.folder);
  return rc;
}
