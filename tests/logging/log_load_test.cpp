// Four processes of four threads each logging as fast as they can into one
// folder with a small size limit, while files are removed from outside and
// one process is killed: no line torn or interleaved, none lost outside the removed files
// (whose content is kept through a descriptor held across the removal),
// every file begun with its header, and the killed process's lock
// recovered by the others.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "logging/log_file_manager.h"
#include "logging/test_log_folder.h"

namespace {

using quiltest::TestLogFolder;

constexpr int kProcesses = 4;
constexpr int kThreads = 4;
constexpr int kWriters = kProcesses * kThreads;  // writer w is thread w % kThreads of process w / kThreads
constexpr int kVictim = kProcesses - 1;
constexpr int kLinesEach = 5000;

std::string payload(int writer, int line) {
  std::string text = "P" + std::to_string(writer) + " L" + std::to_string(line) + " ";
  for (int k = 0; k < 40; ++k) text.push_back(static_cast<char>('a' + (writer * 7 + line + k) % 26));
  return text;
}

std::string readAll(int fd) {
  std::string out;
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n <= 0) return out;
    out.append(buffer, static_cast<size_t>(n));
    at += n;
  }
}

TEST(LogLoad, ProcessesAndThreadsWithRemovalAndAKilledWriter) {
  TestLogFolder folder;
  // 16 KiB files; enough of them that only the outside remover deletes any.
  folder.writeSettings("\"MaxLogFileSize\"=dword:00004000\n\"MaxLogFileNum\"=dword:00002710\n");
  const auto t = quiltest::timeAt(2026, 12, 6);
  const auto started = std::chrono::steady_clock::now();
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      alarm(120);  // a lock never recovered shows as a hang
      auto m = QUILLogger::LogFileManagerSVC::start(folder.options());
      std::vector<std::thread> threads;
      for (int k = 0; k < kThreads; ++k) {
        threads.emplace_back([&, writer = p * kThreads + k] {
          for (int i = 0; i < kLinesEach; ++i) {
            const std::string text = payload(writer, i);
            m->writeLine(t, std::u16string(text.begin(), text.end()));
          }
        });
      }
      for (auto& th : threads) th.join();
      m->detachAppenders();
      _exit(0);
    }
    children.push_back(pid);
  }

  // The remover: takes files away while the processes write, keeping a
  // descriptor so that what was in them (and what still lands in them before
  // the writers notice) is counted.
  std::atomic<bool> done{false};
  std::vector<std::pair<std::string, int>> held;  // name, descriptor
  std::thread remover([&] {
    unsigned pick = 1;
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const auto names = folder.fileNames();
      if (names.empty()) continue;
      pick = pick * 1103515245u + 12345u;
      const std::string name = names[(pick >> 16) % names.size()];
      const std::string path = folder.dir() + "/" + name;
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0 && ::unlink(path.c_str()) == 0) {
        held.emplace_back(name, fd);
      } else if (fd >= 0) {
        ::close(fd);
      }
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // well before the others finish
  ASSERT_EQ(kill(children[kVictim], SIGKILL), 0);

  for (int p = 0; p < kProcesses; ++p) {
    int status = 0;
    ASSERT_EQ(waitpid(children[p], &status, 0), children[p]);
    if (p == kVictim) continue;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "process " << p << " ended with status " << status;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  done = true;
  remover.join();

  // The files left join the removed ones, read the same way.
  const size_t removed = held.size();
  for (const auto& name : folder.fileNames()) {
    held.emplace_back(name, ::open((folder.dir() + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
  }

  // Every file is one the manager names: never index 1, and it begins with
  // its header, the only one in it. (A name may come back once its file was
  // removed from outside: the next file is chosen from what the folder
  // holds.) Every other line is one a writer wrote, whole, at most once.
  std::set<std::pair<int, int>> seen;
  std::vector<int> found(kWriters, 0), top(kWriters, -1);  // per writer: lines found, the highest of them
  for (const auto& [name, fd] : held) {
    ASSERT_GE(fd, 0) << name;
    const std::string bytes = readAll(fd);
    ::close(fd);
    EXPECT_EQ(name.find("_1.log"), std::string::npos) << name;
    if (!bytes.empty()) {
      EXPECT_EQ(bytes.rfind("#Date=2026/12/06, Source=QUILSVC", 0), 0u) << name << ": " << bytes.substr(0, 300);
    }
    std::istringstream in(bytes);
    size_t i = 0;
    for (std::string line; std::getline(in, line); ++i) {
      if (line.rfind("#Date=", 0) == 0) {
        EXPECT_EQ(i, 0u) << name << ": a header inside the file";
        continue;
      }
      int p = -1, n = -1;
      if (std::sscanf(line.c_str(), "P%d L%d ", &p, &n) != 2 || p < 0 || p >= kWriters || n < 0 ||
          n >= kLinesEach || line != payload(p, n)) {
        ADD_FAILURE() << name << ": torn or interleaved line: " << line;
      } else if (!seen.insert({p, n}).second) {
        ADD_FAILURE() << line << ": written twice";
      } else {
        ++found[p];
        top[p] = std::max(top[p], n);
      }
    }
  }
  // No line lost but in the killed process, where each thread's lines found
  // are a whole prefix of what it wrote.
  int lost = 0;
  for (int w = 0; w < kWriters; ++w) {
    const int written = w / kThreads == kVictim ? top[w] + 1 : kLinesEach;
    EXPECT_EQ(found[w], written) << "lines of P" << w << " lost";
    lost += written - found[w];
  }
  EXPECT_GT(removed, 0u) << "the remover took nothing away";
  std::printf("log load: %zu lines in %.2f s (%.0f lines/s), %zu files removed from outside, %d lines lost\n",
              seen.size(), seconds, static_cast<double>(seen.size()) / seconds, removed, lost);
}

}  // namespace
