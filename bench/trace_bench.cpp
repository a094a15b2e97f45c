// What a trace call costs: rejected by the filter against a bare read of the
// local time, and written at LogLevel 2 against log4cxx's own file appender
// writing the same finished lines; then written by four threads of one
// process and by two processes at once, against one thread.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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
constexpr const char* kChildFlag = "--trace-writer-child";

// What the system's local-time read costs by itself: the clock and the
// conversion to the zone, as the Windows local-time call does.
void BM_LocalTimeRead(benchmark::State& state) {
  for (auto _ : state) {
    timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts {};
    localtime_r(&ts.tv_sec, &parts);
    benchmark::DoNotOptimize(parts);
  }
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

void writeOneLine(int32_t& handle) {
  QUILLogger::writeTrace(1, 2, 0, u"project/QUILCoreAPI/VolumeHandle", u"VolumeHandle::readFile", __LINE__,
                         u"QUIL_ReadFile(%ld, %p, %lu, %p)\n", handle, static_cast<void*>(&handle), 65536u,
                         static_cast<void*>(&handle));
}

void BM_TraceWrittenAtLevel2(benchmark::State& state) {
  int32_t handle = 7;
  for (auto _ : state) writeOneLine(handle);
  state.SetItemsProcessed(state.iterations());
  state.counters["lines_per_second"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                          benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TraceWrittenAtLevel2)->Threads(1)->Threads(4)->UseRealTime();

// A second process (this program again, started fresh so that it has a
// manager of its own) writes lines for as long as this one does.
void BM_TraceWrittenTwoProcesses(benchmark::State& state) {
  int stop[2], result[2];
  if (pipe(stop) != 0 || pipe(result) != 0) {
    state.SkipWithError("no pipe");
    return;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(stop[1]);
    close(result[0]);
    const std::string fds = std::to_string(stop[0]) + "," + std::to_string(result[1]);
    execl("/proc/self/exe", "trace_bench", kChildFlag, fds.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(stop[0]);
  close(result[1]);
  char ready = 0;
  if (child < 0 || read(result[0], &ready, 1) != 1) {
    state.SkipWithError("the second process did not start");
    return;
  }
  int32_t handle = 7;
  const auto began = std::chrono::steady_clock::now();
  for (auto _ : state) writeOneLine(handle);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  close(stop[1]);  // tells the other process to finish
  double childRate = 0;
  if (read(result[0], &childRate, sizeof childRate) != sizeof childRate) childRate = 0;
  close(result[0]);
  waitpid(child, nullptr, 0);
  state.SetItemsProcessed(state.iterations());
  state.counters["lines_per_second"] = static_cast<double>(state.iterations()) / seconds + childRate;
  state.counters["second_process_lines_per_second"] = childRate;
}
BENCHMARK(BM_TraceWrittenTwoProcesses)->UseRealTime();

int runWriterChild(const char* fds) {
  int stopFd = -1, resultFd = -1;
  if (std::sscanf(fds, "%d,%d", &stopFd, &resultFd) != 2) return 2;
  fcntl(stopFd, F_SETFL, O_NONBLOCK);
  int32_t handle = 7;
  writeOneLine(handle);  // the manager is up before the other side starts counting
  const char ready = 'R';
  if (write(resultFd, &ready, 1) != 1) return 1;
  uint64_t lines = 0;
  const auto began = std::chrono::steady_clock::now();
  for (;;) {
    for (int i = 0; i < 256; ++i) writeOneLine(handle);
    lines += 256;
    char c;
    if (read(stopFd, &c, 1) == 0) break;  // the other side closed: done
  }
  const double rate =
      static_cast<double>(lines) / std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return write(resultFd, &rate, sizeof rate) == sizeof rate ? 0 : 1;
}

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
  if (argc == 3 && std::strcmp(argv[1], kChildFlag) == 0) return runWriterChild(argv[2]);
  gFolder = std::filesystem::temp_directory_path().string() + "/quil-trace-bench-" + std::to_string(getpid());
  // LogLevel 1 rejects debug lines (the first figure) and writes information
  // lines (the others).
  quilbench::useTemporarySettings(1, gFolder);
  const int rc = quilbench::runWithRatios(
      argc, argv,
      {{"BM_TraceRejectedByFilter", "BM_LocalTimeRead", "time of a rejected trace per local-time read; goal <= 0.05",
        false},
       {"BM_TraceWrittenAtLevel2/real_time/threads:1", "BM_RawLog4cxxFileAppender",
        "lines per second against raw log4cxx; goal >= 0.8", true},
       {"BM_TraceWrittenAtLevel2/real_time/threads:4", "BM_TraceWrittenAtLevel2/real_time/threads:1",
        "lines per second, four threads against one", true},
       {"BM_TraceWrittenTwoProcesses/real_time", "BM_TraceWrittenAtLevel2/real_time/threads:1",
        "lines per second, two processes against one thread", true}});
  std::error_code ec;
  std::filesystem::remove_all(gFolder, ec);
  return rc;
}
