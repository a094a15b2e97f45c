// The tools as a user runs them from a shell, for the tool tests: a scratch
// folder per test, and a command's exit status with what it wrote.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
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

// A program and its arguments as one command line.
inline std::string commandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line = quoted(program);
  for (const auto& a : args) line += " " + quoted(a);
  return line;
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
