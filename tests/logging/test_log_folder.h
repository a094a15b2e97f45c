// A throw-away log folder with its own registry file and manager options, so
// that each test sees only the files it made.
#pragma once

#include <string>
#include <vector>

#include "logging/log_file_manager.h"
#include "platform/local_time.h"

namespace quiltest {

class TestLogFolder {
 public:
  TestLogFolder();
  ~TestLogFolder();
  TestLogFolder(const TestLogFolder&) = delete;
  TestLogFolder& operator=(const TestLogFolder&) = delete;

  // The folder the logs go to (no trailing slash).
  const std::string& dir() const { return dir_; }

  // Writes the registry: the given value lines under the settings key, plus
  // LogFolder pointing at dir() unless the lines name one themselves.
  void writeSettings(const std::string& valueLines, bool addFolder = true);
  void writeRegistryText(const std::string& text);

  // Options with a logger and a shared segment of this test's own.
  QUILLogger::StartupOptions options() const;

  std::vector<std::string> fileNames() const;  // sorted
  std::vector<std::string> lines(const std::string& name) const;
  void touch(const std::string& name, size_t bytes) const;

 private:
  std::string dir_;
  std::string base_;
  std::string registryPath_;
  std::string segment_;
  int serial_;
};

// A fixed local time for tests.
quil::platform::LocalTime timeAt(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 12,
                                 uint16_t minute = 0, uint16_t second = 0, uint32_t micro = 0);

// "yyyymmdd" of a time, as the log file names carry it.
std::string dateKey(const quil::platform::LocalTime& t);

}  // namespace quiltest
