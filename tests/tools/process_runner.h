// The tools as a user runs them from a shell, for the tool tests: a scratch
// folder per test, a command's exit status with what it wrote, and programs
// left running in processes of their own.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace quiltest {

struct Outcome {
  int status = -1;  // the exit status; -1 when killed by a signal
  std::string out;
  std::string err;
};

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// One word for sh, whatever it holds.
inline std::string quoted(const std::string& word) {
  std::string out = "'";
  for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Bytes that differ from seed to seed, for the files the tests write.
inline std::string pattern(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(seed = seed * 1664525u + 1013904223u, seed >> 24);
  return bytes;
}

// A program and its arguments as one command line.
inline std::string commandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line = quoted(program);
  for (const auto& a : args) line += " " + quoted(a);
  return line;
}

// Whether `condition` holds within `limit`, asked every 10 ms.
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  for (const auto end = std::chrono::steady_clock::now() + limit; !condition();) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Starts a command line of sh in a process of its own (the pid stays the
// program's), standard output and error going to `log`; with `feed`, its
// standard input is a pipe whose write end that gets.
inline pid_t start(const std::string& command, const std::filesystem::path& log, int* feed = nullptr) {
  int input[2] = {-1, -1};
  if (feed != nullptr && ::pipe2(input, O_CLOEXEC) != 0) return -1;
  const std::string line = "exec " + command + " >" + quoted(log.string()) + " 2>&1";
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (feed != nullptr) ::dup2(input[0], 0);
    ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (feed != nullptr) {
    ::close(input[0]);
    *feed = input[1];
  }
  return pid;
}

// Waits up to `limit` for a started process to end: its exit status (-1
// when a signal ended it, or when it was already reaped), or -2 while it
// runs on. Once reaped, `pid` is set to -1.
inline int exitStatus(pid_t& pid, std::chrono::milliseconds limit) {
  int raw = 0;
  if (pid <= 0) return -1;
  if (!eventually([&] { return ::waitpid(pid, &raw, WNOHANG) == pid; }, limit)) return -2;
  pid = -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// A fresh folder for the running test, below $QUIL_TEST_TMP (else /tmp),
// named after the test and the process; removed with the object.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix) {
    const char* tmp = std::getenv("QUIL_TEST_TMP");
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::path(tmp != nullptr ? tmp : "/tmp") /
            (prefix + "-" + std::to_string(getpid()) + "-" + (test != nullptr ? test->name() : "setup"));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::filesystem::path operator/(const std::string& name) const { return root_ / name; }

  // Runs a shell command line; its standard output and error pass through
  // files in the folder.
  Outcome run(const std::string& command) const {
    const std::string out = (root_ / ".out").string(), err = (root_ / ".err").string();
    const int raw = std::system((command + " >" + quoted(out) + " 2>" + quoted(err)).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
  }

 private:
  std::filesystem::path root_;
};

}  // namespace quiltest
