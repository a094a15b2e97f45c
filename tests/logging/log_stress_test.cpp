// A process killed while it holds the rotation mutex does not stop the
// others. (Lines of many processes and threads at once: log_load_test.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "logging/log_file_manager.h"
#include "logging/test_log_folder.h"
#include "platform/interprocess_mutex.h"

namespace {

using quiltest::TestLogFolder;

TEST(LogStress, KilledHolderOfTheRotationMutexDoesNotBlockOthers) {
  TestLogFolder folder;
  folder.writeSettings("");
  const auto options = folder.options();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    quil::platform::NamedInterprocessMutex m(options.segmentName, 4096, options.mutexName);
    m.lock();
    (void)!write(ready[1], "x", 1);
    pause();  // killed while holding the lock
    _exit(0);
  }
  ASSERT_GT(child, 0);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);

  // Starting needs the mutex (removal of old files), and so does the first
  // line (the first file switch). A hang here fails through the alarm.
  alarm(60);
  auto m = QUILLogger::LogFileManagerSVC::start(options);
  m->writeLine(quiltest::timeAt(2026, 12, 6), u"after the holder died");
  alarm(0);
  EXPECT_EQ(folder.lines("QUILSVC_20261206.log").back(), "after the holder died");
}

}  // namespace
