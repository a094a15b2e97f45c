// A process killed at any point of a session loses nothing that was closed.
// A scripted session runs in a child process that kills itself with SIGKILL
// as its N-th sibling call begins (every call in turn, a CI-sized share of
// them unless QUIL_KILL_SWEEP_ALL is set), or is killed from outside at a
// random moment of a long recording. After each kill a new process opens
// the volume and checks: every file closed before the kill reads back byte
// for byte, the file open at the kill is absent or a prefix of what was
// written, the disc's own files are whole, a new recording works, and the
// space account agrees with the host folder.
//
// The test process never loads a volume itself: every library call happens
// in a child forked while the test process has one thread.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "disc.h"
#include "quil/emulator_control.h"
#include "quil/quilcoreapi.h"

namespace {

namespace fs = std::filesystem;
constexpr uint32_t kRead = 0x80000000u, kWrite = 0x40000000u;
constexpr uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3;

std::string pattern(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(seed = seed * 1664525u + 1013904223u, seed >> 24);
  return bytes;
}

std::string utf8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// The child's report to the test, one line per step, written at once.
void tell(int fd, std::string line) {
  line += '\n';
  (void)!::write(fd, line.data(), line.size());
}

// Writes a file in 64 KiB pieces and closes it, telling the test first what
// is being written and then that it was closed.
void writeFile(int report, const std::u16string& path, uint32_t disposition, size_t size, uint32_t seed) {
  tell(report, "W " + utf8(path) + " " + std::to_string(seed) + " " + std::to_string(size));
  const int32_t h = QUILAPI_CreateFile(0, path.c_str(), kWrite, 0, nullptr, disposition, 0, nullptr);
  if (h == -1) return;
  const std::string bytes = pattern(size, seed);
  for (size_t at = 0; at < size; at += 65536) {
    uint32_t written = 0;
    const auto n = static_cast<uint32_t>(std::min<size_t>(65536, size - at));
    if (QUILAPI_WriteFile(h, bytes.data() + at, n, &written) == 0 || written < n) break;
  }
  if (QUILAPI_CloseHandle(h) != 0) tell(report, "C " + utf8(path));
}

// The session every run plays; the process may die anywhere in it.
void session(int report, size_t clipSize) {
  const _Volume_Param p{};
  if (QUILAPI_CreateVolume(u"E:", &p) != 0) return;
  writeFile(report, u"\\CLIP\\C0001.MXF", kCreateNew, clipSize, 1);
  writeFile(report, u"\\USERDATA\\keep.txt", kCreateAlways, 70000, 2);
  writeFile(report, u"\\USERDATA\\gone.txt", kCreateAlways, 100, 3);
  if (QUILAPI_MoveFile(0, u"\\USERDATA\\keep.txt", u"\\USERDATA\\kept.txt") != 0) {
    tell(report, "R \\USERDATA\\keep.txt \\USERDATA\\kept.txt");
  }
  writeFile(report, u"\\GENERAL\\g.bin", kCreateAlways, 5000, 4);
  QUILAPI_SetVolumeLabel(0, u"KILLED", 6);
  QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0001.MXF", 0x1);
  if (QUILAPI_DeleteFile(0, u"\\USERDATA\\gone.txt") != 0) tell(report, "D \\USERDATA\\gone.txt");
  QUILAPI_CloseVolume(0);
}

// An XML file of the disc is whole: its declaration, and its root element
// closed at the end.
bool wholeXml(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  if (text.rfind("<?xml", 0) != 0) return false;
  const size_t open = text.find('<', text.find("?>"));
  const size_t nameEnd = text.find_first_of(" >/", open + 1);
  if (open == std::string::npos || nameEnd == std::string::npos) return false;
  const std::string close = "</" + text.substr(open + 1, nameEnd - open - 1) + ">";
  const size_t last = text.find_last_not_of(" \r\n\t");
  return last != std::string::npos && text.compare(last + 1 - close.size(), close.size(), close) == 0;
}

// Path -> seed and size of the files closed, and of the one written at the kill.
struct Expected { std::map<std::string, std::pair<uint32_t, size_t>> closed, open; };

Expected expectedFrom(const std::string& report) {
  Expected e;
  std::istringstream lines(report);
  for (std::string kind, a, b; lines >> kind >> a;) {
    if (kind == "W") {
      lines >> e.open[a].first >> e.open[a].second;
    } else if (kind == "C") {
      e.closed[a] = e.open[a];
      e.open.erase(a);
    } else if (kind == "R" && lines >> b) {
      e.closed[b] = e.closed[a];
      e.closed.erase(a);
    } else if (kind == "D") {
      e.closed.erase(a);
    }
  }
  return e;
}

// The checks of the process that comes after the kill; what is wrong, one
// line each (empty when all is well).
std::string check(const fs::path& disc, const Expected& e) {
  std::ostringstream problems;
  const _Volume_Param p{};
  if (QUILAPI_CreateVolume(u"E:", &p) != 0) return "the volume does not open: " + std::to_string(QUILAPI_GetLastError());
  for (const bool closed : {true, false}) {
    for (const auto& [path, what] : closed ? e.closed : e.open) {
      const std::u16string name(path.begin(), path.end());
      const int32_t h = QUILAPI_CreateFile(0, name.c_str(), kRead, 1, nullptr, kOpenExisting, 0, nullptr);
      const bool opened = h != -1;
      std::string back;
      char buffer[65536];
      uint32_t read = 0;
      while (opened && QUILAPI_ReadFile(h, buffer, sizeof buffer, &read) != 0 && read != 0) back.append(buffer, read);
      if (opened) QUILAPI_CloseHandle(h);
      const std::string written = pattern(what.second, what.first);
      if (closed && back != written) problems << path << " closed but reads back " << back.size() << " bytes, not its own\n";
      if (!closed && opened && written.compare(0, back.size(), back) != 0) {
        problems << path << " open at the kill holds other bytes than a prefix\n";
      }
    }
  }
  // The clip's metadata file is there only once the recording was closed.
  for (const std::string xml : {"INDEX.XML", "DISCMETA.XML", "ALIAS.XML", "CLIP/C0001M01.XML"}) {
    if (fs::exists(disc / xml) ? !wholeXml(disc / xml) : !xml.starts_with("CLIP/")) problems << xml << " is torn\n";
  }
  const auto medium = quil::emulator::MediumDescription::load(disc.string());
  if (!medium || (medium->label != u"" && medium->label != u"KILLED")) problems << "the medium file is torn\n";
  const std::string next = pattern(3000, 9);
  const int32_t h = QUILAPI_CreateFile(0, u"\\CLIP\\C0002.MXF", kWrite, 0, nullptr, kCreateNew, 0, nullptr);
  uint32_t written = 0;
  if (h == -1 || QUILAPI_WriteFile(h, next.data(), 3000, &written) == 0 || QUILAPI_CloseHandle(h) == 0) {
    problems << "the next recording fails: " << QUILAPI_GetLastError() << "\n";
  }
  uint64_t total = 0, free = 0;
  QUILAPI_GetVolumeCapacity(0, &total, &free);
  const uint64_t onHost = quil::emulator::usedBytes(disc.string());
  if (total - free != onHost) problems << "the space account says " << total - free << " used, the host " << onHost << "\n";
  if (QUILAPI_CloseVolume(0) == 0) problems << "the volume does not close\n";
  return problems.str();
}

// Runs `body` in a child with the report pipe's write end; the child's exit
// status (-signal when killed) and everything it reported.
template <class Body>
std::pair<int, std::string> inChild(Body&& body, std::chrono::milliseconds killAfter = std::chrono::milliseconds(0)) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {-1, ""};
  std::fflush(nullptr);  // nothing buffered before the fork is written twice
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    ::alarm(60);  // a hang ends the child instead of the test
    body(pipeFds[1]);
    std::exit(0);  // as a program ends: the library leaves the disc's shared segment
  }
  ::close(pipeFds[1]);
  if (killAfter.count() > 0) {
    std::this_thread::sleep_for(killAfter);
    ::kill(child, SIGKILL);
  }
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int raw = 0;
  ::waitpid(child, &raw, 0);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw), report};
}

class KillSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("QUIL_TEST_TMP");
    base_ = fs::path(tmp != nullptr ? tmp : "/tmp") / ("kill-sweep-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_ / "drives");
    fs::create_directory_symlink(base_ / "disc", base_ / "drives" / "e:");
    ::setenv("QUIL_DRIVES", (base_ / "drives").c_str(), 1);
    ::setenv("QUIL_PIPE_DIR", base_.c_str(), 1);
    ::unsetenv("QUIL_ACTIVE_SESSION");
  }
  void TearDown() override { std::error_code ec; fs::remove_all(base_, ec); }
  fs::path disc() const { return base_ / "disc"; }
  void freshDisc() {
    fs::remove_all(disc());
    // Smaller than the host's free space, which would otherwise bound the
    // free space the disc reports.
    quil::emulator::MediumDescription medium;
    medium.capacity = uint64_t{1} << 30;
    ASSERT_EQ(quil::emulator::formatDisc(disc().string(), medium), "");
  }
  // One kill and the checks after it; what went wrong, empty when nothing.
  std::string killedRun(uint64_t call, std::chrono::milliseconds after, size_t clipSize) {
    freshDisc();
    const auto [status, report] = inChild([&](int fd) {
      if (call != 0) quil::emulator::dieAtCallNumber(call);
      session(fd, clipSize);
    }, after);
    if (call != 0 && status != -SIGKILL) return "the session was not killed (status " + std::to_string(status) + ")";
    const Expected expected = expectedFrom(report);
    const auto [checked, problems] = inChild([&](int fd) {
      const std::string found = check(disc(), expected);
      (void)!::write(fd, found.data(), found.size());
      std::exit(found.empty() ? 0 : 1);
    });
    return checked == 0 ? "" : problems.empty() ? "the checking process ended with " + std::to_string(checked) : problems;
  }
  fs::path base_;
};

TEST_F(KillSweep, EveryCallOfASessionAndRandomMomentsOfARecording) {
  freshDisc();
  const auto [status, counted] = inChild([&](int fd) {
    quil::emulator::recordCalls(true);
    session(fd, 200000);
    tell(fd, "N " + std::to_string(quil::emulator::takeCalls().size()));
  });
  ASSERT_EQ(status, 0);
  const size_t at = counted.rfind("N ");
  ASSERT_NE(at, std::string::npos) << counted;
  const uint64_t calls = std::stoull(counted.substr(at + 2));
  ASSERT_GT(calls, 20u);
  ASSERT_EQ(expectedFrom(counted).closed.size(), 3u) << "the clean session keeps the clip, kept.txt and g.bin";

  // Every call when asked, in CI every third (which still meets each step);
  // then from outside, at random moments of a long recording.
  const uint64_t step = std::getenv("QUIL_KILL_SWEEP_ALL") != nullptr ? 1 : 3;
  std::vector<std::pair<uint64_t, std::chrono::milliseconds>> points;
  for (uint64_t call = 1; call <= calls; call += step) points.emplace_back(call, 0);
  std::mt19937 random(12345);
  for (int i = 0; i < 3; ++i) points.emplace_back(0, 20 + random() % 300);
  size_t survived = 0;
  for (const auto& [call, after] : points) {
    const std::string problems = killedRun(call, after, call != 0 ? 200000 : 256u << 20);
    EXPECT_EQ(problems, "") << "killed at call " << call << " of " << calls << ", or after " << after.count() << " ms";
    survived += problems.empty();
  }
  std::printf("kill sweep: %zu of %zu kill points survived (%llu sibling calls)\n", survived, points.size(),
              static_cast<unsigned long long>(calls));
}

}  // namespace
