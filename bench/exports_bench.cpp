// QUILAPI_GetLastError through the export frame (entry and exit trace lines
// rejected at LogLevel 1) against reading the last-error store directly.
#include <unistd.h>

#include <filesystem>

#include "api/last_error.h"
#include "quil/quilcoreapi.h"
#include "ratio_reporter.h"

namespace {

void BM_LastErrorStoreDirect(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(quil::api::lastErrorRecord().code);
}
BENCHMARK(BM_LastErrorStoreDirect);

void BM_GetLastErrorThroughExport(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(QUILAPI_GetLastError());
}
BENCHMARK(BM_GetLastErrorThroughExport);

}  // namespace

int main(int argc, char** argv) {
  const std::string folder =
      std::filesystem::temp_directory_path().string() + "/quil-exports-bench-" + std::to_string(getpid());
  quilbench::useTemporarySettings(1, folder);
  const int rc = quilbench::runWithRatios(
      argc, argv,
      {{"BM_GetLastErrorThroughExport", "BM_LastErrorStoreDirect", "cost of the export frame at LogLevel 1", false}});
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return rc;
}
