#include "support/process_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>

namespace quiltest {

namespace {

namespace fs = std::filesystem;

fs::path gRoot;
fs::path gLogFolder;

class ProcessLogEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    const char* tmp = std::getenv("QUIL_TEST_TMP");
    const fs::path base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    fs::create_directories(base);
    std::string dir = (base / "process_log_XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    gRoot = dir;
    gLogFolder = gRoot / "log";
    const fs::path registry = gRoot / "registry.reg";
    std::ofstream(registry) << "Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\r\n"
                               "\"LogLevel\"=dword:00000002\r\n"
                               "\"LogFolder\"=\""
                            << gLogFolder.string() << "\"\r\n";
    ASSERT_EQ(::setenv("QUIL_REGISTRY", registry.c_str(), 1), 0);
  }
  void TearDown() override {
    // A failed run keeps its log for the post-mortem.
    if (testing::UnitTest::GetInstance()->Passed()) fs::remove_all(gRoot);
  }
};

[[maybe_unused]] testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new ProcessLogEnvironment);

}  // namespace

const fs::path& processLogFolder() { return gLogFolder; }

std::vector<std::string> processLogLines() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(gLogFolder, ec)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<std::string> lines;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

}  // namespace quiltest
