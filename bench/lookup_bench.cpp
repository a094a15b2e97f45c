// Per-name operations through the exports in folders of 100, 1,000 and
// 10,000 user-data files: GetFileAttributes, FindFirstFile of an exact
// name, open-read-close of a small file and create+close of a new one,
// each with its ratio to the same in the 100-file folder (goal: flat,
// within 1.3x; create+close within 2x), and GetFileAttributes against a
// host fstatat of the same file (goal: at most 10x). LogLevel 1.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "disc.h"
#include "quil/quilcoreapi.h"
#include "ratio_reporter.h"

namespace {

namespace fs = std::filesystem;
fs::path gBase;
int gCreated = 0;

std::u16string folderOf(int64_t n) {
  const std::string text = "\\USERDATA\\n" + std::to_string(n);
  return std::u16string(text.begin(), text.end());
}

void BM_GetFileAttributes(benchmark::State& s) {
  const std::u16string path = folderOf(s.range(0)) + u"\\f50";
  for (auto _ : s) {
    uint32_t attributes = 0;
    if (QUILAPI_GetFileAttributes(0, path.c_str(), &attributes) == 0) s.SkipWithError("GetFileAttributes failed");
  }
}

void BM_FindExactName(benchmark::State& s) {
  const std::u16string path = folderOf(s.range(0)) + u"\\f50";
  for (auto _ : s) {
    FindData entry{};
    const int32_t h = QUILAPI_FindFirstFile(0, path.c_str(), &entry);
    if (h == -1) s.SkipWithError("FindFirstFile failed");
    QUILAPI_FindClose(h);
  }
}

void BM_OpenReadClose(benchmark::State& s) {
  const std::u16string path = folderOf(s.range(0)) + u"\\f50";
  char buffer[64];
  for (auto _ : s) {
    const int32_t h = QUILAPI_CreateFile(0, path.c_str(), 0x80000000u, 1, nullptr, 3, 0, nullptr);
    uint32_t done = 0;
    if (h == -1 || QUILAPI_ReadFile(h, buffer, sizeof buffer, &done) == 0) s.SkipWithError("open-read failed");
    QUILAPI_CloseHandle(h);
  }
}

void BM_CreateClose(benchmark::State& s) {
  const std::u16string folder = folderOf(s.range(0));
  for (auto _ : s) {
    const std::string name = "\\new" + std::to_string(++gCreated);
    const std::u16string path = folder + std::u16string(name.begin(), name.end());
    const int32_t h = QUILAPI_CreateFile(0, path.c_str(), 0x40000000u, 0, nullptr, 1, 0, nullptr);
    if (h == -1 || QUILAPI_CloseHandle(h) == 0) s.SkipWithError("create failed");
  }
}

void BM_HostFstatat(benchmark::State& s) {
  const int dir = ::open((gBase / "disc" / "USERDATA" / ("n" + std::to_string(s.range(0)))).c_str(),
                         O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (auto _ : s) {
    struct stat st {};
    benchmark::DoNotOptimize(::fstatat(dir, "f50", &st, AT_SYMLINK_NOFOLLOW));
  }
  ::close(dir);
}

constexpr int64_t kSizes[] = {100, 1000, 10000};

BENCHMARK(BM_GetFileAttributes)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_FindExactName)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_OpenReadClose)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_CreateClose)->Arg(100)->Arg(1000)->Arg(10000)->Iterations(2000);
BENCHMARK(BM_HostFstatat)->Arg(10000);

bool setUp() {
  const fs::path disc = gBase / "disc";
  quil::emulator::MediumDescription medium;
  medium.capacity = 64ull << 30;
  if (!quil::emulator::formatDisc(disc.string(), medium).empty()) return false;
  for (const int64_t n : kSizes) {
    const fs::path folder = disc / "USERDATA" / ("n" + std::to_string(n));
    fs::create_directories(folder);
    for (int64_t i = 0; i < n; ++i) std::ofstream((folder / ("f" + std::to_string(i))).string()) << "data";
  }
  fs::create_directories(gBase / "drives");
  fs::create_directory_symlink(disc, gBase / "drives" / "b:");
  setenv("QUIL_DRIVES", (gBase / "drives").c_str(), 1);
  _Volume_Param param{};
  param.maxClipReadHandles = 4;
  return QUILAPI_CreateVolume(u"B:", &param) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  gBase = fs::temp_directory_path() / ("quil-lookup-bench-" + std::to_string(getpid()));
  quilbench::useTemporarySettings(1, (gBase / "settings").string());
  if (!setUp()) {
    std::fprintf(stderr, "lookup_bench: setting up the disc failed (last error %d)\n", QUILAPI_GetLastError());
    return 1;
  }
  std::vector<quilbench::Ratio> ratios;
  for (const char* op : {"BM_GetFileAttributes", "BM_FindExactName", "BM_OpenReadClose", "BM_CreateClose"}) {
    // A fixed count of creates, so that the folders grow by the same few files.
    const std::string tail = std::string(op) == "BM_CreateClose" ? "/iterations:2000" : "";
    for (const char* n : {"1000", "10000"}) {
      ratios.push_back({std::string(op) + "/" + n + tail, std::string(op) + "/100" + tail,
                        std::string("time at ") + n + " files over time at 100 (goal: near 1)", false});
    }
  }
  ratios.push_back({"BM_GetFileAttributes/10000", "BM_HostFstatat/10000",
                    "GetFileAttributes over a host fstatat of the same file (goal: at most 10x)", false});
  const int rc = quilbench::runWithRatios(argc, argv, ratios);
  QUILAPI_CloseVolume(0);
  std::error_code ec;
  fs::remove_all(gBase, ec);
  return rc;
}
