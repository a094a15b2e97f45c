// Several processes logging into one folder with a small size limit: every
// line lands exactly once, every file starts with exactly one header and no
// file has index 1. Also: a process killed while it holds the rotation mutex
// does not stop the others.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <thread>

#include "logging/log_file_manager.h"
#include "logging/test_log_folder.h"
#include "platform/interprocess_mutex.h"

namespace {

using quiltest::TestLogFolder;

constexpr int kProcesses = 4;
constexpr int kLinesEach = 400;

TEST(LogStress, ConcurrentProcessesLoseNoLineAndDuplicateNoHeader) {
  TestLogFolder folder;
  folder.writeSettings("\"MaxLogFileSize\"=dword:00000800\n\"MaxLogFileNum\"=dword:000003E8\n");  // 2 KiB, 1000 files
  const auto t = quiltest::timeAt(2026, 12, 6);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto m = QUILLogger::LogFileManagerSVC::start(folder.options());
      for (int i = 0; i < kLinesEach; ++i) {
        const std::string text = "process " + std::to_string(p) + " line " + std::to_string(i);
        m->writeLine(t, std::u16string(text.begin(), text.end()));
      }
      m->detachAppenders();
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::map<std::string, int> seen;
  const auto files = folder.fileNames();
  ASSERT_GT(files.size(), 3u) << "the size limit should have forced several files";
  for (const auto& f : files) {
    EXPECT_EQ(f.find("_1.log"), std::string::npos) << f;
    const auto lines = folder.lines(f);
    ASSERT_FALSE(lines.empty()) << f;
    EXPECT_EQ(lines[0].rfind("#Date=2026/12/06, Source=QUILSVC", 0), 0u) << f;
    for (size_t i = 1; i < lines.size(); ++i) {
      EXPECT_NE(lines[i].rfind("#Date=", 0), 0u) << f << " has a second header at line " << i;
      ++seen[lines[i]];
    }
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kProcesses * kLinesEach));
  for (const auto& [text, count] : seen) EXPECT_EQ(count, 1) << text;
}

TEST(LogStress, ConcurrentThreadsSwitchOnceAndLoseNoLine) {
  TestLogFolder folder;
  folder.writeSettings("\"MaxLogFileSize\"=dword:00000400\n\"MaxLogFileNum\"=dword:000003E8\n");  // 1 KiB
  auto m = QUILLogger::LogFileManagerSVC::start(folder.options());
  const auto t = quiltest::timeAt(2026, 12, 6);
  std::vector<std::thread> threads;
  for (int p = 0; p < 4; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 0; i < 300; ++i) {
        const std::string text = "thread " + std::to_string(p) + " line " + std::to_string(i);
        m->writeLine(t, std::u16string(text.begin(), text.end()));
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::string> seen;
  size_t total = 0;
  for (const auto& f : folder.fileNames()) {
    const auto lines = folder.lines(f);
    EXPECT_EQ(lines.at(0).rfind("#Date=", 0), 0u) << f;
    for (size_t i = 1; i < lines.size(); ++i) {
      EXPECT_NE(lines[i].rfind("#Date=", 0), 0u) << f;
      seen.insert(lines[i]);
      ++total;
    }
  }
  EXPECT_EQ(total, 1200u);
  EXPECT_EQ(seen.size(), 1200u);
}

TEST(LogStress, KilledHolderOfTheRotationMutexDoesNotBlockOthers) {
  TestLogFolder folder;
  folder.writeSettings("");
  const auto options = folder.options();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    quil::platform::NamedInterprocessMutex m(options.segmentName, 4096, options.mutexName);
    m.lock();
    char c = 'x';
    (void)!write(ready[1], &c, 1);
    pause();  // killed while holding the lock
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
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
