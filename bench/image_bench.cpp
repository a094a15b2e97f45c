// Disc images: `quil get` of a 1 GiB clip from an image against a small
// program reading the file with libudfread directly (goal: at least 0.9x its
// speed), and the same read in this process both ways; opening a volume and
// listing 10,000 user-data files on the image against the same on the
// disc folder it was made from. LogLevel 1. The image is made with
// genisoimage, so the run needs some 2 GiB free in the temporary folder.
#include <udfread/udfread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "disc.h"
#include "quil/quilcoreapi.h"
#include "ratio_reporter.h"

namespace {

namespace fs = std::filesystem;
fs::path gBase;
constexpr size_t kChunk = 1 << 20;
constexpr size_t kClipBytes = size_t{1} << 30;

// The clip read whole with libudfread alone, in 1 MiB reads: its size.
size_t readWithLibudfread(const std::string& image) {
  std::vector<char> buffer(kChunk);
  udfread* udf = udfread_init();
  UDFFILE* file =
      udf != nullptr && udfread_open(udf, image.c_str()) >= 0 ? udfread_file_open(udf, "/CLIP/C0001.MXF") : nullptr;
  size_t total = 0;
  for (ssize_t n; file != nullptr && (n = udfread_file_read(file, buffer.data(), kChunk)) > 0;) total += n;
  if (file != nullptr) udfread_file_close(file);
  if (udf != nullptr) udfread_close(udf);
  return total;
}

void BM_LibudfreadDirect(benchmark::State& s) {
  for (auto _ : s) {
    if (readWithLibudfread((gBase / "disc.iso").string()) != kClipBytes) s.SkipWithError("libudfread read less");
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kClipBytes));
}

// The same as a program of its own (this one, started again), so that it
// pays for starting a process as quil get does.
void BM_LibudfreadProgram(benchmark::State& s) {
  const std::string command = "'" + fs::read_symlink("/proc/self/exe").string() + "' --read-with-libudfread '" +
                              (gBase / "disc.iso").string() + "'";
  for (auto _ : s) {
    if (std::system(command.c_str()) != 0) s.SkipWithError("the libudfread program failed");
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kClipBytes));
}

void BM_QuilGet(benchmark::State& s) {
  const std::string command = std::string("'") + QUIL_TOOL + "' --root '" + (gBase / "disc.iso").string() +
                              "' get --no-progress '\\CLIP\\C0001.MXF' /dev/null";
  for (auto _ : s) {
    if (std::system(command.c_str()) != 0) s.SkipWithError("quil get failed");
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kClipBytes));
}

bool openVolume(char16_t letter) {
  const char16_t root[] = {letter, u':', 0};
  _Volume_Param param{};
  param.maxClipReadHandles = 4;
  return QUILAPI_CreateVolume(root, &param) == 0;
}

void BM_ExportsRead(benchmark::State& s) {
  std::vector<char> buffer(kChunk);
  for (auto _ : s) {
    size_t total = 0;
    if (openVolume(u'I')) {
      const int32_t h = QUILAPI_CreateFile(0, u"\\CLIP\\C0001.MXF", 0x80000000u, 1, nullptr, 3, 0, nullptr);
      uint32_t done = 0;
      while (h != -1 && QUILAPI_ReadFile(h, buffer.data(), kChunk, &done) != 0 && done != 0) total += done;
      QUILAPI_CloseHandle(h);
      QUILAPI_CloseVolume(0);
    }
    if (total != kClipBytes) s.SkipWithError("the exports read less than the clip");
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kClipBytes));
}

// Opening the volume and listing \USERDATA\many whole; range 0: the image,
// 1: the folder.
void BM_OpenAndList(benchmark::State& s) {
  for (auto _ : s) {
    int entries = 0;
    if (openVolume(s.range(0) == 0 ? u'I' : u'J')) {
      FindData d{};
      const int32_t find = QUILAPI_FindFirstFile(0, u"\\USERDATA\\many\\*", &d);
      for (bool more = find != -1; more; more = QUILAPI_FindNextFile(find, &d) != 0) ++entries;
      QUILAPI_FindClose(find);
      QUILAPI_CloseVolume(0);
    }
    if (entries != 10000) s.SkipWithError("the listing did not hold the 10,000 files");
  }
}

BENCHMARK(BM_LibudfreadDirect)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibudfreadProgram)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuilGet)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportsRead)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

bool setUp() {
  const fs::path disc = gBase / "disc";
  if (!quil::emulator::formatDisc(disc.string(), {}).empty()) return false;
  // A clip of varied bytes (so that nothing on the way can skip zeros) and
  // 10,000 small user-data files.
  std::string block(kChunk, '\0');
  uint32_t x = 12345;
  for (char& c : block) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  std::ofstream clip((disc / "CLIP" / "C0001.MXF").string(), std::ios::binary);
  for (size_t i = 0; i < kClipBytes / kChunk; ++i) clip.write(block.data(), static_cast<std::streamsize>(kChunk));
  clip.close();
  fs::create_directories(disc / "USERDATA" / "many");
  for (int i = 0; i < 10000; ++i) std::ofstream((disc / "USERDATA" / "many" / ("f" + std::to_string(i))).string()) << i;
  const std::string make = "genisoimage -udf -quiet -o '" + (gBase / "disc.iso").string() + "' '" + disc.string() + "'";
  if (std::system(make.c_str()) != 0) return false;
  fs::remove(disc / "CLIP" / "C0001.MXF");  // the folder is listed, never read whole
  std::ofstream((disc / "CLIP" / "C0001.MXF").string()) << "";
  fs::create_directories(gBase / "drives");
  fs::create_symlink(gBase / "disc.iso", gBase / "drives" / "i:");
  fs::create_directory_symlink(disc, gBase / "drives" / "j:");
  setenv("QUIL_DRIVES", (gBase / "drives").c_str(), 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read-with-libudfread") return readWithLibudfread(argv[2]) == kClipBytes ? 0 : 1;
  gBase = fs::temp_directory_path() / ("quil-image-bench-" + std::to_string(getpid()));
  quilbench::useTemporarySettings(1, (gBase / "settings").string());
  const bool ready = setUp();
  int rc = 1;
  if (ready) {
    rc = quilbench::runWithRatios(
        argc, argv,
        {{"BM_QuilGet/iterations:10", "BM_LibudfreadProgram/iterations:10",
          "speed of quil get over a program reading with libudfread (goal: at least 0.9)", true},
         {"BM_QuilGet/iterations:10", "BM_LibudfreadDirect/iterations:10",
          "speed of quil get over libudfread's reading in this process", true},
         {"BM_ExportsRead/iterations:10", "BM_LibudfreadDirect/iterations:10",
          "speed of the exports over libudfread's own reading", true},
         {"BM_OpenAndList/0", "BM_OpenAndList/1", "open and list 10,000 files: image time over folder time",
          false}});
  } else {
    std::fprintf(stderr, "image_bench: making the disc and its image failed\n");
  }
  std::error_code ec;
  fs::remove_all(gBase, ec);
  return rc;
}
