// Per-name operations through the exports in folders of 100, 1,000 and
// 10,000 user-data files: GetFileAttributes, FindFirstFile of an exact
// name, open-read-close of a small file and create+close of a new one,
// each with its ratio to the same in the 100-file folder (goal: flat,
// within 1.3x), create+close against the same in an empty folder (goal:
// within 2x), and GetFileAttributes against a host fstatat of the same
// file (goal: at most 10x). LogLevel 1. With --count-calls it runs each
// operation between markers for bench/lookup_calls.sh to count its system
// calls.
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

// One operation on a name in the folder of n files; false when it failed.
bool getAttributes(int64_t n) {
  const std::u16string path = folderOf(n) + u"\\f50";
  uint32_t attributes = 0;
  return QUILAPI_GetFileAttributes(0, path.c_str(), &attributes) != 0;
}

bool findExactName(int64_t n) {
  const std::u16string path = folderOf(n) + u"\\f50";
  FindData entry{};
  const int32_t h = QUILAPI_FindFirstFile(0, path.c_str(), &entry);
  return h != -1 && QUILAPI_FindClose(h) != 0;
}

bool openReadClose(int64_t n) {
  const std::u16string path = folderOf(n) + u"\\f50";
  char buffer[64];
  const int32_t h = QUILAPI_CreateFile(0, path.c_str(), 0x80000000u, 1, nullptr, 3, 0, nullptr);
  uint32_t done = 0;
  const bool read = h != -1 && QUILAPI_ReadFile(h, buffer, sizeof buffer, &done) != 0;
  return QUILAPI_CloseHandle(h) != 0 && read;
}

bool createClose(int64_t n) {
  const std::string name = "\\new" + std::to_string(++gCreated);
  const std::u16string path = folderOf(n) + std::u16string(name.begin(), name.end());
  const int32_t h = QUILAPI_CreateFile(0, path.c_str(), 0x40000000u, 0, nullptr, 1, 0, nullptr);
  return h != -1 && QUILAPI_CloseHandle(h) != 0;
}

struct Operation {
  const char* name;
  bool (*run)(int64_t);
};
constexpr Operation kOperations[] = {{"GetFileAttributes", getAttributes},
                                     {"FindExactName", findExactName},
                                     {"OpenReadClose", openReadClose},
                                     {"CreateClose", createClose}};

template <bool (*Op)(int64_t)>
void BM_Operation(benchmark::State& s) {
  for (auto _ : s) {
    if (!Op(s.range(0))) s.SkipWithError("the operation failed");
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

constexpr int64_t kSizes[] = {0, 100, 1000, 10000};  // 0: an empty folder, for creates

BENCHMARK(BM_Operation<getAttributes>)->Name("BM_GetFileAttributes")->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_Operation<findExactName>)->Name("BM_FindExactName")->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_Operation<openReadClose>)->Name("BM_OpenReadClose")->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_Operation<createClose>)
    ->Name("BM_CreateClose")
    ->Arg(0)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(2000);
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
  if (argc > 1 && std::string(argv[1]) == "--count-calls") {
    // For bench/lookup_calls.sh, run under strace: each operation 100 times
    // between two marker writes (to no descriptor), after a few unmarked
    // runs that fill what the library keeps.
    for (const Operation& op : kOperations) {
      for (const int64_t n : {int64_t{0}, int64_t{100}, int64_t{10000}}) {
        if (n == 0 && op.run != createClose) continue;  // an empty folder has no name to find
        for (int i = 0; i < 10; ++i) op.run(n);
        const std::string begin = std::string("quil-count ") + op.name + "/" + std::to_string(n);
        (void)!::write(-1, begin.data(), begin.size());
        for (int i = 0; i < 100; ++i) op.run(n);
        (void)!::write(-1, "quil-count end", 14);
      }
    }
    QUILAPI_CloseVolume(0);
    std::error_code ec;
    fs::remove_all(gBase, ec);
    return 0;
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
  ratios.push_back({"BM_CreateClose/10000/iterations:2000", "BM_CreateClose/0/iterations:2000",
                    "create+close at 10000 files over the same in an empty folder (goal: at most 2x)", false});
  ratios.push_back({"BM_GetFileAttributes/10000", "BM_HostFstatat/10000",
                    "GetFileAttributes over a host fstatat of the same file (goal: at most 10x)", false});
  const int rc = quilbench::runWithRatios(argc, argv, ratios);
  QUILAPI_CloseVolume(0);
  std::error_code ec;
  fs::remove_all(gBase, ec);
  return rc;
}
