// What a trace call costs: rejected by the filter against a bare local-time
// read, and written at LogLevel 2 against log4cxx's own file appender
// writing the same finished lines.
#include <unistd.h>

#include <filesystem>
#include <log4cxx/fileappender.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>

#include "logging/log_file_manager.h"
#include "logging/trace.h"
#include "platform/local_time.h"
#include "ratio_reporter.h"

namespace {

std::string gFolder;

void BM_LocalTimeRead(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(quil::platform::localNow());
}
BENCHMARK(BM_LocalTimeRead);

void BM_TraceRejectedByFilter(benchmark::State& state) {
  int32_t handle = 7;
  for (auto _ : state) {
    QUILLogger::writeTrace(2, 1, 0, u"project/QUILCoreAPI/VolumeHandle", u"VolumeHandle::readFile", __LINE__,
                           u"QUIL_ReadFile(%ld, %p, %lu, %p)\n", handle, static_cast<void*>(&handle), 65536u,
                           static_cast<void*>(&handle));
  }
}
BENCHMARK(BM_TraceRejectedByFilter);

void BM_TraceWrittenAtLevel2(benchmark::State& state) {
  int32_t handle = 7;
  for (auto _ : state) {
    QUILLogger::writeTrace(1, 2, 0, u"project/QUILCoreAPI/VolumeHandle", u"VolumeHandle::readFile", __LINE__,
                           u"QUIL_ReadFile(%ld, %p, %lu, %p)\n", handle, static_cast<void*>(&handle), 65536u,
                           static_cast<void*>(&handle));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceWrittenAtLevel2);

void BM_RawLog4cxxFileAppender(benchmark::State& state) {
  auto logger = log4cxx::Logger::getLogger("QUIL_BENCH_RAW");
  logger->setAdditivity(false);
  auto appender = std::make_shared<log4cxx::FileAppender>();
  appender->setLayout(std::make_shared<log4cxx::PatternLayout>(LOG4CXX_STR("%m%n")));
  appender->setFile(gFolder + "/raw.log");
  appender->setAppend(true);
  log4cxx::helpers::Pool pool;
  appender->activateOptions(pool);
  logger->addAppender(appender);
  // The same finished line our trace call writes.
  const std::string line =
      "[I] [12:00:00:000.000] PID:" + std::to_string(getpid()) +
      " VolumeHandle:41 VolumeHandle::readFile() QUIL_ReadFile(7, 00007FFD1234ABCD, 65536, 00007FFD1234ABCD)";
  for (auto _ : state) logger->forcedLogLS(log4cxx::Level::getError(), line, log4cxx::spi::LocationInfo::getLocationUnavailable());
  state.SetItemsProcessed(state.iterations());
  logger->removeAppender(appender);
  appender->close();
}
BENCHMARK(BM_RawLog4cxxFileAppender);

}  // namespace

int main(int argc, char** argv) {
  gFolder = std::filesystem::temp_directory_path().string() + "/quil-trace-bench-" + std::to_string(getpid());
  // LogLevel 1 rejects debug lines (the first figure) and writes information
  // lines (the second).
  quilbench::useTemporarySettings(1, gFolder);
  const int rc = quilbench::runWithRatios(
      argc, argv,
      {{"BM_TraceRejectedByFilter", "BM_LocalTimeRead", "time of a rejected trace per local-time read; goal <= 2", false},
       {"BM_TraceWrittenAtLevel2", "BM_RawLog4cxxFileAppender", "lines per second against raw log4cxx; goal >= 0.7", true}});
  std::error_code ec;
  std::filesystem::remove_all(gFolder, ec);
  return rc;
}
