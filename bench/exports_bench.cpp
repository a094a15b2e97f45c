// QUILAPI_GetLastError through the export frame against a direct read of
// the last-error store (a call of its own, as the export is): at LogLevel 1
// the frame's entry and exit lines are rejected; at LogLevel 2 they are
// written, measured in a second process started with that level.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "api/last_error.h"
#include "quil/quilcoreapi.h"
#include "ratio_reporter.h"

namespace {

constexpr const char* kChildFlag = "--traced-child";

[[gnu::noinline]] uint32_t readLastErrorDirectly() { return static_cast<uint32_t>(quil::api::lastErrorRecord().code); }

void BM_LastErrorStoreDirect(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(readLastErrorDirectly());
}
BENCHMARK(BM_LastErrorStoreDirect);

void BM_GetLastErrorThroughExport(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(QUILAPI_GetLastError());
}
BENCHMARK(BM_GetLastErrorThroughExport);

std::string gFolder;

// The same calls in a process whose settings say LogLevel 2; the child
// times its own loop and hands the seconds back.
void BM_GetLastErrorTracedAtLevel2(benchmark::State& state) {
  for (auto _ : state) {
    int result[2];
    if (pipe(result) != 0) {
      state.SkipWithError("no pipe");
      return;
    }
    const pid_t child = fork();
    if (child == 0) {
      close(result[0]);
      const std::string args = std::to_string(result[1]) + "," + std::to_string(state.range(0));
      execl("/proc/self/exe", "exports_bench", kChildFlag, args.c_str(), gFolder.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(result[1]);
    double seconds = 0;
    const bool ok = child > 0 && read(result[0], &seconds, sizeof seconds) == sizeof seconds;
    close(result[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    if (!ok) {
      state.SkipWithError("the traced process gave no time");
      return;
    }
    state.SetIterationTime(seconds / static_cast<double>(state.range(0)));
  }
}
BENCHMARK(BM_GetLastErrorTracedAtLevel2)->Arg(200000)->UseManualTime()->Iterations(5);

int runTracedChild(const char* args, const std::string& folder) {
  int fd = -1;
  long calls = 0;
  if (std::sscanf(args, "%d,%ld", &fd, &calls) != 2) return 2;
  quilbench::useTemporarySettings(2, folder + "/level2");
  benchmark::DoNotOptimize(QUILAPI_GetLastError());  // the manager starts outside the timing
  const auto began = std::chrono::steady_clock::now();
  for (long i = 0; i < calls; ++i) benchmark::DoNotOptimize(QUILAPI_GetLastError());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return write(fd, &seconds, sizeof seconds) == sizeof seconds ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], kChildFlag) == 0) return runTracedChild(argv[2], argv[3]);
  gFolder = std::filesystem::temp_directory_path().string() + "/quil-exports-bench-" + std::to_string(getpid());
  quilbench::useTemporarySettings(1, gFolder);
  const int rc = quilbench::runWithRatios(
      argc, argv,
      {{"BM_GetLastErrorThroughExport", "BM_LastErrorStoreDirect", "cost of the export frame at LogLevel 1; goal <= 3",
        false},
       {"BM_GetLastErrorTracedAtLevel2/200000/iterations:5/manual_time", "BM_GetLastErrorThroughExport",
        "the frame writing its two lines (LogLevel 2) against LogLevel 1", false}});
  std::error_code ec;
  std::filesystem::remove_all(gFolder, ec);
  return rc;
}
